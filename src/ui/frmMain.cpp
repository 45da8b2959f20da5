#include "ui/frmMain.h"

#include "core/Twips.h"
#include "ui/Artwork.h"
#include "ui/VideoView.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const ButtonCaptions[frmMain::ButtonCount] = {"Call", "Directory", "SelfView", "Chat", "Talk"};
const char *const ButtonTips[frmMain::ButtonCount] = {"Connection", "Display User Directory", "Toggle SelfView",
                                                     "Text Chat", "Push to Talk"};

QLabel *pictureLabel(QWidget *parent, const QString &name, const QPixmap &pixmap, const QString &tip = {})
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(pixmap);
    label->setToolTip(tip);
    return label;
}

} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("ZELMO"));

    m_tmrMain = new QTimer(this);
    m_tmrMain->setObjectName(QStringLiteral("tmrMain"));
    m_tmrMain->setInterval(75);
    m_tmrSecond = new QTimer(this);
    m_tmrSecond->setObjectName(QStringLiteral("tmrSecond"));
    m_tmrSecond->setInterval(1000);

    buildMenus();

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralArea"));
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 3, 4, 4);
    layout->setSpacing(3);
    buildToolbar(central);
    buildIndicators(central);
    buildVideo(central);
    setCentralWidget(central);
    applyDisplaySize(320, 240);
}

