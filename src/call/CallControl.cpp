#include "call/CallControl.h"

#include "call/CallAddress.h"
#include "call/CallPrompt.h"
#include "call/ControlProtocol.h"
#include "core/EndpointConnection.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/CallStates.h"
#include "core/PeerChannel.h"
#include "core/Settings.h"
#include "media/SoundPlayer.h"
#include "media/AudioControl.h"
#include "media/MediaConnection.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

const QString RingSound = QStringLiteral("ringin.wav");

QString invalidHost(const EndpointError &e)
{
    return QCoreApplication::translate("CallControl", "You have entered an invalid Host Address: ")
           + QString::number(e.code) + QLatin1Char(' ')
           + e.description;
}

} // namespace

CallControl::CallControl(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_directory([](int) { return DirectoryEntry{}; })
    , m_emailLookup([](const QString &) { return false; })
    , m_now([] { return QTime::currentTime(); })
{
    connect(&m_.ippControl, &IPPort::connected, this, &CallControl::onControlConnected);
    connect(&m_.ippControl, &IPPort::dataIn, this, &CallControl::onControlData);
    connect(&m_.ippControl, &IPPort::disconnected, this, &CallControl::onControlDisconnected);
    connect(&m_.ipdControl, &IPDaemon::connectionRequest, this, &CallControl::onIncomingRequest);
    connect(&m_.ipdControl, &IPDaemon::connected, this, &CallControl::onIncomingConnected);
    connect(&m_.ipdControl, &IPDaemon::dataIn, this, &CallControl::onIncomingData);
    connect(&m_.ipdControl, &IPDaemon::disconnected, this, &CallControl::onIncomingDisconnected);
}

void CallControl::setDirectoryLookup(std::function<DirectoryEntry(int)> lookup)
{
    m_directory = std::move(lookup);
}

void CallControl::setEmailLookup(std::function<bool(const QString &)> lookup)
{
    m_emailLookup = std::move(lookup);
}

void CallControl::setClock(std::function<QTime()> now)
{
    m_now = std::move(now);
}

void CallControl::setRequestCheck(std::function<RequestVerdict(int connectionId)> check)
{
    m_requestCheck = std::move(check);
}

void CallControl::setDeadlines(int silentMs, int lingerMs, int mediaWaitMs)
{
    m_silentMs = silentMs;
    m_lingerMs = lingerMs;
    m_mediaWaitMs = mediaWaitMs;
}

void CallControl::armDeadline(int connectionId, int ms)
{
    QTimer *deadline = m_deadlines.value(connectionId);
    if (!deadline) {
        deadline = new QTimer(this);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, [this, connectionId] {
            // The control connection of a running call stays for the whole call.
            if (connectionId == 1 && m_.call.callState == CallState::InCall)
                return;
            m_.ipdControl.closeConnection(connectionId);
        });
        m_deadlines.insert(connectionId, deadline);
    }
    deadline->start(ms);
}

void CallControl::disarmDeadline(int connectionId)
{
    if (QTimer *deadline = m_deadlines.take(connectionId))
        deadline->deleteLater();
}

QString CallControl::transcript(const QString &name, const QString &location, const QString &time) const
{
    return tr("Call: %1, Time in %2 is %3.").arg(name, location, time) + QStringLiteral("\r\n");
}

// ---- The caller's side ----

