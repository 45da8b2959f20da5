#include "ui/frmMain.h"

#include "core/Twips.h"
#include "ui/Announcement.h"
#include "ui/Artwork.h"
#include "ui/SecurityBadge.h"
#include "ui/IndicatorButton.h"
#include "ui/ToolbarButton.h"
#include "ui/VideoView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace {

const char *const ButtonCaptions[frmMain::ButtonCount] = {QT_TRANSLATE_NOOP("frmMain", "Call"),
                                                         QT_TRANSLATE_NOOP("frmMain", "Directory"),
                                                         QT_TRANSLATE_NOOP("frmMain", "SelfView"),
                                                         QT_TRANSLATE_NOOP("frmMain", "Chat"),
                                                         QT_TRANSLATE_NOOP("frmMain", "Talk")};
const char *const ButtonTips[frmMain::ButtonCount] = {QT_TRANSLATE_NOOP("frmMain", "Connection"),
                                                     QT_TRANSLATE_NOOP("frmMain", "Display User Directory"),
                                                     QT_TRANSLATE_NOOP("frmMain", "Toggle SelfView"),
                                                     QT_TRANSLATE_NOOP("frmMain", "Text Chat"),
                                                     QT_TRANSLATE_NOOP("frmMain", "Push to Talk")};

QLabel *pictureLabel(QWidget *parent, const QString &name, const QPixmap &pixmap, const QString &tip = {})
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(pixmap);
    label->setToolTip(tip);
    label->setAccessibleName(tip);
    return label;
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ZELMO"));
    setWindowIcon(Artwork::appIcon());


    buildMenus();

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralArea"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(3, 2, 3, 3);
    layout->setSpacing(3);
    buildToolbar(central);
    buildIndicators(central);
    buildVideo(central);
    setCentralWidget(central);
    // A new colour scheme reaches the window's contents even while it is hidden.
    central->installEventFilter(this);
    // Keyboard order: the toolbar left to right, then the lamps that act.
    QWidget *previous = m_buttons[0];
    for (QWidget *next : {static_cast<QWidget *>(m_buttons[1]), static_cast<QWidget *>(m_buttons[2]),
                          static_cast<QWidget *>(m_buttons[3]), static_cast<QWidget *>(m_buttons[4]),
                          static_cast<QWidget *>(m_conLed), static_cast<QWidget *>(m_dnd),
                          static_cast<QWidget *>(m_msgIn)}) {
        setTabOrder(previous, next);
        previous = next;
    }
    // The window opens with the keyboard on the picture: a stray Space or Enter must not
    // press the first toolbar button, which hangs up during a call.
    m_videoArea->setFocusPolicy(Qt::ClickFocus);
    m_videoArea->setFocus();
    applyDisplaySize(320, 240);
}

