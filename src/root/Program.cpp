#include "root/Program.h"

#include "core/PeerChannel.h"
#include "path/CallPath.h"
#include "path/PathDialer.h"
#include "path/PathFinder.h"

#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "core/ActivityLog.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/OptionsLogic.h"
#include "media/SoundPlayer.h"
#include "directory/DirectoryService.h"
#include "directory/PalService.h"
#include "directory/ServerKeyTrust.h"
#include "directory/UserNumberFile.h"
#include "media/AudioControl.h"
#include "media/AudioSetup.h"
#include "media/CaptureControl.h"
#include "media/DeviceNotice.h"
#include "media/MediaConnection.h"
#include "media/MediaFormatChoice.h"
#include "media/MediaSession.h"
#include "media/AudioEngine.h"
#include "media/devices/DeviceProvider.h"
#include "media/VideoEngine.h"
#include "messages/MessageMedia.h"
#include "messages/MessageService.h"
#include "secure/CallSecurity.h"
#include "reach/ReachabilityService.h"
#include "reach/RouterSettings.h"
#include "secure/DirectoryDialer.h"
#include "secure/SecureListener.h"
#include "secure/SecurityService.h"
#include "share/ScreenShare.h"

#include <QDir>
#include <QTimer>

namespace {

QString errorText(const QString &prefix, const EndpointError &e)
{
    return prefix + QString::number(e.code) + QLatin1Char(' ') + e.description;
}

const QString SettingsFile = QStringLiteral("zelmo.ini");
const QString PalFile = QStringLiteral("zelmo.pal");
const QString RefuseFile = QStringLiteral("refuse.dat");
const QString LogFile = QStringLiteral("zelmo.log");

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
    , m_audioControl(new AudioControl(m_call, *m_audio, m_audioSendQueue, this))
    , m_audioSetup(new AudioSetup(*m_audio, *m_devices, profilePath(AudioSettings::FileName),
                                  [this](const QString &line) { logLine(line); }, this))
    , m_formats(new MediaFormatChoice(profilePath(MediaFormatSettings::FileName), this))
    , m_capture(new CaptureControl(m_settings, *m_video, this))
    , m_share(new ScreenShare(ScreenShare::fromSystem(*m_capture, [this](const QString &line) { logLine(line); },
                                                      MediaSession::TickMs),
                              this))
    , m_calls(new CallControl({m_call, m_settings, *m_ipdControl, *m_ipdMedia, *m_ippControl, *m_ippClient, *m_media,
                               *m_sounds, *m_audioControl, [this](const QString &line) { logLine(line); }},
                              this))
    , m_session(new MediaSession({*m_calls, m_settings, *m_ipdControl, *m_ipdMedia, *m_ippControl, *m_ippClient,
                                  *m_video, *m_audio, *m_audioControl, *m_capture, *m_sounds, m_mediaClock,
                                  m_mediaStats, m_callClock, m_textQueue, m_audioSendQueue, m_audioPlayQueue,
                                  [this](const QString &line) { logLine(line); }, m_options.datagramModuleFolders},
                                 this))
    , m_chat(new ChatSession({m_settings, *m_calls, *m_session, *m_audioControl, *m_sounds, m_mediaClock}, this))
    , m_pals(new PalService({m_settings, m_palList, profilePath(PalFile), profilePath(UserNumberFile::FileName)}, this))
    , m_directory(new DirectoryService({m_settings, m_palList, *m_capture, *m_audioControl,
                                        [this] { return m_pals->userNumber(); }},
                                       this))
    , m_serverKeys(new ServerKeyTrust(this))
    , m_messages(new MessageService({m_settings, m_refuseList, *m_sounds, profilePath(RefuseFile)}, this))
    , m_messageMedia(new MessageMedia({*m_capture, *m_video, *m_audioControl, m_audioSendQueue}, this))
    , m_optionsLogic(new OptionsLogic(m_settings, m_refuseList, profilePath(RefuseFile), this))
    , m_security(new SecurityService({m_options.profileDir, [this] { return m_settings.EMail; },
                                      [this](const QString &line) { logLine(line); }, *m_ippControl, *m_ipdControl,
                                      [this] { return m_formats->offersCurrent(); }},
                                     this))
    , m_reach(new ReachabilityService({profilePath(RouterSettings::FileName),
                                       [this] { return std::pair(m_settings.DirAddress, int(quint16(m_settings.DirPort))); },
                                       [this](const QString &line) { logLine(line); }, &m_security->directoryDialer()},
                                      this))
{
    m_ipdControl->setObjectName(QStringLiteral("ipdControl"));
    m_ipdMedia->setObjectName(QStringLiteral("ipdMedia"));
    m_ippControl->setObjectName(QStringLiteral("ippControl"));
    m_ippClient->setObjectName(QStringLiteral("ippClient"));
    // The stored settings of the clients that carry framed peer messages.
    m_ippClient->setLineEnd("<E>");

    m_mediaTimer.setObjectName(QStringLiteral("tmrMain"));
    m_mediaTimer.setInterval(MediaSession::TickMs);
    m_startupTimer.setObjectName(QStringLiteral("tmrSecond"));
    m_startupTimer.setInterval(1000);
    connect(&m_mediaTimer, &QTimer::timeout, this, &Program::onMediaTick);
    connect(&m_startupTimer, &QTimer::timeout, this, &Program::onStartupTick);

    QDir().mkpath(m_options.profileDir);
    connectCalls();
    connectMedia();
    connectOptions();
    connectSecurity();
    connectPaths();
    // Callers from the directory must come to the block the router forwards.
    connect(m_reach, &ReachabilityService::outsideBaseChanged, this, [this](int base) {
        m_directory->setListenPort(base);
        m_pals->setListenPort(base);
        m_directory->refreshLogin();
        m_pals->refreshLogin();
    });
}

Program::~Program()
{
    shutdown();
}

// ---- Wiring -------------------------------------------------------------------------

void Program::connectCalls()
{
    connect(m_calls, &CallControl::informationRequested, &m_events, &ProgramEvents::informationRequested);
    connect(m_directory, &DirectoryService::informationRequested, &m_events, &ProgramEvents::informationRequested);
    connect(m_pals, &PalService::informationRequested, &m_events, &ProgramEvents::informationRequested);
    // The pal server goes with the directory server being reached, the window's activation
    // checks the pals, and the number the pal server assigns joins the directory login.
    connect(m_directory, &DirectoryService::connecting, m_pals, &PalService::directoryConnecting);
    connect(m_directory, &DirectoryService::palCheckDue, m_pals, &PalService::palCheckTick);
    connect(m_pals, &PalService::userNumberChanged, m_directory, &DirectoryService::refreshLogin);
    // Call control looks e-mails and listed users up in the directory, which places its calls.
    m_calls->setEmailLookup([this](const QString &address) { return m_directory->lookupEmail(address); });
    m_calls->setDirectoryLookup([this](int k) {
        const DirectoryProtocol::UserEntry *e = m_directory->entry(k);
        return e ? CallControl::DirectoryEntry{e->Name, e->Location} : CallControl::DirectoryEntry{};
    });
    connect(m_directory, &DirectoryService::emailAnswered, m_calls, &CallControl::emailLookupAnswered);
    connect(m_directory, &DirectoryService::lookupsLost, m_calls, &CallControl::emailLookupFailed);
    connect(m_directory, &DirectoryService::callRequested, m_calls, &CallControl::placeCall);
    connect(m_media, &MediaConnection::invalidAddress, &m_events, &ProgramEvents::informationRequested);
    connect(m_messages, &MessageService::saveFailed, &m_events, &ProgramEvents::messageBoxRequested);
}

void Program::connectMedia()
{
    connect(m_session, &MediaSession::textRefused, &m_events, &ProgramEvents::informationRequested);
    connect(m_session, &MediaSession::unsupportedCaptureFormat, m_capture, &CaptureControl::reportUnsupportedFormat);
    connect(m_session, &MediaSession::fiveSecondMark, m_capture, &CaptureControl::checkCaptureSize);
    connect(m_capture, &CaptureControl::resumed, m_session, &MediaSession::fetchFrame);
    connect(m_session, &MediaSession::inCallChanged, m_capture, &CaptureControl::setInCall);
    // A call's end stops the sharing (after the camera heard that the call no longer needs it).
    connect(m_session, &MediaSession::inCallChanged, m_share, &ScreenShare::setInCall);
    connect(m_share, &ScreenShare::problem, &m_events, &ProgramEvents::informationRequested);
    // Whatever gives the media loop work wakes it: a call coming or going, the self view
    // shown, the microphone or the speaker opening.
    connect(m_session, &MediaSession::inCallChanged, this, &Program::wakeMediaLoop);
    connect(m_ipdMedia, &IPDaemon::connectionRequest, this, &Program::wakeMediaLoop);
    connect(m_video, &VideoEngine::previewChanged, this, &Program::wakeMediaLoop);
    connect(m_audioControl, &AudioControl::micChanged, this, &Program::wakeMediaLoop);
    connect(m_audioControl, &AudioControl::speakerChanged, this, &Program::wakeMediaLoop);
    connect(m_capture, &CaptureControl::errorMessage, &m_events, &ProgramEvents::errorRequested);
    connect(m_audioControl, &AudioControl::errorMessage, &m_events, &ProgramEvents::errorRequested);
    connect(m_audioSetup, &AudioSetup::saveFailed, &m_events, &ProgramEvents::messageBoxRequested);
    connect(m_formats, &MediaFormatChoice::saveFailed, &m_events, &ProgramEvents::messageBoxRequested);
}

void Program::connectOptions()
{
    m_optionsLogic->setChatConnectionQuery([this] { return m_chat->isConnected(); });
    connect(m_optionsLogic, &OptionsLogic::directoryServerChanged, m_directory, &DirectoryService::closeDirectory);
    connect(m_optionsLogic, &OptionsLogic::loginChanged, m_directory, &DirectoryService::loginAgain);
    connect(m_optionsLogic, &OptionsLogic::loginChanged, m_pals, &PalService::refreshLogin);
    connect(m_optionsLogic, &OptionsLogic::informationRequested, &m_events, &ProgramEvents::informationRequested);
    // The options dialog closed: a sound-test recording is dropped and no longer held.
    connect(m_optionsLogic, &OptionsLogic::soundTestEnded, this, [this] {
        m_audioSendQueue.reset();
        m_audioControl->testClosed();
    });
}

// Encryption sits under the channels: their endpoints get the encrypted way, the call's
// listeners the rule that its channels share one key, the call control the check of each
// request, and the quick messages the standing of their senders.
void Program::connectSecurity()
{
    SecurityService &security = *m_security;
    security.route(PeerChannel::Control, *m_ipdControl);
    security.route(PeerChannel::Media, *m_ipdMedia);
    security.route(PeerChannel::Message, m_messages->ipdMessage());
    security.route(PeerChannel::Chat, m_chat->ipdText());
    security.guardCallChannel(*m_ipdMedia);
    security.guardCallChannel(m_chat->ipdText());
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
    connect(m_session, &MediaSession::inCallChanged, this, [this](bool inCall) {
        if (inCall)
            m_security->call().callStarted();
    });
    connect(&security, &SecurityService::notice, &m_events, &ProgramEvents::informationRequested);
    // The directory and pal connections go over TLS; the directory hears what that found.
    DirectoryDialer &directoryDialer = security.directoryDialer();
    security.attachDirectoryClient(m_directory->ippServer());
    security.attachDirectoryClient(m_pals->ippServerPal());
    directoryDialer.setHostName([this] { return m_settings.DirAddress; });
    connect(&directoryDialer, &DirectoryDialer::blocked, m_directory, &DirectoryService::connectionBlocked);
    connect(&directoryDialer, &DirectoryDialer::blocked, m_serverKeys, &ServerKeyTrust::connectionBlocked);
    connect(&directoryDialer, &DirectoryDialer::privacyKnown, m_directory, &DirectoryService::setPrivate);
    // An accepted key is pinned before the connections are made again.
    connect(m_serverKeys, &ServerKeyTrust::accepted, &directoryDialer, &DirectoryDialer::acceptOfferedKeys);
    connect(m_serverKeys, &ServerKeyTrust::accepted, m_directory, &DirectoryService::retryWithNewKey);
    connect(m_serverKeys, &ServerKeyTrust::accepted, m_pals, &PalService::retryWithNewKey);
}

// Calls to someone the directory server knows may go over a path it helps find, when
// neither side can be called directly; the channels' clients dial through that path or
// directly, and the encrypted port's handshake takes what comes over one.
void Program::connectPaths()
{
    m_paths = new PathFinder({[this](const QByteArray &text) { return m_pals->sendPathText(text); },
                              [this] { return m_pals->passesPathTexts(); },
                              [this](int descriptor, const QHostAddress &peer) {
                                  return m_security->adopt(descriptor, peer);
                              },
                              [this](const QString &line) { logLine(line); },
                              [this] {
                                  return m_ippControl->isConnected() || !m_ipdControl->connectionIds().isEmpty()
                                         || m_call.callState != CallState::Idle;
                              },
                              [this] { m_pals->renewRelay(); }},
                             this);
    m_pathDialer = new PathDialer(
        m_security->dialer(), [this](const QString &address, int port) { return m_paths->pathTo(address, port); },
        this);
    m_ippControl->setDialer(m_pathDialer, PeerChannel::Control);
    m_ippClient->setDialer(m_pathDialer, PeerChannel::Media);
    m_chat->ippText().setDialer(m_pathDialer, PeerChannel::Chat);
    m_calls->setPathPreparation([this](const QString &name, const QString &address, int port) {
        m_paths->prepareCall(name, address, port);
    });
    connect(m_pals, &PalService::relayAccessChanged, m_paths,
            [this](const std::optional<DirectoryProtocol::RelayAccess> &relay) { m_paths->setRelay(relay); });
    connect(m_pals, &PalService::callOfferArrived, m_paths, &PathFinder::offerArrived);
    connect(m_pals, &PalService::callAnswerArrived, m_paths, &PathFinder::answerArrived);
    connect(m_pals, &PalService::callEndArrived, m_paths, &PathFinder::endArrived);
    connect(m_pals, &PalService::pathServerLost, m_paths, &PathFinder::serverLost);
    connect(m_pathDialer, &PathDialer::callWayKnown, this, [this](const QString &address, int port, CallPath *path) {
        if (!path)
            m_paths->directCallMade(address, port);
        emit m_events.callWayChanged(CallPath::wayText(path ? path->way() : CallPath::Way::Direct));
    });
    connect(m_paths, &PathFinder::incomingWayKnown, this,
            [this](const QString &, CallPath *path) { emit m_events.callWayChanged(CallPath::wayText(path->way())); });
    connect(m_ipdControl, &IPDaemon::connectionRequest, this, [this] {
        // A call that came to the port came directly; one over a path said so just before.
        if (!m_wayFromPath && m_call.callState == CallState::Idle)
            emit m_events.callWayChanged(CallPath::wayText(CallPath::Way::Direct));
        m_wayFromPath = false;
    });
    connect(m_paths, &PathFinder::incomingWayKnown, this, [this] { m_wayFromPath = true; });
    connect(m_session, &MediaSession::inCallChanged, this, [this](bool inCall) {
        if (!inCall) {
            m_paths->callEnded();
            emit m_events.callWayChanged(QString());
        }
    });
}

void Program::prepareMessageClient(IPPort &client)
{
    client.setDialer(m_pathDialer, PeerChannel::Message);
}

// ---- Start-up -----------------------------------------------------------------------

QString Program::profilePath(const QString &fileName) const
{
    return QDir(m_options.profileDir).filePath(fileName);
}

void Program::start()
{
    if (m_started)
        return;
    m_started = true;

    m_settings.load(profilePath(SettingsFile));
    initializeEngines();
    networkStart();
    // The key and the TLS library come once the plain listeners are up: a call can come in
    // from the first moment, and an encrypted one only waits the few milliseconds they take.
    m_security->start();
    // Without its port this program still calls encrypted; the log says why none come in.
    m_security->listen(m_listenPort);
    // Calls can come in from here on; the windows are built now, before anything they show.
    emit m_events.listenersReady();
    if (m_options.reachability)
        m_reach->start(m_listenPort);
    emit m_events.loaded();

    // Capture starts with every frame previewed.
    m_capture->setPreviewRate(0);
    m_capture->startCapture();
    m_capture->checkCaptureSize();
    if (const EndpointError e = m_chat->start(PortPlan::port(m_listenPort, PeerChannel::Chat)))
        emit m_events.messageBoxRequested(errorText(tr("Failed to start text Listen Daemon 4: "), e));
    loadDataFiles();
    logLine(QStringLiteral("ZELMO Power Up"));
    m_mediaTimer.start();

    m_pendingCallAddress = m_options.callAddress;
    m_calls->setAnswerNextCall(!m_pendingCallAddress.isEmpty());
    if (!m_pendingCallAddress.isEmpty())
        emit m_events.startupTailFinished();
    else
        m_startupTimer.start();
}

void Program::initializeEngines()
{
    // The program's defaults: the listeners' first port, idle sound devices.
    m_listenPort = m_options.firstPort;
    m_video->initialize();
    m_video->setCompType(6);
    m_audioControl->start();
    m_audioSetup->start();
    m_formats->load();
    // Asking the system for its cameras loads the multimedia back end, which takes longer
    // than the rest of the start: the program listens for calls first.
    QTimer::singleShot(0, this, [this] {
        const QString notice = DeviceNotice::text(!m_devices->cameraNames().isEmpty(), m_devices->hasAudioInput(),
                                                  m_devices->hasAudioOutput());
        if (!notice.isEmpty()) {
            logLine(notice);
            emit m_events.devicesMissing(notice);
        }
    });
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
        emit m_events.messageBoxRequested(errorText(tr("Failed to init TCP/IP Stack:"), e));

    // A taken control port moves all four listeners on by four ports, a few times.
    m_ipdControl->setLocalPort(m_listenPort);
    e = m_ipdControl->setListening(true);
    for (int moves = 0; e.code == EndpointError::PortInUse && moves < PortPlan::MaxMoves; ++moves) {
        m_listenPort += PortPlan::ChannelCount;
        m_ipdControl->setLocalPort(m_listenPort);
        e = m_ipdControl->setListening(true);
    }
    if (e)
        emit m_events.messageBoxRequested(errorText(tr("Failed to start Listen Daemon 1: "), e));
    m_directory->setListenPort(m_listenPort);
    m_pals->setListenPort(m_listenPort);

    m_ipdMedia->setLocalPort(PortPlan::port(m_listenPort, PeerChannel::Media));
    if ((e = m_ipdMedia->setListening(true)))
        emit m_events.messageBoxRequested(errorText(tr("Failed to start Listen Daemon 2: "), e));

    if ((e = m_messages->startListening(PortPlan::port(m_listenPort, PeerChannel::Message))))
        emit m_events.messageBoxRequested(errorText(tr("Failed to start Listen Daemon 3: "), e));
    if (m_ippClient->setRemoteAddress(m_ippClient->localAddress())) {
        emit m_events.messageBoxRequested(tr("You must connect to the Internet before running ZELMO. Please "
                                             "connect to the Internet and run ZELMO again."));
    }
}

void Program::loadDataFiles()
{
    m_refuseList.load(profilePath(RefuseFile));
    m_palList.load(profilePath(PalFile));
    m_pals->start();
    m_directory->start();
    m_log->load(profilePath(LogFile));
}

void Program::onMediaTick()
{
    if (!m_pendingCallAddress.isEmpty()) {
        const QString address = m_pendingCallAddress;
        m_pendingCallAddress.clear();
        m_calls->placeCall(address, PortPlan::PublishedBase, 0);
    }
    m_session->tick();
    if (!m_mediaLoopByHand && !mediaLoopNeeded()) {
        m_mediaTimer.stop();
        m_mediaLoopResting = true;
    }
}

bool Program::mediaLoopNeeded() const
{
    return m_session->wantsTicks() || m_video->isPreviewing() || !m_audioControl->soundIdle()
           || !m_pendingCallAddress.isEmpty();
}

ProgramFace Program::face()
{
    return {m_events, m_options, m_settings, *m_log, *m_calls, *m_session, *m_chat, *m_directory, *m_pals,
            *m_serverKeys, *m_messages, *m_messageMedia, *m_optionsLogic, *m_security, *m_reach, *m_capture,
            *m_audioControl, *m_audioSetup, *m_formats, *m_video, *m_share, *m_audio,
            [this] { start(); }, [this] { return requestClose(); }, [this] { shutdown(); },
            [this](IPPort &client) { prepareMessageClient(client); },
            [this](const QString &fileName) { return profilePath(fileName); }, [this] { return m_listenPort; }};
}

ProgramParts Program::parts()
{
    return {m_refuseList, m_palList, m_call, *m_devices, *m_sounds,
            *m_ipdControl, *m_ipdMedia, *m_ippControl, *m_ippClient, *m_media,
            m_mediaClock, m_mediaStats, m_callClock, m_audioSendQueue, m_audioPlayQueue, m_textQueue, m_mediaTimer,
            m_startupTimer, [this](bool on) { setMediaLoopByHand(on); }};
}

void Program::setMediaLoopByHand(bool on)
{
    m_mediaLoopByHand = on;
    m_mediaLoopResting = false;
    if (on)
        m_mediaTimer.stop();
    else if (m_started && !m_shutDown && !m_shuttingDown)
        m_mediaTimer.start();
}

void Program::wakeMediaLoop()
{
    if (!m_mediaLoopResting || m_mediaLoopByHand || m_shutDown || m_shuttingDown)
        return;
    m_mediaLoopResting = false;
    m_mediaTimer.start();
}

void Program::onStartupTick()
{
    if (m_startupTicks == 0)
        m_pals->connectPalServer();
    if (m_startupTicks < 6)
        ++m_startupTicks;
    if (m_startupTicks == 5) {
        m_startupTimer.stop();
        emit m_events.startupTailFinished();
    }
}

// ---- Shutdown -----------------------------------------------------------------------

bool Program::requestClose()
{
    if (m_shutDown || m_shuttingDown)
        return true;
    if (m_call.ConnectState == ConnectState::Establishing) {
        emit m_events.informationRequested(
            tr("You must cancel the connection that is being established before exiting."));
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
    emit m_events.shuttingDown();
    // The router forwards nothing to a program that has gone.
    m_reach->shutdown();

    // Connections first, so no event of a half-closed endpoint reaches a closing window.
    m_directory->shutdown();
    m_pals->shutdown();
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
    // After the channels' goodbyes, which may still go over a path.
    m_paths->shutdown();
    for (IPDaemon *d : {m_ipdMedia, m_ipdControl})
        d->setStackOn(false);
    for (IPPort *p : {m_ippControl, m_ippClient})
        p->setStackOn(false);
    m_mediaTimer.stop();
    m_startupTimer.stop();

    logLine(QStringLiteral("ZELMO Power Down"));

    emit m_events.savingSettings();
    QString settingsError;
    if (!m_settings.save(profilePath(SettingsFile), &settingsError))
        qWarning("zelmo: could not write the settings: %s", qPrintable(settingsError));
    if (const FileError e = m_palList.save(profilePath(PalFile)))
        reportSaveFailure(tr("Could not save Pal File, "), e.code, e.description);
    if (const FileError e = m_refuseList.save(profilePath(RefuseFile)))
        reportSaveFailure(tr("Could not save Refuse List data File, "), e.code, e.description);

    m_capture->closeCapture();
    m_video->terminate();
    m_audioControl->shutdown();

    if (const FileError e = m_log->save(profilePath(LogFile)))
        reportSaveFailure(tr("Could not save Log File, "), e.code, e.description);

    m_shuttingDown = false;
    m_shutDown = true;
    emit m_events.finished();
}

bool Program::finishReleasing()
{
    return m_paths->waitForReleases(ReleaseWaitMs);
}

void Program::reportSaveFailure(const QString &text, int code, const QString &description)
{
    const QString message = text + QString::number(code) + QStringLiteral(" : ") + description;
    // The user who quit sees why a file was not written; a signal's sender may be a
    // session ending with nobody to click, so then the complaint goes to the terminal.
    if (m_userClosed && m_events.saveFailureHeard())
        emit m_events.saveFailed(message);
    else
        qWarning("zelmo: %s", qPrintable(message));
}

void Program::logLine(const QString &text)
{
    m_log->logLine(text);
}