void CallControl::placeCall(const QString &address, int port, int userIndex, const QString &directoryName)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty()) {
        emit informationRequested(
            tr("Select a user on the list or enter an E-Mail or IP Address to place a call."));
        return;
    }
    if (CallAddress::isEmailAddress(trimmed)) {
        // Without the directory server nobody can look the address up.
        const ConnectState before = m_.call.ConnectState;
        m_.call.ConnectState = ConnectState::LookingUpEmail;
        if (!m_emailLookup(trimmed)) {
            m_.call.ConnectState = before;
            return;
        }
        m_lookedUp = trimmed;
        emit progressWindowRequested(trimmed, QStringLiteral("Unknown"));
        return;
    }

    // The previous attempt's connection goes first, so its end does not touch the new state.
    m_.ippControl.setConnected(false);
    m_.call.ConnectState = ConnectState::Establishing;
    if (userIndex > 0) {
        const DirectoryEntry entry = m_directory(userIndex);
        emit progressWindowRequested(entry.name, entry.location);
    } else if (userIndex == 0) {
        emit progressWindowRequested(QStringLiteral("Unknown"), trimmed);
    }

    const CallAddress target = CallAddress::parse(trimmed, port);
    EndpointError e;
    // The other channels' ports must exist too.
    if (!target.valid || PortPlan::port(target.port, PeerChannel::Chat) > 65535)
        e = {EndpointError::InvalidArgument, QStringLiteral("Invalid address or port")};
    if (!e)
        e = m_.ippControl.setRemotePort(target.port);
    if (!e)
        e = m_.ippControl.setRemoteAddress(target.host);
    if (e) {
        emit informationRequested(invalidHost(e));
        m_.call.ConnectState = ConnectState::Canceled;
        return;
    }
    if (!directoryName.isEmpty() && m_pathPreparation)
        m_pathPreparation(directoryName, m_.ippControl.remoteAddress(), target.port);
    m_.ippControl.setConnected(true);
}

void CallControl::setPathPreparation(std::function<void(const QString &, const QString &, int)> prepare)
{
    m_pathPreparation = std::move(prepare);
}

void CallControl::emailLookupAnswered(const QString &name, const QString &location, const QString &address, int port)
{
    // An answer after the user gave up, or a second answer, places no call.
    if (m_.call.ConnectState != ConnectState::LookingUpEmail)
        return;
    if (address == QLatin1String("0.0.0.0") || port <= 0) {
        // The window keeps the address that was looked up.
        m_.call.ConnectState = ConnectState::EmailNotFound;
        return;
    }
    emit progressWindowRequested(name, location);
    placeCall(address, port, -1, m_lookedUp);
}

void CallControl::emailLookupFailed()
{
    if (m_.call.ConnectState == ConnectState::LookingUpEmail)
        m_.call.ConnectState = ConnectState::DidNotAnswer;
}

void CallControl::cancelAttempt()
{
    // Also abandons a connection still being opened, so a late connect sends no request;
    // the state is set after the close so that its end does not read as "no answer".
    m_.ippControl.setConnected(false);
    m_.call.ConnectState = ConnectState::Canceled;
}

void CallControl::onControlConnected(int statusCode)
{
    if (statusCode != 0) {
        // Nobody took the connection, or it was turned away before it was made: the
        // callee never heard the call, so it did not fail to answer.
        m_.call.ConnectState = ConnectState::CouldNotConnect;
        return;
    }
    m_.call.ConnectState = ConnectState::Requesting;
    m_calleeSpoke = false;
    const Settings &s = m_.settings;
    m_.ippControl.sendData(ControlProtocol::request(s.Name, s.Location, m_now()));
}

void CallControl::onControlData(const QByteArray &text)
{
    m_calleeSpoke = true;
    const ControlProtocol::Message m = ControlProtocol::parse(text);
    const QString address = m_.ippControl.remoteAddress();
    using Kind = ControlProtocol::Message::Kind;
    switch (m.kind) {
    case Kind::Accepted:
    case Kind::Refused:
    case Kind::Busy:
        // One answer per request: a repeated answer must not reopen the media of a call.
        if (m_.call.ConnectState != ConnectState::Requesting)
            return;
        break;
    default:
        break;
    }

    switch (m.kind) {
    case Kind::Accepted:
        m_.call.PeerName = m.name;
        m_.call.ConnectState = ConnectState::Accepted;
        m_.logLine(QStringLiteral("Call Accepted from ") + m.name + QStringLiteral(", ") + m.location
                  + QLatin1Char(' ') + address + QStringLiteral(", ") + m.time);
        emit transcriptLine(transcript(m.name, m.location, m.time));
        if (!m_.ipdControl.isConnected(1) && m_.audio.soundIdle())
            m_.sounds.play(RingSound);
        m_.ippControl.sendData(ControlProtocol::userInfo(m_.settings.EnableRTC));
        m_.media.open(address);
        break;
    case Kind::Refused:
        m_.call.ConnectState = ConnectState::Refused;
        m_.logLine(QStringLiteral("Call Not Accepted from ") + address);
        hangUpOutgoing();
        break;
    case Kind::Busy:
        m_.call.ConnectState = ConnectState::Busy;
        m_.logLine(QStringLiteral("User at ") + address + QStringLiteral(" busy."));
        hangUpOutgoing();
        break;
    case Kind::UserInfo:
        if (m.isV25) {
            m_.call.PeerIsV25 = true;
            m_.call.RealTimeChat = m.rtc;
        }
        break;
    default:
        break;
    }
}