void frmMain::buildMenus()
{
    auto addItem = [](QMenu *menu, const char *name, const QString &caption,
                          const QKeySequence &shortcut = {}) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(shortcut);
        return a;
    };

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("Menu_File"));
    addItem(file, "Menu_FileCall", tr("&Call"), QKeySequence(Qt::CTRL | Qt::Key_C));
    QAction *hangup = addItem(file, "Menu_FileHangup", tr("&Hangup"), QKeySequence(Qt::CTRL | Qt::Key_H));
    hangup->setEnabled(false);
    connect(hangup, &QAction::triggered, this, &frmMain::hangupRequested);
    file->addSeparator();
    QAction *dnd = addItem(file, "menu_DoNotDisturb", tr("&Do Not Disturb"), QKeySequence(Qt::CTRL | Qt::Key_N));
    dnd->setCheckable(true);
    // The program flips the check mark, so clicks are reported rather than toggling here.
    connect(dnd, &QAction::triggered, this, [this, dnd](bool) {
        dnd->setChecked(!dnd->isChecked());
        emit doNotDisturbToggled();
    });
    file->addSeparator();
    addItem(file, "Menu_Quit", tr("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu *view = menuBar()->addMenu(tr("&View"));
    view->setObjectName(QStringLiteral("Menu_View"));
    // The check marks follow the windows, which the program shows and hides.
    for (auto [name, caption, key] : {std::tuple{"Menu_ViewSelf", tr("&Self"), Qt::Key_S},
                                      std::tuple{"Menu_ViewChat", tr("&Text Chat"), Qt::Key_T}}) {
        QAction *toggle = addItem(view, name, caption, QKeySequence(Qt::CTRL | key));
        toggle->setCheckable(true);
        connect(toggle, &QAction::triggered, this, [toggle](bool) { toggle->setChecked(!toggle->isChecked()); });
    }
    // Shown in a call only; the shell names it after what a press does now.
    QAction *share = addItem(view, "Menu_ViewShare", tr("Sha&re Screen..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    share->setEnabled(false);
    m_zoomMenu = view->addMenu(tr("&Zoom"));
    m_zoomMenu->setObjectName(QStringLiteral("Menu_ViewZoom"));
    view->addSeparator();
    addItem(view, "Menu_ViewLog", tr("&Log"));
    addItem(view, "Menu_ViewRates", tr("&Data Rates"), QKeySequence(Qt::CTRL | Qt::Key_D));
    view->addSeparator();
    addItem(view, "Menu_ViewOptions", tr("&Options..."));

    connect(addItem(m_zoomMenu, "Menu_ViewZoomNorm", tr("&Small (160x120)")), &QAction::triggered, this,
            [this] { emit zoomRequested(Zoom::Small); });
    QAction *portrait = addItem(m_zoomMenu, "Menu_ZoomPort", tr("&Portrait (160x240)"));
    portrait->setVisible(false);
    connect(portrait, &QAction::triggered, this, [this] { emit zoomRequested(Zoom::Portrait); });
    connect(addItem(m_zoomMenu, "Menu_ViewZoomLarge", tr("&Normal (320x240)")), &QAction::triggered, this,
            [this] { emit zoomRequested(Zoom::Normal); });
    QAction *veryLarge = addItem(m_zoomMenu, "Menu_ZoomVeryLarge", tr("&Very Large (400%)"));
    veryLarge->setVisible(false);
    veryLarge->setEnabled(false);
    connect(veryLarge, &QAction::triggered, this, [this] { emit zoomRequested(Zoom::VeryLarge); });

    QMenu *tools = menuBar()->addMenu(tr("&Tools"));
    tools->setObjectName(QStringLiteral("Menu_Tool"));
    tools->menuAction()->setVisible(false);
    addItem(tools, "Menu_ToolFileTransfer", tr("&File Transfer"));
    QAction *capture = addItem(tools, "Menu_ToolImageCapture", tr("&Image Capture"));
    capture->setVisible(false);
    capture->setEnabled(false);
    addItem(tools, "Menu_ToolRemoteControl", tr("&Remote Control"));

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("Menu_Help"));
    addItem(help, "Menu_HelpContents", tr("&Contents"), QKeySequence(Qt::Key_F1));
    addItem(help, "Menu_HelpSearch", tr("&Help Topics"));
    help->addSeparator();
    addItem(help, "Menu_HelpAbout", tr("&About..."));
}

void frmMain::buildToolbar(QWidget *parent)
{
    m_toolbar = new QFrame(parent);
    m_toolbar->setObjectName(QStringLiteral("cbmaintool"));
    m_toolbar->setFrameShape(QFrame::StyledPanel);
    auto *row = new QHBoxLayout(m_toolbar);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
    for (int i = 0; i < ButtonCount; ++i) {
        auto *button = new ToolbarButton(i, tr(ButtonCaptions[i]), tr(ButtonTips[i]), m_toolbar);
        button->setCursor(Qt::PointingHandCursor);
        button->installEventFilter(this);
        // Self view, chat and talk are held down while on: assistive technology hears
        // them as toggles.
        button->setCheckable(i >= 2);
        if (i == 4) {
            button->setPushToTalk(true);
            connect(button, &ToolbarButton::talkPressed, this, &frmMain::talkPressed);
            connect(button, &ToolbarButton::talkReleased, this, &frmMain::talkReleased);
            // The keyboard's and assistive technology's press latches, as the right button does.
            connect(button, &QAbstractButton::clicked, this, [this] {
                emit talkPressed(Qt::RightButton);
                emit talkReleased(Qt::RightButton);
            });
        } else {
            connect(button, &QAbstractButton::clicked, this, [this, i] { emit toolbarClicked(i); });
        }
        m_buttons[i] = button;
        row->addWidget(button, 1);
    }
    parent->layout()->addWidget(m_toolbar);
}

void frmMain::buildIndicators(QWidget *parent)
{
    auto *strip = new QFrame(parent);
    strip->setObjectName(QStringLiteral("pnlIndicators"));
    strip->setFrameShape(QFrame::StyledPanel);
    m_indicatorRows = new QBoxLayout(QBoxLayout::LeftToRight, strip);
    m_indicatorRows->setContentsMargins(3, 1, 3, 1);
    m_indicatorRows->setSpacing(2);

    auto *lamps = new QHBoxLayout;
    lamps->setSpacing(1);
    m_conLed = new IndicatorButton(QStringLiteral("imgConLED"), tr("Connection"), strip);
    m_micLed = pictureLabel(strip, QStringLiteral("imgLedMic"), QPixmap(), tr("Microphone"));
    m_micLevel = new QProgressBar(strip);
    m_micLevel->setObjectName(QStringLiteral("pbrMicLevel"));
    m_micLevel->setRange(0, 100);
    m_micLevel->setTextVisible(false);
    m_micLevel->setOrientation(Qt::Vertical);
    // As tall as the lamps beside it, so it reads as the microphone's.
    m_micLevel->setFixedSize(6, 16);
    m_micLevel->setAccessibleName(tr("Microphone level"));
    m_micLevel->setToolTip(tr("Microphone level"));
    m_camLed = pictureLabel(strip, QStringLiteral("imgLedCam"), QPixmap(), tr("Camera"));
    m_spkLed = pictureLabel(strip, QStringLiteral("imgLEDSpeaker"), QPixmap(), tr("Speaker"));
    m_dnd = new IndicatorButton(QStringLiteral("imgDoNotDisturb"), tr("Do Not Disturb"), strip);
    m_msgIn = new IndicatorButton(QStringLiteral("imgMsgIn"), tr("Quick Message"), strip);
    m_msgIn->setDoubleClickOnly(true);
    connect(m_conLed, &QAbstractButton::clicked, this, &frmMain::hangupRequested);
    connect(m_dnd, &QAbstractButton::clicked, this, &frmMain::doNotDisturbToggled);
    connect(m_msgIn, &QAbstractButton::clicked, this, &frmMain::messageIndicatorActivated);
    for (QWidget *w : std::initializer_list<QWidget *>{m_conLed, m_micLed, m_micLevel, m_camLed, m_spkLed, m_dnd, m_msgIn})
        lamps->addWidget(w);
    lamps->addStretch();

    auto *clockRow = new QHBoxLayout;
    clockRow->setSpacing(4);
    clockRow->addStretch();
    m_activity = pictureLabel(strip, QStringLiteral("pnlActivity"), Artwork::activity(0), tr("Activity"));
    clockRow->addWidget(m_activity);
    m_clock = new QFrame(strip);
    m_clock->setObjectName(QStringLiteral("pnlClock"));
    m_clock->setAccessibleName(tr("Call time"));
    m_clock->setToolTip(tr("Call time"));
    m_clock->setStyleSheet(QStringLiteral("#pnlClock { background: #101412; border-radius: 3px; }"));
    auto *digits = new QHBoxLayout(m_clock);
    digits->setContentsMargins(3, 1, 3, 1);
    digits->setSpacing(1);
    for (int i = 0; i < 4; ++i) {
        m_digits[i] = pictureLabel(m_clock, QStringLiteral("imgNum%1").arg(i), Artwork::digit(0));
        digits->addWidget(m_digits[i]);
        if (i == 1)
            digits->addWidget(pictureLabel(m_clock, QStringLiteral("imgColon"), Artwork::colon(true)));
    }
    clockRow->addWidget(m_clock);

    m_indicatorRows->addLayout(lamps, 1);
    m_indicatorRows->addLayout(clockRow);
    parent->layout()->addWidget(strip);

    setConnectLamp(false);
    setMicLamp(false);
    setCameraLamp(CamNone);
    setSpeakerLamp(false);
    setDoNotDisturb(false);
    setMessageWaiting(false);
    setCallClock(0, 0);
}

void frmMain::buildVideo(QWidget *parent)
{
    // The area below the indicators holds the picture's panel at the display size,
    // centred; a window made smaller than that shows the picture scaled down.
    m_videoArea = new QWidget(parent);
    m_videoArea->setObjectName(QStringLiteral("pnlVideoArea"));
    m_videoArea->setMinimumSize(32, 24);
    m_videoArea->installEventFilter(this);
    m_videoPanel = new QFrame(m_videoArea);
    m_videoPanel->setObjectName(QStringLiteral("pnlVidIn"));
    m_videoPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_videoPanel->setLineWidth(2);
    m_video = new VideoView(m_videoPanel);
    m_video->setObjectName(QStringLiteral("imgVidIn"));
    m_video->setAccessibleName(tr("Incoming video"));
    m_logo = pictureLabel(m_videoPanel, QStringLiteral("imgLogo"), QPixmap());
    m_logo->setAttribute(Qt::WA_TranslucentBackground);
    m_logo->setAlignment(Qt::AlignCenter);
    m_security = new SecurityBadge(m_videoPanel);
    connect(m_security, &SecurityBadge::changed, this, &frmMain::layoutVideo);
    m_reach = new QLabel(m_videoPanel);
    m_reach->setObjectName(QStringLiteral("lblReach"));
    m_reach->setAccessibleName(tr("How others reach you"));
    m_reach->setWordWrap(true);
    m_reach->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_reach->setStyleSheet(QStringLiteral("#lblReach { background: rgba(0, 0, 0, 150); color: white; padding: 2px; }"));
    m_reach->hide();

    // A right click on the picture or the logo offers the zoom sizes.
    for (QWidget *w : {static_cast<QWidget *>(m_video), static_cast<QWidget *>(m_logo)}) {
        w->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint &pos) { m_zoomMenu->popup(w->mapToGlobal(pos)); });
    }
    static_cast<QVBoxLayout *>(parent->layout())->addWidget(m_videoArea, 1);
}

