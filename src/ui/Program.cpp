#include "ui/Program.h"

#include "call/CallControl.h"
#include "call/frmCallIn.h"
#include "call/frmConStatus.h"
#include "chat/ChatSession.h"
#include "core/ActivityLog.h"
#include "directory/DirectoryService.h"
#include "directory/UserNumberFile.h"
#include "core/SoundPlayer.h"
#include "media/MediaConnection.h"
#include "media/MediaSession.h"
#include "media/engine/AudioEngine.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/VideoEngine.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/Twips.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "ui/DeviceNotice.h"
#include "ui/VideoFormatDialog.h"
#include "ui/VideoView.h"
#include "ui/WindowPlacement.h"
#include "ui/frmAbout.h"
#include "call/frmBusyNotify.h"
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
    , m_ipdMessage(new IPDaemon(this))
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
{
    m_ipdControl->setObjectName(QStringLiteral("ipdControl"));
    m_ipdMedia->setObjectName(QStringLiteral("ipdMedia"));
    m_ipdMessage->setObjectName(QStringLiteral("ipdMessage"));
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
        m_frmConStatus->show();
        m_frmConStatus->raise();
    });
    connect(m_calls, &CallControl::callOffered, this, [this](const QString &name, const QString &location, bool autoAccepted) {
        if (!m_frmCallIn)
            m_frmCallIn = new frmCallIn(m_state, *m_calls, m_frmMain);
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
    connect(m_frmMain, &frmMain::hangupRequested, m_calls, &CallControl::hangUp);
    connect(m_frmMain, &frmMain::toolbarClicked, this, &Program::onToolbarClicked);
}

void Program::connectMediaSession()
{
    MediaSession *session = m_session;
    frmMain *w = m_frmMain;
    session->setWindowNormalQuery([this] { return mainWindowNormal(); });
    connect(session, &MediaSession::activityFrameChanged, w, &frmMain::setActivityFrame);
    connect(session, &MediaSession::speakerLampChanged, w, &frmMain::setSpeakerLamp);
    connect(session, &MediaSession::callClockChanged, w, &frmMain::setCallClock);
    connect(session, &MediaSession::inCallChanged, w, &frmMain::setInCall);
    connect(session, &MediaSession::displaySizeChanged, w, &frmMain::applyDisplaySize);
    connect(w, &frmMain::zoomRequested, this, &Program::onZoomRequested);
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
    connect(session, &MediaSession::directoryHideRequested, this, [this] {
        if (m_frmDirectory)
            m_frmDirectory->hide();
    });
    connect(session, &MediaSession::textRefused, this, &Program::showInformation);
    connect(session, &MediaSession::unsupportedCaptureFormat, m_capture, &CaptureControl::reportUnsupportedFormat);
    connect(m_capture, &CaptureControl::resumed, session, &MediaSession::fetchFrame);
    connect(session, &MediaSession::fiveSecondMark, this, &Program::fiveSecondMark);
}

bool Program::mainWindowNormal() const
{
    return !(m_frmMain->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void Program::onZoomRequested(int width, int height)
{
    // Small applies only to a window in its normal state, and not while the last frame
    // the calling side received was 320 bytes long.
    if (width < 320 && (!mainWindowNormal() || m_state.lastVideoPayload == 320))
        return;
    m_session->setDisplaySize(width, height);
}

void Program::showDirectory(bool fromToolbar)
{
    if (fromToolbar) {
        m_frmDirectory->showFromToolbar();
        return;
    }
    m_frmDirectory->show();
    m_frmDirectory->raise();
}

void Program::onToolbarClicked(int index)
{
    const Settings &s = m_state.settings;
    switch (index) {
    case 0:
        if (m_state.callState != CallState::Idle) {
            m_calls->hangUp();
        } else if (s.Name.size() < 3) {
            showInformation(QStringLiteral("You must enter a name of at least 3 Characters in length.  "));
        } else if (s.EMail.size() < 8) {
            showInformation(QStringLiteral("You must enter an Email Address of at least 8 Characters in length."));
        } else {
            showDirectory(true);
        }
        break;
    case 1:
        showDirectory(true);
        break;
    case 2:
        toggleSelfView();
        break;
    case 3:
        toggleChat();
        break;
    default:
        break; // push to talk works on press and release
    }
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

    placeMainWindow();
    m_frmMain->setActivityFrame(0);
    m_frmMain->applyDisplaySize(320, 240);

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

    networkStart();
    loadSatelliteWindows();
    loadDataFiles();
    logLine(QStringLiteral("ZELMO Power Up"));
    m_frmMain->showNormalButtonLooks();
    connectMenus();
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
    connect(m_video, &VideoEngine::frameDrawn, m_frmMain, [this](const QImage &frame) {
        m_frmMain->videoView()->showFrame(frame);
    });
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
    connect(m_capture, &CaptureControl::cameraLampChanged, m_frmMain,
            [this](int lamp) { m_frmMain->setCameraLamp(frmMain::CameraLamp(lamp)); });
    connect(m_capture, &CaptureControl::errorMessage, this, &Program::showError);
    connect(m_capture, &CaptureControl::informationMessage, this, &Program::showInformation);
}

void Program::connectAudio()
{
    connect(m_audioControl, &AudioControl::micLampChanged, m_frmMain, &frmMain::setMicLamp);
    connect(m_audioControl, &AudioControl::talkButtonHeld, m_frmMain,
            [this](bool held) { m_frmMain->setButtonPressed(4, held); });
    connect(m_audioControl, &AudioControl::errorMessage, this, &Program::showError);
    connect(m_frmMain, &frmMain::talkPressed, m_audioControl, &AudioControl::talkPressed);
    connect(m_frmMain, &frmMain::talkReleased, m_audioControl, &AudioControl::talkReleased);
    // Without sound devices there is nothing to talk with.
    if (QWidget *talk = m_frmMain->findChild<QWidget *>(QStringLiteral("cmdtoolbar4")))
        talk->setEnabled(m_state.hasAudio);
}

void Program::connectSelfView()
{
    connect(m_frmSelf, &frmSelf::hiddenByUser, this,
            [this] { setSatelliteShown(m_frmSelf, QStringLiteral("Menu_ViewSelf"), 2, false); });
    connect(m_frmSelf, &frmSelf::settingsRequested, this, [this] {
        optionsWindow()->show();
        optionsWindow()->raise();
    });
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

void Program::placeMainWindow()
{
    const int width = Twips::toPixels(4960);
    const int height = Twips::toPixels(3855);
    m_frmMain->resize(width, height);
    const int screenWidth = WindowPlacement::screenWidth(m_frmMain);
    const int screenHeight = WindowPlacement::screenHeight(m_frmMain);
    m_frmMain->move((screenWidth - width) / 2, (screenHeight - height) / 5);
}

void Program::networkStart()
{
    EndpointError e;
    for (auto *endpoint : {static_cast<QObject *>(m_ipdMedia), static_cast<QObject *>(m_ipdControl),
                           static_cast<QObject *>(m_ippControl), static_cast<QObject *>(m_ippClient),
                           static_cast<QObject *>(m_ipdMessage)}) {
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

    m_ipdMessage->setLocalPort(m_state.ListenPortBase + 2);
    if ((e = m_ipdMessage->setListening(true)))
        showMessageBox(errorText(QStringLiteral("Failed to start Listen Daemon 3: "), e));

    if (m_ippClient->setRemoteAddress(m_ippClient->localAddress())) {
        showMessageBox(QStringLiteral("You must connect to the Internet before running ZELMO. Please connect to "
                                      "the Internet and run ZELMO again."));
    }
}

void Program::loadSatelliteWindows()
{
    m_frmSelf = new frmSelf(*m_capture, *m_video, m_frmMain);
    connectSelfView();
    m_frmNewChat = new frmNewChat(*m_chat, m_frmMain);
    m_frmNewChat->placeBelow(m_frmMain);
    if (const EndpointError e = m_chat->start())
        showMessageBox(errorText(QStringLiteral("Failed to start text Listen Daemon 4: "), e));
    m_frmRates = new frmRates(m_frmMain);
    m_frmLog = new frmLog(*m_log, m_frmMain);
    m_frmBusyNotify = new frmBusyNotify(m_frmMain);

    connect(m_frmNewChat, &frmNewChat::hiddenByUser, this,
            [this] { setSatelliteShown(m_frmNewChat, QStringLiteral("Menu_ViewChat"), 3, false); });
    connect(m_frmNewChat, &frmNewChat::activated, this, [this] {
        m_frmMain->action(QStringLiteral("Menu_ViewChat"))->setChecked(true);
        m_frmMain->setButtonPressed(3, true);
    });
}

void Program::loadDataFiles()
{
    m_state.refuseList.load(profilePath(QStringLiteral("refuse.dat")));
    m_state.palList.load(profilePath(QStringLiteral("zelmo.pal")));
    m_directory->start();
    m_log->load(profilePath(QStringLiteral("zelmo.log")));
}

void Program::connectMenus()
{
    frmMain *w = m_frmMain;
    connect(w->action(QStringLiteral("Menu_Quit")), &QAction::triggered, this, &Program::requestClose);
    connect(w->action(QStringLiteral("Menu_FileCall")), &QAction::triggered, this, [this] { showDirectory(false); });
    // The check marks follow the windows, which the toggles set.
    connect(w->action(QStringLiteral("Menu_ViewSelf")), &QAction::triggered, this, &Program::toggleSelfView);
    connect(w->action(QStringLiteral("Menu_ViewChat")), &QAction::triggered, this, &Program::toggleChat);
    connect(w->action(QStringLiteral("Menu_ViewLog")), &QAction::triggered, this, [this] {
        m_frmLog->show();
        m_frmLog->raise();
    });
    connect(w->action(QStringLiteral("Menu_ViewRates")), &QAction::triggered, this, [this] {
        m_frmRates->placeBeside(m_frmMain);
        m_frmRates->show();
        m_frmRates->raise();
    });
    connect(w->action(QStringLiteral("Menu_ViewOptions")), &QAction::triggered, this, [this] {
        optionsWindow()->show();
        optionsWindow()->raise();
    });
    connect(w->action(QStringLiteral("Menu_HelpAbout")), &QAction::triggered, this, [this] {
        aboutWindow()->show();
        aboutWindow()->raise();
    });
    connect(w, &frmMain::doNotDisturbToggled, this, &Program::toggleDoNotDisturb);
}

void Program::toggleDoNotDisturb()
{
    m_state.doNotDisturb = !m_state.doNotDisturb;
    m_frmMain->setDoNotDisturb(m_state.doNotDisturb);
}

void Program::setSatelliteShown(QWidget *window, const QString &menuItem, int button, bool shown)
{
    m_frmMain->action(menuItem)->setChecked(shown);
    m_frmMain->setButtonPressed(button, shown);
    if (shown) {
        window->show();
        window->raise();
    } else {
        window->hide();
    }
}

void Program::toggleSelfView()
{
    setSatelliteShown(m_frmSelf, QStringLiteral("Menu_ViewSelf"), 2, !m_frmSelf->isVisible());
}

void Program::toggleChat()
{
    setSatelliteShown(m_frmNewChat, QStringLiteral("Menu_ViewChat"), 3, !m_frmNewChat->isVisible());
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
        restoreSatelliteWindows();
        m_frmMain->show();
        const Settings &s = m_state.settings;
        if (s.Name.isEmpty() || s.Location.isEmpty() || s.EMail.isEmpty()) {
            optionsWindow()->show();
            showInformation(QStringLiteral("Please take a moment to fill in your user information and verify the "
                                           "setup."));
        }
        emit startupTailFinished();
    }
}

void Program::restoreSatelliteWindows()
{
    const Settings &s = m_state.settings;
    if (!s.RememberWin) {
        setSatelliteShown(m_frmSelf, QStringLiteral("Menu_ViewSelf"), 2, true);
        return;
    }
    if (s.SelfViewOn)
        setSatelliteShown(m_frmSelf, QStringLiteral("Menu_ViewSelf"), 2, true);
    if (s.ChatToolOn)
        setSatelliteShown(m_frmNewChat, QStringLiteral("Menu_ViewChat"), 3, true);
    if (s.DataRatesOn) {
        m_frmRates->placeBeside(m_frmMain);
        m_frmRates->show();
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

    // Connections first, so no event of a half-closed endpoint reaches a closing window.
    m_directory->shutdown();
    m_ippClient->setConnected(false);
    if (m_ipdControl->isConnected(1))
        m_ipdControl->closeConnection(1);
    if (m_ipdMedia->isConnected(1))
        m_ipdMedia->closeConnection(1);
    m_ippControl->setConnected(false);
    m_ipdMedia->setListening(false);
    m_ipdControl->setListening(false);
    m_ipdMessage->setListening(false);
    m_chat->shutdown();
    for (IPDaemon *d : {m_ipdMedia, m_ipdControl, m_ipdMessage})
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
    for (QWidget *w : std::initializer_list<QWidget *>{m_frmSelf, m_frmNewChat, m_frmOptions, m_frmRates, m_frmAbout,
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
    if (!m_frmOptions)
        m_frmOptions = new frmOptions(m_frmMain);
    return m_frmOptions;
}

frmAbout *Program::aboutWindow()
{
    if (!m_frmAbout)
        m_frmAbout = new frmAbout(m_frmMain);
    return m_frmAbout;
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
