#include "ui/Program.h"

#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "ui/frmCallIn.h"
#include "ui/frmConStatus.h"
#include "core/ActivityLog.h"
#include "directory/DirectoryService.h"
#include "directory/UserNumberFile.h"
#include "core/SoundPlayer.h"
#include "media/MediaConnection.h"
#include "media/MediaSession.h"
#include "media/engine/AudioEngine.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/VideoEngine.h"
#include "messages/MessageService.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/Twips.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "secure/CallSecurity.h"
#include "secure/DirectoryDialer.h"
#include "secure/SecurityService.h"
#include "ui/DesktopIntegration.h"
#include "ui/DeviceNotice.h"
#include "ui/VideoFormatDialog.h"
#include "ui/MainWindowController.h"
#include "ui/WindowPlacement.h"
#include "ui/MessageWindows.h"
#include "ui/SecurityIndicators.h"
#include "ui/SecurityNote.h"
#include "ui/frmAbout.h"
#include "ui/frmBusyNotify.h"
#include "ui/frmDirectory.h"
#include "ui/frmErrorMsg.h"
#include "ui/frmLog.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"
#include "ui/frmNewChat.h"
#include "ui/frmOptions.h"
#include "ui/frmRates.h"
#include "ui/frmSelf.h"
#include "ui/frmSplash.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <limits>

namespace {

QString errorText(const QString &prefix, const EndpointError &e)
{
    return prefix + QString::number(e.code) + QLatin1Char(' ') + e.description;
}

} // namespace