QAction *frmMain::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void frmMain::setConnectLamp(bool on)
{
    m_connected = on;
    m_conLed->setPicture(Artwork::connectLamp(on));
    m_conLed->setProperty("lit", on);
    // The lamps' names say their state, so a screen reader hears it change.
    m_conLed->setAccessibleName(on ? tr("Connected") : tr("Not connected"));
    m_conLed->setAccessibleDescription(on ? tr("Press to hang up") : QString());
}

void frmMain::setMicLamp(bool on)
{
    m_micOpen = on;
    m_micLed->setPixmap(Artwork::microphone(on));
    m_micLed->setProperty("lit", on);
    m_micLed->setAccessibleName(on ? tr("Microphone open") : tr("Microphone closed"));
    m_micLevel->setVisible(on);
    if (!on)
        m_micLevel->setValue(0);
}

void frmMain::setMicLevel(int level)
{
    m_micLevel->setValue(level);
}

void frmMain::setCameraLamp(CameraLamp lamp)
{
    m_cameraLamp = lamp;
    m_camLed->setPixmap(Artwork::camera(lamp == CamOn, lamp != CamNone));
    m_camLed->setProperty("lamp", lamp == CamOn ? "imgCamOn" : lamp == CamOff ? "imgCamOff" : "imgLEDCamNo");
    m_camLed->setAccessibleName(lamp == CamOn ? tr("Camera on") : lamp == CamOff ? tr("Camera paused") : tr("No camera"));
}