void frmMain::buildMenus()
{
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption,
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
    addItem(view, "Menu_ViewSelf", tr("&Self"), QKeySequence(Qt::CTRL | Qt::Key_S))->setCheckable(true);
    addItem(view, "Menu_ViewChat", tr("&Text Chat"), QKeySequence(Qt::CTRL | Qt::Key_T))->setCheckable(true);
    m_zoomMenu = view->addMenu(tr("&Zoom"));
    m_zoomMenu->setObjectName(QStringLiteral("Menu_ViewZoom"));
    view->addSeparator();
    addItem(view, "Menu_ViewLog", tr("&Log"));
    addItem(view, "Menu_ViewRates", tr("&Data Rates"), QKeySequence(Qt::CTRL | Qt::Key_D));
    view->addSeparator();
    addItem(view, "Menu_ViewOptions", tr("&Options..."));

    connect(addItem(m_zoomMenu, "Menu_ViewZoomNorm", tr("&Small (160x120)")), &QAction::triggered, this,
            [this] { emit zoomRequested(160, 120); });
    QAction *portrait = addItem(m_zoomMenu, "Menu_ZoomPort", tr("&Portrait (160x240)"));
    portrait->setVisible(false);
    connect(addItem(m_zoomMenu, "Menu_ViewZoomLarge", tr("&Normal (320x240)")), &QAction::triggered, this,
            [this] { emit zoomRequested(320, 240); });
    QAction *veryLarge = addItem(m_zoomMenu, "Menu_ZoomVeryLarge", tr("&Very Large (400%)"));
    veryLarge->setVisible(false);
    veryLarge->setEnabled(false);

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
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(0);
    for (int i = 0; i < ButtonCount; ++i) {
        auto *button = new QFrame(m_toolbar);
        button->setObjectName(QStringLiteral("cmdtoolbar%1").arg(i));
        button->setToolTip(tr(ButtonTips[i]));
        button->setCursor(Qt::PointingHandCursor);
        auto *column = new QVBoxLayout(button);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        m_buttonPictures[i] = pictureLabel(button, QStringLiteral("pnlCmdButton%1").arg(3 * i),
                                           Artwork::toolbarButton(i, Artwork::ButtonLook::Normal));
        m_buttonPictures[i]->setAlignment(Qt::AlignCenter);
        m_captions[i] = new QLabel(tr(ButtonCaptions[i]), button);
        m_captions[i]->setObjectName(QStringLiteral("lblcmd%1").arg(i));
        m_captions[i]->setAlignment(Qt::AlignCenter);
        QFont small = m_captions[i]->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        m_captions[i]->setFont(small);
        column->addWidget(m_buttonPictures[i]);
        column->addWidget(m_captions[i]);
        for (QWidget *w : {static_cast<QWidget *>(button), static_cast<QWidget *>(m_buttonPictures[i]),
                           static_cast<QWidget *>(m_captions[i])}) {
            w->setMouseTracking(true);
            w->installEventFilter(this);
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
    auto *row = new QHBoxLayout(strip);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(4);

    m_conLed = pictureLabel(strip, QStringLiteral("imgConLED"), Artwork::connectLamp(false), tr("Connection"));
    m_conLed->installEventFilter(this);
    m_micLed = pictureLabel(strip, QStringLiteral("imgLedMic"), Artwork::microphone(false), tr("Microphone"));
    m_camLed = pictureLabel(strip, QStringLiteral("imgLedCam"), Artwork::camera(false, false), tr("Camera"));
    m_spkLed = pictureLabel(strip, QStringLiteral("imgLEDSpeaker"), Artwork::speaker(false), tr("Speaker"));
    m_dnd = pictureLabel(strip, QStringLiteral("imgDoNotDisturb"), Artwork::doNotDisturb(false), tr("Do Not Disturb"));
    m_dnd->installEventFilter(this);
    m_msgIn = pictureLabel(strip, QStringLiteral("imgMsgIn"), QPixmap(), tr("Quick Message"));
    m_msgIn->setFixedSize(20, 16);
    m_msgIn->installEventFilter(this);
    for (QLabel *l : {m_conLed, m_micLed, m_camLed, m_spkLed, m_dnd, m_msgIn})
        row->addWidget(l);
    row->addStretch();

    m_activity = pictureLabel(strip, QStringLiteral("pnlActivity"), Artwork::activity(0));
    row->addWidget(m_activity);
    row->addSpacing(4);

    auto *clock = new QFrame(strip);
    clock->setObjectName(QStringLiteral("pnlClock"));
    clock->setStyleSheet(QStringLiteral("#pnlClock { background: #101412; border-radius: 3px; }"));
    auto *clockRow = new QHBoxLayout(clock);
    clockRow->setContentsMargins(3, 2, 3, 2);
    clockRow->setSpacing(1);
    for (int i = 0; i < 4; ++i) {
        m_digits[i] = pictureLabel(clock, QStringLiteral("imgNum%1").arg(i), Artwork::digit(0));
        clockRow->addWidget(m_digits[i]);
        if (i == 1)
            clockRow->addWidget(pictureLabel(clock, QStringLiteral("imgColon"), Artwork::colon(true)));
    }
    row->addWidget(clock);
    parent->layout()->addWidget(strip);
    setCallClock(0, 0);
}

void frmMain::buildVideo(QWidget *parent)
{
    m_videoPanel = new QFrame(parent);
    m_videoPanel->setObjectName(QStringLiteral("pnlVidIn"));
    m_videoPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_videoPanel->setLineWidth(2);
    m_video = new VideoView(m_videoPanel);
    m_video->setObjectName(QStringLiteral("imgVidIn"));
    m_logo = pictureLabel(m_videoPanel, QStringLiteral("imgLogo"), Artwork::logo());
    m_logo->setAttribute(Qt::WA_TranslucentBackground);
    m_logo->adjustSize();

    m_video->setContextMenuPolicy(Qt::CustomContextMenu);
    m_logo->setContextMenuPolicy(Qt::CustomContextMenu);
    for (QWidget *w : {static_cast<QWidget *>(m_video), static_cast<QWidget *>(m_logo)}) {
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint &pos) { m_zoomMenu->popup(w->mapToGlobal(pos)); });
    }
    auto *holder = new QHBoxLayout;
    holder->addStretch();
    holder->addWidget(m_videoPanel);
    holder->addStretch();
    static_cast<QVBoxLayout *>(parent->layout())->addLayout(holder);
    static_cast<QVBoxLayout *>(parent->layout())->addStretch();
}

QAction *frmMain::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void frmMain::setConnectLamp(bool on)
{
    m_conLed->setPixmap(Artwork::connectLamp(on));
    m_conLed->setProperty("lit", on);
}

void frmMain::setMicLamp(bool on)
{
    m_micLed->setPixmap(Artwork::microphone(on));
    m_micLed->setProperty("lit", on);
}

void frmMain::setCameraLamp(CameraLamp lamp)
{
    m_camLed->setPixmap(Artwork::camera(lamp == CamOn, lamp != CamNone));
    m_camLed->setProperty("lamp", lamp == CamOn ? "imgCamOn" : lamp == CamOff ? "imgCamOff" : "imgLEDCamNo");
}