void CallControl::onControlDisconnected()
{
    const ConnectState state = m_.call.ConnectState;
    if (state == ConnectState::Requesting && !m_calleeSpoke && m_.ippControl.security().fellBack) {
        // The callee's encrypted port answered but no handshake came of it, and the plain
        // connection then closed without a word (a flood held its places, say): the call
        // never reached a program that could answer it.
        m_.call.ConnectState = ConnectState::CouldNotConnect;
    } else if (state != ConnectState::Busy && state != ConnectState::Refused) {
        m_.call.ConnectState = ConnectState::DidNotAnswer;
    }
    m_.call.callState = CallState::Idle;
}

void CallControl::hangUp()
{
    if (m_.ipdMedia.isConnected(1))
        hangUpIncoming(1);
    else if (m_.ippClient.isConnected())
        hangUpOutgoing();
}

void CallControl::hangUpIncoming(int connectionId)
{
    m_.ipdMedia.closeConnection(connectionId);
    m_.ipdControl.closeConnection(connectionId);
}

void CallControl::hangUpOutgoing()
{
    m_.ippClient.setConnected(false);
    m_.ippControl.setConnected(false);
}

// ---- The callee's side ----

void CallControl::onIncomingRequest(const QString &address, bool *accept)
{
    // Do-not-disturb refuses the connection itself: the caller sees no answer.
    if (m_doNotDisturb) {
        *accept = false;
        return;
    }
    // One source cannot take every place, and a silent connection cannot keep number 1,
    // where calls are answered, from a caller elsewhere: otherwise a stranger's idle
    // connections would make this program busy for everyone.
    const QString source = EndpointConnection::sourceOf(address);
    int fromSource = 0;
    for (const int id : m_.ipdControl.connectionIds())
        fromSource += EndpointConnection::sourceOf(m_.ipdControl.remoteAddress(id)) == source ? 1 : 0;
    if (fromSource >= MaxControlPerSource) {
        *accept = false;
        return;
    }
    const auto silent = m_silentSince.constFind(1);
    if (silent != m_silentSince.cend() && m_clock.elapsed() - *silent >= SilentGraceMs
        && EndpointConnection::sourceOf(m_.ipdControl.remoteAddress(1)) != source)
        m_.ipdControl.closeConnection(1);
    *accept = m_.ipdControl.connectionIds().size() < MaxControlConnections;
}

void CallControl::onIncomingConnected(int connectionId, int statusCode)
{
    if (statusCode != 0)
        return;
    if (!m_clock.isValid())
        m_clock.start();
    m_silentSince.insert(connectionId, m_clock.elapsed());
    armDeadline(connectionId, m_silentMs);
}

void CallControl::onIncomingDisconnected(int connectionId)
{
    m_silentSince.remove(connectionId);
    disarmDeadline(connectionId);
    if (connectionId == 1) {
        const bool accepted = m_.call.callAcceptedOnControl;
        m_.call.callAcceptedOnControl = false;
        m_offerPending = false;
        if (accepted)
            emit acceptedCallerLeft();
    }
}