void frmMain::setSpeakerLamp(bool on)
{
    m_speakerOn = on;
    m_spkLed->setPixmap(Artwork::speaker(on));
    m_spkLed->setProperty("lit", on);
    m_spkLed->setAccessibleName(on ? tr("Speaker on") : tr("Speaker off"));
}

void frmMain::setDoNotDisturb(bool on)
{
    m_doNotDisturb = on;
    m_dnd->setPicture(Artwork::doNotDisturb(on));
    m_dnd->setProperty("picture", on ? "imgDNDOn" : "imgDNDOff");
    m_dnd->setAccessibleName(on ? tr("Do not disturb on") : tr("Do not disturb off"));
    m_dnd->setAccessibleDescription(tr("Press to turn do not disturb on or off"));
    action(QStringLiteral("menu_DoNotDisturb"))->setChecked(on);
}

void frmMain::setMessageIndicatorVisible(bool visible)
{
    m_msgIn->setVisible(visible);
}

void frmMain::setMessageWaiting(bool waiting)
{
    m_messageWaiting = waiting;
    m_msgIn->setPicture(Artwork::messageIndicator(waiting));
    m_msgIn->setProperty("waiting", waiting);
    m_msgIn->setAccessibleName(waiting ? tr("Quick message waiting") : tr("No quick message"));
    m_msgIn->setAccessibleDescription(waiting ? tr("Press to read the message") : QString());
    m_msgIn->setToolTip(waiting ? tr("Quick Message (double-click to read)") : tr("Quick Message"));
}

void frmMain::announceMessage(const QString &sender)
{
    Announcement::alert(m_msgIn, tr("New quick message from %1").arg(sender));
}

void frmMain::setActivityFrame(int frame)
{
    m_activityFrame = frame;
    m_activity->setPixmap(Artwork::activity(frame));
    m_activity->setProperty("frame", frame);
}