void frmMain::setSpeakerLamp(bool on)
{
    m_spkLed->setPixmap(Artwork::speaker(on));
    m_spkLed->setProperty("lit", on);
}

void frmMain::setDoNotDisturb(bool on)
{
    m_dnd->setPixmap(Artwork::doNotDisturb(on));
    m_dnd->setProperty("picture", on ? "imgDNDOn" : "imgDNDOff");
    action(QStringLiteral("menu_DoNotDisturb"))->setChecked(on);
}

void frmMain::setMessageIndicatorVisible(bool visible)
{
    m_msgIn->setVisible(visible);
}

void frmMain::setMessageWaiting(bool waiting)
{
    m_msgIn->setPixmap(waiting ? Artwork::messageWaiting() : QPixmap());
    m_msgIn->setProperty("waiting", waiting);
}

void frmMain::setActivityFrame(int frame)
{
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
}

void frmMain::setInCall(bool inCall)
{
    m_inCall = inCall;
    m_captions[0]->setText(inCall ? tr("HangUp") : tr("Call"));
    for (int i = 0; i < 3; ++i)
        refreshButton(i);
    action(QStringLiteral("Menu_FileCall"))->setEnabled(!inCall);
    action(QStringLiteral("Menu_FileHangup"))->setEnabled(inCall);
    m_logo->setVisible(!inCall);
    setConnectLamp(inCall);
    if (!inCall)
        m_video->clearFrame();
}

void frmMain::setButtonPressed(int index, bool pressed)
{
    if (index < 0 || index >= ButtonCount)
        return;
    m_buttonState[index] = pressed ? 1 : 0;
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
    m_buttonPictures[index]->setPixmap(Artwork::toolbarButton(index, look, index == 0 && m_inCall));
    QFont f = m_captions[index]->font();
    f.setBold(m_buttonState[index] == 2);
    m_captions[index]->setFont(f);
}

void frmMain::hoverButton(int index)
{
    if (m_buttonState[index] == 0) {
        m_buttonState[index] = 2;
        refreshButton(index);
    }
    QFont f = m_captions[index]->font();
    f.setBold(true);
    m_captions[index]->setFont(f);
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
        if (m_buttonState[j] == 2)
            m_buttonState[j] = 0;
        refreshButton(j);
    }
}

int frmMain::buttonAt(QObject *watched) const
{
    for (int i = 0; i < ButtonCount; ++i) {
        if (watched == m_buttons[i] || watched == m_buttonPictures[i] || watched == m_captions[i])
            return i;
    }
    return -1;
}

void frmMain::applyDisplaySize(int width, int height)
{
    m_displayWidth = width;
    m_displayHeight = height;
    const int bevel = m_videoPanel->frameWidth();
    m_video->setGeometry(bevel, bevel, width, height);
    m_videoPanel->setFixedSize(width + 2 * bevel, height + 2 * bevel);
    m_logo->move((width - m_logo->width()) / 2 + bevel, (height - m_logo->height()) / 2 + bevel);
    m_logo->raise();
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    // The window wraps the picture: 160 twips wider and 1905 twips taller.
    const QSize wanted(width + Twips::toPixels(160), height + Twips::toPixels(1905));
    const QSize least = minimumSizeHint();
    resize(qMax(wanted.width(), least.width()), qMax(wanted.height(), least.height()));
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    const int index = buttonAt(watched);
    if (index >= 0) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
            hoverButton(index);
            break;
        case QEvent::Leave:
            if (watched == m_buttons[index])
                unhoverAll();
            break;
        case QEvent::MouseButtonPress: {
            auto *me = static_cast<QMouseEvent *>(event);
            if (index == 4)
                emit talkPressed(me->button());
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto *me = static_cast<QMouseEvent *>(event);
            if (index == 4)
                emit talkReleased(me->button());
            else if (me->button() == Qt::LeftButton)
                emit toolbarClicked(index);
            return true;
        }
        default:
            break;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_conLed)
            emit hangupRequested();
        else if (watched == m_dnd)
            emit doNotDisturbToggled();
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == m_msgIn) {
        emit messageIndicatorActivated();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        emit minimisedChanged(isMinimized());
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