void CallControl::onIncomingData(int connectionId, const QByteArray &text)
{
    const ControlProtocol::Message m = ControlProtocol::parse(text);
    using Kind = ControlProtocol::Message::Kind;
    if (m.kind == Kind::UserInfo) {
        // Only the caller of the call on hand speaks for the call; anyone gets the reply.
        if (m.isV25 && connectionId == 1) {
            m_.call.PeerIsV25 = true;
            m_.call.RealTimeChat = m.rtc && m_.settings.EnableRTC;
        }
        m_.ipdControl.sendData(connectionId, ControlProtocol::userInfo(m_.call.RealTimeChat));
        return;
    }
    if (m.kind != Kind::Request)
        return;

    m_silentSince.remove(connectionId);
    disarmDeadline(connectionId);
    const QString address = m_.ipdControl.remoteAddress(connectionId);
    // A call already going on makes any further request busy, wherever it comes from.
    const bool busy = connectionId > 1
                      || (m_.ippControl.isConnected() && address != m_.ippControl.localAddress())
                      || m_.call.callState != CallState::Idle;
    if (busy) {
        emit busyNotice(m.name, m.location);
        if (m_.audio.soundIdle())
            m_.sounds.play(RingSound);
        if (m_.ipdControl.isConnected(connectionId)) {
            m_.ipdControl.sendData(connectionId, ControlProtocol::busy());
            armDeadline(connectionId, m_lingerMs);
        }
        m_.logLine(QStringLiteral("Sent busy to :") + m.name + QStringLiteral(", ") + m.location + QLatin1Char(' ')
                  + address);
        return;
    }

    const RequestVerdict verdict = m_requestCheck ? m_requestCheck(connectionId) : RequestVerdict::Offer;
    if (verdict == RequestVerdict::Refuse) {
        m_.ipdControl.sendData(connectionId, ControlProtocol::refusal());
        armDeadline(connectionId, m_lingerMs);
        m_.logLine(QStringLiteral("Refused a call that was not encrypted from ") + m.name + QStringLiteral(", ")
                  + m.location + QLatin1Char(' ') + address);
        emit informationRequested(tr("A call from %1 (%2) was refused: it was not encrypted, and only "
                                     "encrypted calls are accepted (Options).")
                                      .arg(m.name, m.location));
        return;
    }

    // Only an offered call names the peer; a busy caller must not rename the current one.
    m_.call.PeerName = m.name;
    m_offerPending = true;
    const bool autoAccept = verdict == RequestVerdict::Offer && (m_.settings.AutoAccept || m_answerNextCall);
    if (autoAccept)
        acceptOffered();
    emit callOffered(m.name, m.location, autoAccept);
    if (m_.audio.soundIdle())
        m_.sounds.play(RingSound);
    m_.logLine(QStringLiteral("Received Call from ") + m.name + QStringLiteral(", ") + m.location + QLatin1Char(' ')
              + address + QStringLiteral(", ") + m.time);
    emit transcriptLine(transcript(m.name, m.location, m.time));
}

bool CallControl::sendOnConnectionOne(const QByteArray &text)
{
    if (!m_offerPending || !m_.ipdControl.isConnected(1))
        return false;
    m_offerPending = false;
    m_.ipdControl.sendData(1, text);
    return m_.ipdControl.sentCount(1) > 0;
}

void CallControl::acceptOffered()
{
    const Settings &s = m_.settings;
    if (sendOnConnectionOne(ControlProtocol::acceptance(s.Name, s.Location, m_now()))) {
        m_.call.callAcceptedOnControl = true;
        armDeadline(1, m_mediaWaitMs);
    }
}

void CallControl::declineOffered()
{
    if (sendOnConnectionOne(ControlProtocol::refusal()))
        armDeadline(1, m_lingerMs);
}

bool CallControl::mediaClientConnected() const
{
    return m_.ippClient.isConnected();
}

bool CallControl::isAcceptedCaller(const QString &remoteAddress) const
{
    return m_.call.callAcceptedOnControl && m_.ipdControl.isConnectionUp(1)
           && m_.ipdControl.remoteAddress(1) == remoteAddress;
}

void CallControl::mediaStateChanged(CallState state)
{
    m_.call.callState = state;
}

void CallControl::mediaConnectFailed()
{
    m_.call.ConnectState = ConnectState::CouldNotConnect;
}

void CallControl::mediaEnded()
{
    m_.call.RealTimeChat = false;
    m_.call.PeerIsV25 = false;
}

void CallControl::videoReceived(int payloadBytes)
{
    m_.call.lastVideoPayload = quint16(payloadBytes);
}

void CallControl::autoDeclineOffered(const QString &name, const QString &location)
{
    declineOffered();
    m_.logLine(CallPrompt::autoDeclineLogLine(name, location));
}