void frmMain::setCallClock(int minutes, int seconds)
{
    const std::array<int, 4> values{{minutes / 10 % 10, minutes % 10, seconds / 10 % 10, seconds % 10}};
    for (int i = 0; i < 4; ++i) {
        if (values[i] != m_digitValues[i]) {
            m_digitValues[i] = values[i];
            m_digits[i]->setPixmap(Artwork::digit(values[i]));
            m_digits[i]->setProperty("digit", values[i]);
        }
    }
    m_clock->setAccessibleDescription(QStringLiteral("%1:%2").arg(minutes, 2, 10, QLatin1Char('0'))
                                          .arg(seconds, 2, 10, QLatin1Char('0')));
}

void frmMain::setReachability(const QString &line)
{
    m_reach->setText(line);
    m_reach->setToolTip(line);
    m_reach->setVisible(!m_inCall && !line.isEmpty());
    layoutVideo();
}

void frmMain::setInCall(bool inCall)
{
    m_inCall = inCall;
    m_buttons[0]->setCaption(inCall ? tr("HangUp") : tr("Call"));
    for (int i = 0; i < 3; ++i)
        refreshButton(i);
    action(QStringLiteral("Menu_FileCall"))->setEnabled(!inCall);
    action(QStringLiteral("Menu_FileHangup"))->setEnabled(inCall);
    m_logo->setVisible(!inCall);
    m_reach->setVisible(!inCall && !m_reach->text().isEmpty());
    setConnectLamp(inCall);
    if (!inCall)
        m_video->clearFrame();
}

void frmMain::setButtonPressed(int index, bool pressed)
{
    if (index < 0 || index >= ButtonCount)
        return;
    m_buttonState[index] = pressed ? 1 : 0;
    m_buttons[index]->setChecked(pressed);
    refreshButton(index);
}

bool frmMain::buttonPressed(int index) const
{
    return index >= 0 && index < ButtonCount && m_buttonState[index] == 1;
}

void frmMain::showNormalButtonLooks()
{
    for (int i = 0; i < ButtonCount; ++i)
        refreshButton(i);
}

void frmMain::refreshButton(int index)
{
    const Artwork::ButtonLook look = m_buttonState[index] == 1   ? Artwork::ButtonLook::Pressed
                                     : m_buttonState[index] == 2 ? Artwork::ButtonLook::Raised
                                                                 : Artwork::ButtonLook::Normal;
    const QString name = look == Artwork::ButtonLook::Pressed  ? QStringLiteral("pressed")
                         : look == Artwork::ButtonLook::Raised ? QStringLiteral("raised")
                                                               : QStringLiteral("normal");
    ToolbarButton *button = m_buttons[index];
    // A picture is replaced only when the look changed.
    if (button->property("look").toString() != name || index == 0) {
        button->setPicture(Artwork::toolbarButton(index, look, index == 0 && m_inCall));
        button->setProperty("look", name);
    }
    button->setCaptionBold(m_buttonState[index] == 2);
}

void frmMain::hoverButton(int index)
{
    if (m_buttonState[index] == 0) {
        m_buttonState[index] = 2;
        refreshButton(index);
    }
    m_buttons[index]->setCaptionBold(true);
    for (int j = 0; j < ButtonCount; ++j) {
        if (j != index && m_buttonState[j] == 2) {
            m_buttonState[j] = 0;
            refreshButton(j);
        }
    }
}

void frmMain::unhoverAll()
{
    for (int j = 0; j < ButtonCount; ++j) {
        if (m_buttonState[j] == 2) {
            m_buttonState[j] = 0;
            refreshButton(j);
        }
        m_buttons[j]->setCaptionBold(false);
    }
}

int frmMain::buttonAt(QObject *watched) const
{
    for (int i = 0; i < ButtonCount; ++i) {
        if (watched == m_buttons[i])
            return i;
    }
    return -1;
}

void frmMain::applyDisplaySize(int width, int height)
{
    m_displayWidth = width;
    m_displayHeight = height;
    applyMinimumSize();
    layoutVideo();
    if (!isNormalState())
        return;
    resize(width + Twips::toPixels(FrameWidthTwips), height + Twips::toPixels(FrameHeightTwips));
}

void frmMain::applyMinimumSize()
{
    const int least = m_displayWidth <= 160 ? NarrowMinimumWidthTwips : MinimumWidthTwips;
    setMinimumSize(Twips::toPixels(least), Twips::toPixels(MinimumHeightTwips));
}