Program::Program(ProgramOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_log(std::make_unique<ActivityLog>())
    , m_ipdControl(new IPDaemon(this))
    , m_ipdMedia(new IPDaemon(this))
    , m_ippControl(new IPPort(this))
    , m_ippClient(new IPPort(this))
    , m_sounds(new SoundPlayer(this))
    , m_devices(DeviceProvider::create(m_options.testDevices))
    , m_video(new VideoEngine(m_devices, m_options.profileDir, this))
    , m_audio(new AudioEngine(m_devices, this))
    , m_mediaStats(m_mediaClock, [this] { return m_video->getFrameNum(); })
    , m_media(new MediaConnection(*m_ippClient, *m_ippControl, this))
    , m_calls(new CallControl(m_state,
                              {*m_ipdControl, *m_ipdMedia, *m_ippControl, *m_ippClient},
                              *m_media, *m_sounds, [this](const QString &line) { logLine(line); }, this))
    , m_directory(new DirectoryService(m_state, *m_calls,
                                       {profilePath(QStringLiteral("zelmo.pal")), profilePath(UserNumberFile::FileName)},
                                       this))
    , m_capture(new CaptureControl(m_state, *m_video, this))
    , m_audioControl(new AudioControl(m_state, *m_audio, m_audioSendQueue, this))
    , m_session(new MediaSession({m_state, *m_ipdControl, *m_ipdMedia, *m_ippControl, *m_ippClient, *m_video,
                                  *m_audio, *m_sounds, m_mediaClock, m_mediaStats, m_callClock, m_textQueue,
                                  m_audioSendQueue, m_audioPlayQueue, [this](const QString &line) { logLine(line); },
                                  [this] { m_audioControl->captureStep(); }},
                                 this))
    , m_chat(new ChatSession({m_state, *m_calls, *m_session, *m_sounds, m_mediaClock}, this))
    , m_messages(new MessageService({m_state, *m_sounds, *m_video, *m_audio, *m_audioControl, m_audioSendQueue,
                                     profilePath(QStringLiteral("refuse.dat"))},
                                    this))
    , m_security(new SecurityService({m_options.profileDir, [this] { return m_state.settings.EMail; },
                                      [this](const QString &line) { logLine(line); }, *m_ippControl, *m_ipdControl},
                                     this))
{
    m_ipdControl->setObjectName(QStringLiteral("ipdControl"));
    m_ipdMedia->setObjectName(QStringLiteral("ipdMedia"));
    m_ippControl->setObjectName(QStringLiteral("ippControl"));
    m_ippClient->setObjectName(QStringLiteral("ippClient"));

    // The stored settings of the clients that carry framed peer messages.
    m_ippClient->setLineEnd("<E>");

    QDir().mkpath(m_options.profileDir);
    m_frmMain = new frmMain;
    connect(m_frmMain->tmrMain(), &QTimer::timeout, this, &Program::onMainTick);
    connect(m_frmMain->tmrSecond(), &QTimer::timeout, this, &Program::onSecondTick);
    connect(m_frmMain, &frmMain::closeRequested, this, &Program::requestClose);
    connectCallControl();
    connectMediaSession();
    m_controller = new MainWindowController(*this, *m_frmMain, this);
    connectMessages();
    connectSecurity();
    m_desktop = new DesktopIntegration(*this, this);
}

void Program::connectMessages()
{
    m_messageWindows = new MessageWindows(*m_messages, *m_calls, *m_directory, m_frmMain, this);
    connect(m_messageWindows, &MessageWindows::informationRequested, this, &Program::showInformation);
    connect(m_messages, &MessageService::saveFailed, this, &Program::showMessageBox);
    connect(m_messages, &MessageService::waitingChanged, m_frmMain,
            [this](int waiting) { m_frmMain->setMessageWaiting(waiting > 0); });
    connect(m_frmMain, &frmMain::messageIndicatorActivated, m_messageWindows, &MessageWindows::openOldest);
    connect(m_directory, &DirectoryService::sendMessageRequested, m_messageWindows,
            [this](const QString &name, const QString &location, const QString &address, int port) {
                m_messageWindows->compose(name, location, address, port);
            });
}

// Encryption sits under the channels: their endpoints get the encrypted way, the call's
// listeners the rule that its channels share one key, the call control the check of each
// request, and the windows what to show about it.
void Program::connectSecurity()
{
    SecurityService &security = *m_security;
    security.attachClient(*m_ippControl, PeerChannel::Control);
    security.attachClient(*m_ippClient, PeerChannel::Media);
    security.attachClient(m_chat->ippText(), PeerChannel::Chat);
    m_messages->setClientSetup([this](IPPort &client) { m_security->attachClient(client, PeerChannel::Message); });
    security.route(PeerChannel::Control, *m_ipdControl);
    security.route(PeerChannel::Media, *m_ipdMedia);
    security.route(PeerChannel::Message, m_messages->ipdMessage());
    security.route(PeerChannel::Chat, m_chat->ipdText());
    security.guardCallChannel(*m_ipdMedia);
    security.guardCallChannel(m_chat->ipdText());
    // The directory and pal connections go over TLS; their window hears what that found.
    DirectoryService &directory = *m_directory;
    DirectoryDialer &directoryDialer = security.directoryDialer();
    security.attachDirectoryClient(directory.ippServer());
    security.attachDirectoryClient(directory.ippServerPal());
    directoryDialer.setHostName([this] { return m_state.settings.DirAddress; });
    connect(&directoryDialer, &DirectoryDialer::blocked, &directory,
            [&directory](const QString &, const QString &text, bool keyChanged) {
                directory.connectionBlocked(text, keyChanged);
            });
    connect(&directoryDialer, &DirectoryDialer::privacyKnown, &directory,
            [&directory](const QString &, bool encrypted) { directory.setPrivate(encrypted); });
    connect(&directory, &DirectoryService::serverKeyAccepted, &directoryDialer, &DirectoryDialer::acceptOfferedKeys);
    m_calls->setRequestCheck([this](int connectionId) {
        switch (m_security->call().answerFor(connectionId, m_security->onlyEncrypted())) {
        case CallSecurity::Answer::Refuse:
            return CallControl::RequestVerdict::Refuse;
        case CallSecurity::Answer::AskWithoutAuto:
            return CallControl::RequestVerdict::OfferToUser;
        case CallSecurity::Answer::Ask:
            break;
        }
        return CallControl::RequestVerdict::Offer;
    });
    m_messages->setSenderCheck([this](const ChannelSecurity &channel, const QString &host) {
        return m_security->judgeSender(channel, host);
    });
    m_securityIndicators = new SecurityIndicators(security.call(), *m_frmMain->securityBadge(), this);
    connect(m_session, &MediaSession::inCallChanged, this, [this](bool inCall) {
        if (inCall)
            m_security->call().callStarted();
        m_securityIndicators->setInCall(inCall);
    });
    connect(&security, &SecurityService::notice, this, &Program::showInformation);
}

void Program::connectCallControl()
{
    connect(m_calls, &CallControl::informationRequested, this, &Program::showInformation);
    connect(m_directory, &DirectoryService::informationRequested, this, &Program::showInformation);
    connect(m_media, &MediaConnection::invalidAddress, this, &Program::showInformation);
    connect(m_calls, &CallControl::progressWindowRequested, this, [this](const QString &name, const QString &location) {
        if (!m_frmConStatus)
            m_frmConStatus = new frmConStatus(m_state, *m_calls, *m_ippClient, m_frmMain);
        m_frmConStatus->setCallee(name, location);
        m_securityIndicators->follow(m_frmConStatus->securityNote());
        m_frmConStatus->show();
        m_frmConStatus->raise();
    });
    connect(m_calls, &CallControl::callOffered, this, [this](const QString &name, const QString &location, bool autoAccepted) {
        if (!m_frmCallIn)
            m_frmCallIn = new frmCallIn(m_state, *m_calls, m_frmMain);
        // The note first, so the prompt is placed at its final size.
        m_securityIndicators->follow(m_frmCallIn->securityNote());
        m_frmCallIn->offer(name, location, autoAccepted);
    });
    connect(m_calls, &CallControl::busyNotice, this, [this](const QString &name, const QString &location) {
        if (!m_frmBusyNotify)
            return;
        m_frmBusyNotify->notify(name, location);
        // Both sit at the top right; the notice must not hide the prompt's buttons.
        if (m_frmCallIn && m_frmCallIn->isVisible())
            m_frmBusyNotify->move(m_frmBusyNotify->x(), m_frmCallIn->frameGeometry().bottom() + 1);
    });
}

void Program::connectMediaSession()
{
    MediaSession *session = m_session;
    connect(session, &MediaSession::captureRateChanged, this, [this](const QString &fps) {
        if (m_frmRates)
            m_frmRates->setFigure(frmRates::FpsCap, fps);
    });
    connect(session, &MediaSession::streamRatesChanged, this,
            [this](const QString &fpsIn, const QString &fpsOut, const QString &thIn, const QString &thOut) {
                if (!m_frmRates)
                    return;
                m_frmRates->setFigure(frmRates::FpsIn, fpsIn);
                m_frmRates->setFigure(frmRates::FpsOut, fpsOut);
                m_frmRates->setFigure(frmRates::ThIn, thIn);
                m_frmRates->setFigure(frmRates::ThOut, thOut);
            });
    connect(session, &MediaSession::sentPictureChanged, this, [this](int quality, int width, int height) {
        if (m_frmRates)
            m_frmRates->showSentPicture(quality, width, height);
    });
    connect(session, &MediaSession::directoryHideRequested, this, [this] {
        if (m_frmDirectory)
            m_frmDirectory->hide();
    });
    connect(session, &MediaSession::textRefused, this, &Program::showInformation);
    connect(session, &MediaSession::unsupportedCaptureFormat, m_capture, &CaptureControl::reportUnsupportedFormat);
    connect(m_capture, &CaptureControl::resumed, session, &MediaSession::fetchFrame);
    connect(session, &MediaSession::fiveSecondMark, this, &Program::fiveSecondMark);
}

Program::~Program()
{
    shutdown();
    delete m_frmMain;
}

QString Program::profilePath(const QString &fileName) const
{
    return QDir(m_options.profileDir).filePath(fileName);
}

void Program::start()
{
    if (m_started)
        return;
    m_started = true;

    m_controller->placeMainWindow();
    m_frmMain->setActivityFrame(0);
    m_controller->zoom(frmMain::Zoom::Normal);

    if (m_options.callAddress.isEmpty()) {
        m_frmSplash = new frmSplash(m_frmMain);
        m_frmSplash->show();
    }

    Settings &s = m_state.settings;
    s.load(profilePath(QStringLiteral("zelmo.ini")));
    if (s.SaveWinPos) {
        const QRect desk = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->virtualGeometry()
                                                            : QRect(0, 0, 1024, 768);
        const int left = std::clamp(Twips::toPixels(s.WinPosLeft), desk.left(), desk.right() - 40);
        const int top = std::clamp(Twips::toPixels(s.WinPosTop), desk.top(), desk.bottom() - 40);
        m_frmMain->move(left, top);
    }
    m_frmDirectory = new frmDirectory(*m_directory, m_frmMain);
    // A stored size never makes the window larger than the screen or vanish.
    m_frmDirectory->resize(std::clamp(Twips::toPixels(s.DirWidth), 100, WindowPlacement::screenWidth(m_frmMain)),
                           std::clamp(Twips::toPixels(s.DirHeight), 100, WindowPlacement::screenHeight(m_frmMain)));
    m_frmMain->setMessageIndicatorVisible(!s.Disable);

    initializeEngines();
    connectCapture();
    connectAudio();

    m_security->start();
    networkStart();
    m_controller->offsetForBasePort();
    loadSatelliteWindows();
    loadDataFiles();
    logLine(QStringLiteral("ZELMO Power Up"));
    m_frmMain->showNormalButtonLooks();
    m_frmMain->tmrMain()->start();

    m_state.PendingCallAddress = m_options.callAddress;
    if (!m_state.PendingCallAddress.isEmpty()) {
        m_state.AutoAnswerOnce = true;
        m_frmMain->show();
        emit startupTailFinished();
    } else {
        m_state.AutoAnswerOnce = false;
        m_frmMain->tmrSecond()->start();
    }
}

void Program::initializeEngines()
{
    // The program's defaults: the listeners' first port, the pal server, idle sound devices.
    m_state.ListenPortBase = m_options.firstPort;
    m_state.micState = 1;
    m_state.speakerState = 1;
    m_video->initialize();
    m_video->setCompType(6);
    m_audio->startGSM();
    m_state.hasAudio = m_audio->hasAudio();
    const QString notice = DeviceNotice::text(!m_devices->cameraNames().isEmpty(), m_devices->hasAudioInput(),
                                              m_devices->hasAudioOutput());
    if (!notice.isEmpty()) {
        logLine(notice);
        emit devicesMissing(notice);
    }
}

void Program::connectCapture()
{
    connect(m_capture, &CaptureControl::errorMessage, this, &Program::showError);
    connect(m_capture, &CaptureControl::informationMessage, this, &Program::showInformation);
}

void Program::connectAudio()
{
    connect(m_audioControl, &AudioControl::errorMessage, this, &Program::showError);
    // Without sound devices there is nothing to talk with.
    if (QWidget *talk = m_frmMain->findChild<QWidget *>(QStringLiteral("cmdtoolbar4")))
        talk->setEnabled(m_state.hasAudio);
}

void Program::fiveSecondMark()
{
    m_capture->checkCaptureSize();
    if (m_frmSelf)
        m_frmSelf->followMainWindow(m_frmMain, m_state.settings.MoveAllWin);
}

VideoFormatDialog *Program::openVideoFormatDialog()
{
    auto *dialog = new VideoFormatDialog(m_video, m_frmMain);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    dialog->show();
    dialog->raise();
    return dialog;
}

void Program::networkStart()
{
    EndpointError e;
    for (auto *endpoint : {static_cast<QObject *>(m_ipdMedia), static_cast<QObject *>(m_ipdControl),
                           static_cast<QObject *>(m_ippControl), static_cast<QObject *>(m_ippClient)}) {
        EndpointError r;
        if (auto *daemon = qobject_cast<IPDaemon *>(endpoint))
            r = daemon->setStackOn(true);
        else if (auto *port = qobject_cast<IPPort *>(endpoint))
            r = port->setStackOn(true);
        if (r && !e)
            e = r;
    }
    if (e)
        showMessageBox(errorText(QStringLiteral("Failed to init TCP/IP Stack:"), e));

    // A taken control port moves all four listeners on by four ports, a few times.
    const int retryBound = m_options.firstPort + 10;
    m_ipdControl->setLocalPort(m_state.ListenPortBase);
    e = m_ipdControl->setListening(true);
    while (e.code == EndpointError::PortInUse && m_state.ListenPortBase < retryBound) {
        m_state.ListenPortBase += 4;
        m_ipdControl->setLocalPort(m_state.ListenPortBase);
        e = m_ipdControl->setListening(true);
    }
    if (e)
        showMessageBox(errorText(QStringLiteral("Failed to start Listen Daemon 1: "), e));

    m_ipdMedia->setLocalPort(m_state.ListenPortBase + 1);
    if ((e = m_ipdMedia->setListening(true)))
        showMessageBox(errorText(QStringLiteral("Failed to start Listen Daemon 2: "), e));

    if ((e = m_messages->startListening(m_state.ListenPortBase + 2)))
        showMessageBox(errorText(QStringLiteral("Failed to start Listen Daemon 3: "), e));
    // Without its port this program still calls encrypted; the log says why none come in.
    m_security->listen(m_state.ListenPortBase);

    if (m_ippClient->setRemoteAddress(m_ippClient->localAddress())) {
        showMessageBox(QStringLiteral("You must connect to the Internet before running ZELMO. Please connect to "
                                      "the Internet and run ZELMO again."));
    }
}

void Program::loadSatelliteWindows()
{
    m_frmSelf = new frmSelf(*m_capture, *m_video, m_frmMain);
    m_frmNewChat = new frmNewChat(*m_chat, m_frmMain);
    m_frmNewChat->placeBelow(m_frmMain);
    if (const EndpointError e = m_chat->start())
        showMessageBox(errorText(QStringLiteral("Failed to start text Listen Daemon 4: "), e));
    m_frmRates = new frmRates(m_frmMain);
    m_frmLog = new frmLog(*m_log, m_frmMain);
    m_frmBusyNotify = new frmBusyNotify(m_frmMain);
    m_controller->connectWindows();
    m_desktop->start();
}

void Program::loadDataFiles()
{
    m_state.refuseList.load(profilePath(QStringLiteral("refuse.dat")));
    m_state.palList.load(profilePath(QStringLiteral("zelmo.pal")));
    m_directory->start();
    m_log->load(profilePath(QStringLiteral("zelmo.log")));
}

void Program::onMainTick()
{
    if (!m_state.PendingCallAddress.isEmpty()) {
        const QString address = m_state.PendingCallAddress;
        m_state.PendingCallAddress.clear();
        m_calls->placeCall(address, 2000, 0);
    }
    m_session->tick();
}

void Program::onSecondTick()
{
    if (m_state.StartupTicks == 0)
        m_directory->connectPalServer();
    if (m_state.StartupTicks < 6)
        ++m_state.StartupTicks;
    if (m_state.StartupTicks == 5) {
        delete m_frmSplash;
        m_frmMain->tmrSecond()->stop();
        m_controller->restoreSatelliteWindows();
        m_frmMain->show();
        const Settings &s = m_state.settings;
        if (s.Name.isEmpty() || s.Location.isEmpty() || s.EMail.isEmpty()) {
            m_controller->showOptions(frmOptions::Personal);
            showInformation(QStringLiteral("Please take a moment to fill in your user information and verify the "
                                           "setup."));
        }
        emit startupTailFinished();
    }
}

bool Program::requestClose()
{
    if (m_shutDown || m_shuttingDown)
        return true;
    if (m_state.ConnectState == ConnectState::Establishing) {
        showInformation(QStringLiteral("You must cancel the connection that is being established before exiting."));
        return false;
    }
    m_userClosed = true;
    shutdown();
    return true;
}

void Program::shutdown()
{
    if (m_shutDown || m_shuttingDown || !m_started) {
        m_shutDown = m_shutDown || !m_started;
        return;
    }
    m_shuttingDown = true;

    m_desktop->shutdown();
    // Connections first, so no event of a half-closed endpoint reaches a closing window.
    m_directory->shutdown();
    m_messageWindows->closeAll();
    m_messages->shutdown();
    m_security->shutdown();
    m_ippClient->setConnected(false);
    if (m_ipdControl->isConnected(1))
        m_ipdControl->closeConnection(1);
    if (m_ipdMedia->isConnected(1))
        m_ipdMedia->closeConnection(1);
    m_ippControl->setConnected(false);
    m_ipdMedia->setListening(false);
    m_ipdControl->setListening(false);
    m_chat->shutdown();
    for (IPDaemon *d : {m_ipdMedia, m_ipdControl})
        d->setStackOn(false);
    for (IPPort *p : {m_ippControl, m_ippClient})
        p->setStackOn(false);
    m_frmMain->tmrMain()->stop();
    m_frmMain->tmrSecond()->stop();

    logLine(QStringLiteral("ZELMO Power Down"));

    Settings &s = m_state.settings;
    if (s.SaveWinPos) {
        s.WinPosLeft = Twips::fromPixels(m_frmMain->x());
        s.WinPosTop = Twips::fromPixels(m_frmMain->y());
    }
    s.DirWidth = Twips::fromPixels(m_frmDirectory->width());
    s.DirHeight = Twips::fromPixels(m_frmDirectory->height());
    s.SelfViewOn = m_frmSelf->isVisible();
    s.ChatToolOn = m_frmNewChat->isVisible();
    s.DataRatesOn = m_frmRates->isVisible();
    QString settingsError;
    if (!s.save(profilePath(QStringLiteral("zelmo.ini")), &settingsError))
        qWarning("zelmo: could not write the settings: %s", qPrintable(settingsError));

    if (const FileError e = m_state.palList.save(profilePath(QStringLiteral("zelmo.pal"))))
        reportSaveFailure(QStringLiteral("Could not save Pal File, "), e.code, e.description);
    if (const FileError e = m_state.refuseList.save(profilePath(QStringLiteral("refuse.dat"))))
        reportSaveFailure(QStringLiteral("Could not save Refuse List data File, "), e.code, e.description);

    m_video->terminate();
    if (m_state.micState != 1) {
        m_audio->closeAudioIn();
        m_state.micState = 1;
    }
    m_audio->stopGSM();

    // Unloading the log window writes the log.
    if (const FileError e = m_log->save(profilePath(QStringLiteral("zelmo.log"))))
        reportSaveFailure(QStringLiteral("Could not save Log File, "), e.code, e.description);

    m_frmLog->allowClose();
    m_frmSelf->allowClose();
    m_frmNewChat->allowClose();
    m_frmRates->allowClose();
    m_frmMain->allowClose();
    m_controller->closeWindows();
    for (QWidget *w : std::initializer_list<QWidget *>{m_frmSelf, m_frmNewChat, m_frmRates,
                                                       m_frmLog, m_frmCallIn, m_frmBusyNotify, m_frmSplash,
                                                       m_frmConStatus, m_frmMessage, m_frmErrorMsg,
                                                       m_frmDirectory}) {
        if (w)
            w->close();
    }
    m_frmMain->close();

    m_shuttingDown = false;
    m_shutDown = true;
    emit finished();
}

void Program::reportSaveFailure(const QString &text, int code, const QString &description)
{
    const QString message = text + QString::number(code) + QStringLiteral(" : ") + description;
    // The user who quit sees why a file was not written; a signal's sender may be a
    // session ending with nobody to click, so then the complaint goes to the terminal.
    if (m_userClosed)
        QMessageBox::warning(m_frmMain, QStringLiteral("ZELMO"), message);
    else
        qWarning("zelmo: %s", qPrintable(message));
}

frmOptions *Program::optionsWindow()
{
    return m_controller->optionsWindow();
}

frmAbout *Program::aboutWindow()
{
    return m_controller->aboutWindow();
}

frmHelp *Program::helpWindow()
{
    return m_controller->helpWindow();
}

OptionsLogic &Program::optionsLogic()
{
    return m_controller->optionsLogic();
}

void Program::toggleSelfView()
{
    m_controller->toggleSelfView();
}

void Program::toggleChat()
{
    m_controller->toggleChat();
}

void Program::logLine(const QString &text)
{
    m_log->logLine(text);
}

void Program::showInformation(const QString &text)
{
    if (!m_frmMessage) {
        m_frmMessage = new frmMessage(m_frmMain);
        connect(m_frmMessage, &frmMessage::confirmed, this, [this] {
            if (m_state.OpenFormatDialogAfterMessage) {
                m_frmMessage->hide();
                openVideoFormatDialog();
                m_state.OpenFormatDialogAfterMessage = false;
            }
        });
    }
    m_frmMessage->showText(text);
}

void Program::showError(const QString &text)
{
    if (!m_frmErrorMsg)
        m_frmErrorMsg = new frmErrorMsg(m_frmMain);
    m_frmErrorMsg->showText(text);
}

QMessageBox *Program::showMessageBox(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, QStringLiteral("ZELMO"), text, QMessageBox::Ok, m_frmMain);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

frmMain *Program::mainWindow() const
{
    return m_frmMain;
}

frmConStatus *Program::progressWindow() const
{
    return m_frmConStatus;
}

frmCallIn *Program::callPrompt() const
{
    return m_frmCallIn;
}

frmSplash *Program::splash() const
{
    return m_frmSplash;
}

frmSelf *Program::selfView() const
{
    return m_frmSelf;
}

frmNewChat *Program::chatWindow() const
{
    return m_frmNewChat;
}

frmDirectory *Program::directoryWindow() const
{
    return m_frmDirectory;
}

frmRates *Program::ratesWindow() const
{
    return m_frmRates;
}

frmLog *Program::logWindow() const
{
    return m_frmLog;
}

frmBusyNotify *Program::busyNotify() const
{
    return m_frmBusyNotify;
}

frmMessage *Program::messageWindow() const
{
    return m_frmMessage;
}

frmErrorMsg *Program::errorWindow() const
{
    return m_frmErrorMsg;
}
