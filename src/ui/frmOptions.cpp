#include "ui/frmOptions.h"

#include "core/Settings.h"
#include "core/RefuseList.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "media/MediaFormatChoice.h"
#include "ui/AudioSetupGroup.h"
#include "ui/DesktopOptionsGroup.h"
#include "ui/ReachOptionsGroup.h"
#include "ui/SecurityOptionsGroup.h"
#include "ui/SeparatorFilter.h"
#include "ui/VideoDisplayDialog.h"
#include "ui/VideoSourceDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QShowEvent>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QLabel *explanation(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    label->setPalette(p);
    return label;
}

QCheckBox *checkBox(const char *name, const QString &caption, QWidget *parent)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QRadioButton *option(const char *name, const QString &caption, QWidget *parent)
{
    auto *button = new QRadioButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

QPushButton *button(const char *name, const QString &caption, QWidget *parent)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

frmOptions::frmOptions(Context context, QWidget *parent)
    : QDialog(parent)
    , m_(context)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr("ZELMO Properties"));
    setModal(false);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabProperties"));
    m_tabs->addTab(buildPersonal(), tr("Personal"));
    m_tabs->addTab(buildGeneral(), tr("General"));
    m_tabs->addTab(buildVideo(), tr("Video"));
    m_tabs->addTab(buildAudio(), tr("Audio"));
    m_tabs->addTab(buildMessaging(), tr("Messaging"));

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("cmdClose"));
    ok->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    buttons->addButton(QDialogButtonBox::Help)->setObjectName(QStringLiteral("cmdHelp"));
    connect(buttons, &QDialogButtonBox::accepted, this, &frmOptions::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &frmOptions::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &frmOptions::helpRequested);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, &frmOptions::helpRequested);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);

    connect(&m_.logic, &OptionsLogic::realChatRefused, this, [this](const QString &text) {
        auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("ZELMO"), text, QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("MessageBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    });
    connect(&m_.audio, &AudioControl::recordProgress, m_audioTest, &QProgressBar::setValue);
    loadControls();
}

QLineEdit *frmOptions::textBox(const char *name, int maxLength, bool filtered)
{
    auto *box = new QLineEdit(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setMaxLength(maxLength);
    if (filtered)
        box->setValidator(new SeparatorFilter(box));
    return box;
}

QWidget *frmOptions::buildPersonal()
{
    auto *page = new QWidget;
    auto *personal = new QGroupBox(tr("Personal Information"), page);
    m_name = textBox("txtName", OptionsLogic::TextLength, true);
    m_email = textBox("txtEmail", OptionsLogic::TextLength, true);
    m_location = textBox("txtLocation", OptionsLogic::TextLength, true);
    m_comment = textBox("txtComment", OptionsLogic::TextLength, true);
    m_showOnList = checkBox("chkShowOnList", tr("Publish information on User Directory (except E-Mail)"), page);
    auto *form = new QFormLayout(personal);
    form->addRow(explanation(tr("This information is used to help others connect to you on a public User "
                                "Directory.  E-Mail address is not Published."),
                             personal));
    form->addRow(tr("&Name:"), m_name);
    form->addRow(tr("&E-Mail:"), m_email);
    form->addRow(tr("&Location:"), m_location);
    form->addRow(tr("C&omment:"), m_comment);
    form->addRow(m_showOnList);

    auto *directory = new QGroupBox(tr("User Directory"), page);
    m_dirAddress = new QComboBox(page);
    m_dirAddress->setObjectName(QStringLiteral("txtDirAddress"));
    m_dirAddress->setEditable(true);
    m_dirAddress->setInsertPolicy(QComboBox::NoInsert);
    m_dirAddress->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *dirForm = new QFormLayout(directory);
    dirForm->addRow(tr("&Directory Address:"), m_dirAddress);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(personal);
    layout->addWidget(directory);
    layout->addStretch();
    return page;
}

QWidget *frmOptions::buildGeneral()
{
    auto *page = new QWidget;
    auto *calling = new QGroupBox(tr("Calling"), page);
    m_autoAccept = checkBox("chkAutoAccept", tr("Auto Accept Incoming Calls"), page);
    m_sendWelcome = checkBox("chkSendWelcome", tr("Send Welcome Message upon connection"), page);
    m_welcomeMsg = textBox("txtWelcomeMsg", OptionsLogic::WelcomeLength, true);
    m_realChat = checkBox("chkRealChat", tr("Enable Real Time Text Chat"), page);
    auto *callForm = new QFormLayout(calling);
    callForm->addRow(m_autoAccept);
    callForm->addRow(m_sendWelcome);
    callForm->addRow(tr("&Message:"), m_welcomeMsg);
    callForm->addRow(m_realChat);
    connect(m_realChat, &QCheckBox::clicked, this, [this](bool checked) {
        const bool shown = m_.logic.realChatChanged(checked);
        if (shown != checked)
            m_realChat->setChecked(shown);
    });

    auto *windows = new QGroupBox(tr("Windows"), page);
    m_saveWinPos = checkBox("chkSaveWinPos", tr("Save Main Window Position"), page);
    m_moveAllWin = checkBox("chkMoveAllWin", tr("Move Self View with Main Window"), page);
    m_rememberWin = checkBox("chkRememberWin", tr("Remember window Status"), page);
    auto *winColumn = new QVBoxLayout(windows);
    winColumn->addWidget(m_saveWinPos);
    winColumn->addWidget(m_moveAllWin);
    winColumn->addWidget(m_rememberWin);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(calling);
    if (m_.security) {
        m_security = new SecurityOptionsGroup(*m_.security, page);
        layout->addWidget(m_security);
    }
    if (m_.reach) {
        m_reach = new ReachOptionsGroup(*m_.reach, page);
        layout->addWidget(m_reach);
    }
    layout->addWidget(windows);
    if (m_.desktop) {
        m_desktop = new DesktopOptionsGroup(*m_.desktop, page);
        layout->addWidget(m_desktop);
    }
    layout->addStretch();
    return page;
}

QWidget *frmOptions::buildVideo()
{
    auto *page = new QWidget;
    auto *device = new QGroupBox(tr("Video Device"), page);
    m_videoDevice = new QComboBox(page);
    m_videoDevice->setObjectName(QStringLiteral("cboVidDevice"));
    m_videoDevice->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QPushButton *format = button("cmdVidFormat", tr("&Format..."), page);
    QPushButton *source = button("cmdVidSource", tr("So&urce..."), page);
    QPushButton *display = button("cmdVidDisplay", tr("&Display..."), page);
    auto *deviceForm = new QFormLayout(device);
    deviceForm->addRow(tr("&Device:"), m_videoDevice);
    auto *dialogs = new QHBoxLayout;
    dialogs->addWidget(format);
    dialogs->addWidget(source);
    dialogs->addWidget(display);
    dialogs->addStretch();
    deviceForm->addRow(dialogs);
    connect(m_videoDevice, &QComboBox::activated, this, [this](int index) {
        m_.capture.chooseDriver(m_videoDevice->itemText(index));
        loadDrivers();
    });
    connect(format, &QPushButton::clicked, this, &frmOptions::videoFormatRequested);
    connect(source, &QPushButton::clicked, this, &frmOptions::chooseVideoSource);
    connect(display, &QPushButton::clicked, this, [this] {
        auto *dialog = new VideoDisplayDialog(&m_.video, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });

    auto *quality = new QGroupBox(tr("Picture Quality"), page);
    m_qualityHigh = option("optQualityHigh", tr("Clearer Video"), page);
    m_qualityLow = option("optQualityLow", tr("Better Motion"), page);
    auto *qualityRow = new QHBoxLayout(quality);
    qualityRow->addWidget(m_qualityHigh);
    qualityRow->addWidget(m_qualityLow);
    qualityRow->addStretch();
    connect(m_qualityLow, &QRadioButton::toggled, this, [this](bool low) { m_.logic.setVideoQualityLow(low); });

    auto *message = new QGroupBox(tr("Image Message"), page);
    m_imageMsgOn = checkBox("chkImageMsg", tr("Put a message in my outgoing video"), page);
    m_imageMsg = textBox("txtImageMsg", OptionsLogic::TextLength, false);
    auto *messageForm = new QFormLayout(message);
    messageForm->addRow(m_imageMsgOn);
    messageForm->addRow(tr("M&essage:"), m_imageMsg);
    connect(m_imageMsgOn, &QCheckBox::toggled, m_imageMsg, &QLineEdit::setEnabled);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(device);
    layout->addWidget(quality);
    layout->addWidget(message);
    if (m_.formats) {
        m_publishedOnly = checkBox("chkPublishedFormats", tr("Use only the published picture and sound formats"), page);
        m_publishedOnly->setToolTip(tr("Calls with another ZELMO of this version then use JPEG pictures and GSM "
                                       "sound, as calls with older programs do. Holds from the next call."));
        layout->addWidget(m_publishedOnly);
        connect(m_publishedOnly, &QCheckBox::toggled, m_.formats, &MediaFormatChoice::setPublishedOnly);
    }
    layout->addStretch();
    return page;
}

QWidget *frmOptions::buildAudio()
{
    auto *page = new QWidget;
    auto *compression = new QGroupBox(tr("Sound Quality"), page);
    m_phoneQ = option("optPhoneQ", tr("Phone Quality (13.2 kbps)"), page);
    m_radioQ = option("optRadioQ", tr("Radio Quality (6.6 kbps)"), page);
    auto *compressionColumn = new QVBoxLayout(compression);
    compressionColumn->addWidget(m_phoneQ);
    compressionColumn->addWidget(m_radioQ);
    connect(m_radioQ, &QRadioButton::toggled, this, [this](bool radio) { m_.audio.setQuality(radio ? 1 : 0); });

    auto *test = new QGroupBox(tr("Sound Test"), page);
    QPushButton *record = button("cmdAudioRec", tr("&Record"), page);
    QPushButton *stop = button("cmdAudioStop", tr("&Stop"), page);
    QPushButton *play = button("cmdAudioPlay", tr("&Play"), page);
    m_audioTest = new QProgressBar(page);
    m_audioTest->setObjectName(QStringLiteral("pbrAudioTest"));
    m_audioTest->setRange(0, 60);
    m_audioTest->setTextVisible(false);
    m_audioTest->setAccessibleName(tr("Recorded sound"));
    auto *testColumn = new QVBoxLayout(test);
    testColumn->addWidget(explanation(tr("Record a few words, stop, and play them back to hear how you sound "
                                         "to others."),
                                      test));
    auto *testButtons = new QHBoxLayout;
    testButtons->addWidget(record);
    testButtons->addWidget(stop);
    testButtons->addWidget(play);
    testColumn->addLayout(testButtons);
    testColumn->addWidget(m_audioTest);
    connect(record, &QPushButton::clicked, this, [this] {
        m_audioTest->setValue(0);
        m_.audio.testRecord();
    });
    connect(stop, &QPushButton::clicked, &m_.audio, &AudioControl::testStop);
    connect(play, &QPushButton::clicked, &m_.audio, &AudioControl::testPlay);

    auto *volume = new QGroupBox(tr("Speaker Volume"), page);
    m_volume = new QSlider(Qt::Horizontal, page);
    m_volume->setObjectName(QStringLiteral("Slider1"));
    m_volume->setRange(0, 10);
    m_volume->setPageStep(1);
    m_volume->setTickPosition(QSlider::TicksBelow);
    m_volume->setAccessibleName(tr("Speaker volume"));
    auto *volumeRow = new QHBoxLayout(volume);
    volumeRow->addWidget(new QLabel(tr("Soft"), volume));
    volumeRow->addWidget(m_volume, 1);
    volumeRow->addWidget(new QLabel(tr("Loud"), volume));
    connect(m_volume, &QSlider::valueChanged, &m_.audio, &AudioControl::setVolumeFromSlider);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(compression);
    layout->addWidget(test);
    if (m_.audioSetup) {
        m_audioSetup = new AudioSetupGroup(*m_.audioSetup, page);
        layout->addWidget(m_audioSetup);
    }
    layout->addWidget(volume);
    layout->addStretch();
    return page;
}

QWidget *frmOptions::buildMessaging()
{
    auto *page = new QWidget;
    m_qmDisable = checkBox("chkQMDisable", tr("Disable all Quick Messages"), page);
    auto *refuse = new QGroupBox(tr("Refuse List"), page);
    m_refused = new QTreeWidget(page);
    m_refused->setObjectName(QStringLiteral("lstRefuse"));
    m_refused->setHeaderLabels({tr("Name"), tr("Email")});
    m_refused->setRootIsDecorated(false);
    m_refused->setAccessibleName(tr("Refuse List"));
    m_refused->header()->setSectionResizeMode(QHeaderView::Stretch);
    m_removeRefused = button("cmdRemoveRefuse", tr("&Remove"), page);
    m_removeRefused->setEnabled(false);
    auto *refuseColumn = new QVBoxLayout(refuse);
    refuseColumn->addWidget(explanation(tr("All users on this will not be able to send Quick Messages to you. To "
                                           "add someone to this list select \"Refuse Message\" when a message is "
                                           "received from the user."),
                                        refuse));
    refuseColumn->addWidget(m_refused, 1);
    auto *removeRow = new QHBoxLayout;
    removeRow->addStretch();
    removeRow->addWidget(m_removeRefused);
    refuseColumn->addLayout(removeRow);
    connect(m_refused, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_removeRefused->setEnabled(!m_refused->selectedItems().isEmpty()); });
    connect(m_removeRefused, &QPushButton::clicked, this, [this] {
        const QList<QTreeWidgetItem *> selected = m_refused->selectedItems();
        if (selected.isEmpty())
            return;
        m_.logic.removeRefused(m_refused->indexOfTopLevelItem(selected.first()));
        loadRefused();
    });

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(m_qmDisable);
    layout->addWidget(refuse, 1);
    return page;
}

void frmOptions::loadControls()
{
    const OptionsLogic::Values v = m_.logic.load();
    m_name->setText(v.name);
    m_email->setText(v.email);
    m_location->setText(v.location);
    m_comment->setText(v.comment);
    m_showOnList->setChecked(v.showOnList);
    m_dirAddress->setEditText(v.dirAddress);
    m_autoAccept->setChecked(v.autoAccept);
    m_sendWelcome->setChecked(v.sendWelcome);
    m_welcomeMsg->setText(v.welcomeMsg);
    m_realChat->setChecked(v.realChat);
    m_saveWinPos->setChecked(v.saveWinPos);
    m_moveAllWin->setChecked(v.moveAllWin);
    m_rememberWin->setChecked(v.rememberWin);
    m_imageMsgOn->setChecked(v.imageMsgOn);
    m_imageMsg->setText(v.imageMsg);
    m_imageMsg->setEnabled(v.imageMsgOn);
    m_qmDisable->setChecked(v.quickMessagesDisabled);

    (m_.settings.VQualityLow ? m_qualityLow : m_qualityHigh)->setChecked(true);
    if (m_publishedOnly) {
        const QSignalBlocker quiet(m_publishedOnly);
        m_publishedOnly->setChecked(m_.formats->publishedOnly());
    }
    (m_.audio.quality() == 1 ? m_radioQ : m_phoneQ)->setChecked(true);
    m_audioTest->setValue(0);
    {
        const QSignalBlocker quiet(m_volume);
        m_volume->setValue(m_.audio.sliderValue());
    }
    loadDrivers();
    loadRefused();
    if (m_desktop)
        m_desktop->load();
    if (m_audioSetup)
        m_audioSetup->load();
    if (m_security)
        m_security->load();
    if (m_reach)
        m_reach->load();
}

void frmOptions::loadDrivers()
{
    const QStringList drivers = m_.capture.driverNames();
    m_videoDevice->clear();
    if (drivers.isEmpty()) {
        m_videoDevice->addItem(tr("No video device found"));
        m_videoDevice->setEnabled(false);
        return;
    }
    m_videoDevice->addItems(drivers);
    m_videoDevice->setEnabled(true);
    const int current = m_.settings.DriverNum;
    if (current >= 0 && current < drivers.size())
        m_videoDevice->setCurrentIndex(current);
}

void frmOptions::loadRefused()
{
    m_refused->clear();
    const RefuseList &list = m_.logic.refuseList();
    for (int k = 1; k <= list.count(); ++k)
        m_refused->addTopLevelItem(new QTreeWidgetItem({list.entry(k).name, list.entry(k).email}));
    m_removeRefused->setEnabled(false);
}

void frmOptions::chooseVideoSource()
{
    auto *dialog = new VideoSourceDialog(&m_.video, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const QStringList drivers = m_.capture.driverNames();
        const int chosen = dialog->chosenDriver();
        if (chosen >= 0 && chosen < drivers.size())
            m_.capture.chooseDriver(drivers.at(chosen));
        loadDrivers();
    });
    dialog->open();
}

OptionsLogic::Values frmOptions::values() const
{
    OptionsLogic::Values v;
    v.name = m_name->text();
    v.email = m_email->text();
    v.location = m_location->text();
    v.comment = m_comment->text();
    v.showOnList = m_showOnList->isChecked();
    v.dirAddress = m_dirAddress->currentText();
    v.autoAccept = m_autoAccept->isChecked();
    v.sendWelcome = m_sendWelcome->isChecked();
    v.welcomeMsg = m_welcomeMsg->text();
    v.realChat = m_realChat->isChecked();
    v.saveWinPos = m_saveWinPos->isChecked();
    v.moveAllWin = m_moveAllWin->isChecked();
    v.rememberWin = m_rememberWin->isChecked();
    v.imageMsgOn = m_imageMsgOn->isChecked();
    v.imageMsg = m_imageMsg->text();
    v.quickMessagesDisabled = m_qmDisable->isChecked();
    return v;
}

void frmOptions::showTab(Tab tab)
{
    m_tabs->setCurrentIndex(int(tab));
}

void frmOptions::setDirectoryChoices(const QStringList &addresses)
{
    const QString typed = m_dirAddress->currentText();
    m_dirAddress->clear();
    m_dirAddress->addItems(addresses);
    m_dirAddress->setEditText(typed);
}

void frmOptions::accept()
{
    if (m_.logic.save(values()))
        QDialog::accept();
}

void frmOptions::reject()
{
    m_.logic.discard();
    QDialog::reject();
}

void frmOptions::showEvent(QShowEvent *event)
{
    // Each opening starts from the settings as they are now, with the keyboard in the
    // first personal box still to fill in.
    if (!event->spontaneous()) {
        loadControls();
        if (m_tabs->currentIndex() == Personal) {
            QLineEdit *first = m_name;
            for (QLineEdit *box : {m_name, m_email, m_location}) {
                if (box->text().trimmed().isEmpty()) {
                    first = box;
                    break;
                }
            }
            first->setFocus();
        }
    }
    QDialog::showEvent(event);
}

bool frmOptions::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate) {
        const QSignalBlocker quiet(m_volume);
        m_volume->setValue(m_.audio.sliderValue());
    }
    return QDialog::event(event);
}