void frmMain::resizeTwips(int width, int height)
{
    resize(Twips::toPixels(width), Twips::toPixels(height));
}

bool frmMain::isNormalState() const
{
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void frmMain::layoutVideo()
{
    const int bevel = m_videoPanel->frameWidth();
    const QSize room = m_videoArea->size() - QSize(2 * bevel, 2 * bevel);
    QSize picture(m_displayWidth, m_displayHeight);
    // A hidden window has not laid out its area yet; it is sized to fit when shown.
    const bool cramped = picture.width() > room.width() || picture.height() > room.height();
    if (cramped && isVisible())
        picture.scale(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio);
    // A picture sent larger than it is shown (a shared screen) grows with the window, up to
    // its own size, so a larger window shows its text sharper.
    const QSize own = m_video->frame().size();
    if (!cramped && !picture.isEmpty() && own.width() > picture.width() && own.height() > picture.height()) {
        const QSize grown = picture.scaled(room.boundedTo(own), Qt::KeepAspectRatio);
        if (grown.width() > picture.width())
            picture = grown;
    }
    const QSize panel = picture + QSize(2 * bevel, 2 * bevel);
    m_videoPanel->setGeometry((m_videoArea->width() - panel.width()) / 2,
                              qMax(0, (m_videoArea->height() - panel.height()) / 2), panel.width(), panel.height());
    m_video->setGeometry(bevel, bevel, picture.width(), picture.height());

    // The logo keeps to well inside the picture.
    const int logoWidth = qMin(120, picture.width() * 3 / 5);
    const QSize logoSize(logoWidth, logoWidth * 3 / 4);
    if (logoSize != m_logoSize && logoWidth > 8) {
        m_logoSize = logoSize;
        m_logo->setPixmap(Artwork::logo(logoSize.width(), logoSize.height()));
    }
    m_logo->setGeometry(bevel + (picture.width() - logoSize.width()) / 2,
                        bevel + (picture.height() - logoSize.height()) / 2, logoSize.width(), logoSize.height());
    m_logo->raise();
    // Over the picture rather than beside it, so a call's window keeps its size.
    const int badgeHeight = std::min(picture.height(), m_security->hasHeightForWidth()
                                                           ? m_security->heightForWidth(picture.width())
                                                           : m_security->sizeHint().height());
    m_security->setGeometry(bevel, bevel + picture.height() - badgeHeight, picture.width(), badgeHeight);
    m_security->raise();
    m_reach->setGeometry(bevel, bevel, picture.width(),
                         std::min(picture.height() / 2, m_reach->heightForWidth(picture.width())));
    m_reach->raise();
}

void frmMain::setCompact(bool compact)
{
    if (compact == m_compact)
        return;
    m_compact = compact;
    for (ToolbarButton *b : m_buttons)
        b->setCompact(compact);
    m_indicatorRows->setDirection(compact ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    // Below the normal least width the captions would be cut: pictures only, and the
    // clock gets a row of its own.
    setCompact(width() < Twips::toPixels(MinimumWidthTwips));
    QMainWindow::resizeEvent(event);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == centralWidget() && event->type() == QEvent::PaletteChange)
        redrawArtwork();
    if (watched == m_videoArea) {
        if (event->type() == QEvent::Resize)
            layoutVideo();
        return QMainWindow::eventFilter(watched, event);
    }
    const int index = buttonAt(watched);
    if (index >= 0) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
            hoverButton(index);
            break;
        case QEvent::Leave:
            unhoverAll();
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized() && !m_wasMinimised) {
        m_wasMinimised = true;
        emit minimised();
    } else if (!isMinimized() && m_wasMinimised) {
        m_wasMinimised = false;
        emit restored();
    }
}

void frmMain::redrawArtwork()
{
    // A new colour scheme: every picture is painted again in its colours.
    if (!m_conLed)
        return;
    setConnectLamp(m_connected);
    setMicLamp(m_micOpen);
    setCameraLamp(m_cameraLamp);
    setSpeakerLamp(m_speakerOn);
    setDoNotDisturb(m_doNotDisturb);
    setMessageWaiting(m_messageWaiting);
    setActivityFrame(m_activityFrame);
    for (int i = 0; i < ButtonCount; ++i) {
        m_buttons[i]->setProperty("look", QVariant());
        refreshButton(i);
    }
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    // The program decides whether the close goes ahead and runs the shutdown.
    event->ignore();
    emit closeRequested();
}
