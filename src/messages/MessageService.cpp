#include "messages/MessageService.h"

#include "core/EndpointConnection.h"
#include "core/IPDaemon.h"
#include "core/RefuseList.h"
#include "core/Settings.h"
#include "media/SoundPlayer.h"
#include "messages/QuickMessageProtocol.h"

#include <QTimer>

namespace Proto = QuickMessageProtocol;

MessageService::MessageService(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_ipdMessage(new IPDaemon(this))
{
    m_ipdMessage->setObjectName(QStringLiteral("ipdMessage"));
    // Set before any connection exists, so that even its first bytes are cut right.
    m_ipdMessage->setDefaultLineEnd(Proto::Terminator);
    m_ipdMessage->setInputBufferSize(Proto::InputBufferSize);
    m_clock.start();
    connect(m_ipdMessage, &IPDaemon::connectionRequest, this, &MessageService::onConnectionRequest);
    connect(m_ipdMessage, &IPDaemon::connected, this,
            [this](int id, int code, const QString &) { onConnected(id, code); });
    connect(m_ipdMessage, &IPDaemon::dataIn, this, &MessageService::onData);
    connect(m_ipdMessage, &IPDaemon::disconnected, this, [this](int id, int, const QString &) { onDisconnected(id); });
}

MessageService::~MessageService()
{
    m_ipdMessage->disconnect(this);
}

EndpointError MessageService::startListening(int port)
{
    if (const EndpointError e = m_ipdMessage->setStackOn(true))
        return e;
    if (const EndpointError e = m_ipdMessage->setLocalPort(port))
        return e;
    return m_ipdMessage->setListening(true);
}

void MessageService::shutdown()
{
    m_ipdMessage->setListening(false);
    m_ipdMessage->setStackOn(false);
}

// ---- The listener ----

void MessageService::onConnectionRequest(const QString &address, bool *accept)
{
    // One subscriber's IPv6 addresses count as one.
    const QString source = EndpointConnection::sourceOf(address);
    const auto fromAddress = std::count_if(m_connections.cbegin(), m_connections.cend(), [&](const Connection &c) {
        return EndpointConnection::sourceOf(c.address) == source;
    });
    if (fromAddress >= MaxPerAddress || (m_connections.size() >= MaxConnections && !makeRoom()))
        *accept = false;
}

bool MessageService::makeRoom()
{
    const qint64 now = m_clock.elapsed();
    int oldest = 0;
    qint64 oldestAt = 0;
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it) {
        if (it->headSeen || now - it->openedAt < HeadWaitMs)
            continue;
        if (oldest == 0 || it->openedAt < oldestAt) {
            oldest = it.key();
            oldestAt = it->openedAt;
        }
    }
    if (oldest == 0)
        return false;
    // Raises disconnected at once, which gives the slot back.
    m_ipdMessage->closeConnection(oldest);
    return true;
}

void MessageService::onConnected(int id, int statusCode)
{
    if (statusCode != 0)
        return;
    int slot = m_store.claim();
    // A declined connection holds no slot: closing it may not be enough.
    while (slot == 0 && makeRoom())
        slot = m_store.claim();
    if (slot == 0) {
        m_ipdMessage->closeConnection(id);
        return;
    }
    Connection c;
    c.slot = slot;
    c.address = m_ipdMessage->remoteAddress(id);
    c.openedAt = m_clock.elapsed();
    c.deadline = new QTimer(this);
    c.deadline->setSingleShot(true);
    QTimer *deadline = c.deadline;
    connect(deadline, &QTimer::timeout, this, [this, id, deadline] {
        const auto it = m_connections.constFind(id);
        if (it != m_connections.cend() && it->deadline == deadline)
            m_ipdMessage->closeConnection(id);
    });
    deadline->start(m_idleCloseMs);
    m_connections.insert(id, c);
    m_ipdMessage->setLineEnd(id, Proto::Terminator);
}

void MessageService::onData(int id, const QByteArray &text, bool eol)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    if (!eol) {
        it->skipping = true;
        return;
    }
    if (it->skipping) {
        it->skipping = false;
        return;
    }
    handle(id, *it, text);
}

void MessageService::handle(int id, Connection &c, const QByteArray &line)
{
    using Kind = Proto::Message::Kind;
    const Proto::Message m = Proto::parse(line);
    if (m.kind == Kind::Ignored)
        return;

    if (m.kind == Kind::Request) {
        if (c.phase != Connection::Phase::New)
            return;
        if (m_.refuseList.isRefused(m.userNumber) || m_.settings.Disable) {
            // The connection stays until the sender closes it (or the idle close), but
            // holds no slot and can store nothing.
            c.phase = Connection::Phase::Declined;
            m_store.release(c.slot);
            c.slot = 0;
            m_ipdMessage->sendData(id, Proto::declined());
        } else {
            c.phase = Connection::Phase::Accepted;
            m_ipdMessage->sendData(id, Proto::accepted());
        }
        return;
    }
    if (c.phase != Connection::Phase::Accepted)
        return;
    QuickMessage &message = m_store.message(c.slot);
    if (m.kind == Kind::Head) {
        c.headSeen = true;
        message.senderNumber = m.head.userNumber;
        message.senderName = m.head.name;
        message.senderEmail = m.head.email;
        message.senderLocation = m.head.location;
        message.sentAt = m.head.sentAt;
        message.text = m.head.text;
        message.senderHost = m_ipdMessage->remoteAddress(id);
        message.security = m_ipdMessage->security(id);
        m_ipdMessage->sendData(id, Proto::next());
        return;
    }
    // The parts of a message come after its head.
    if (!c.headSeen)
        return;
    switch (m.kind) {
    case Kind::Picture:
        message.picture = m.payload.left(Proto::MaxPictureBytes);
        m_ipdMessage->sendData(id, Proto::next());
        break;
    case Kind::Audio:
        if (message.audioBlocks.size() < Proto::MaxAudioBlocks)
            message.audioBlocks.append(m.payload.left(Proto::MaxAudioBlockBytes));
        break;
    case Kind::AudioEnd:
        m_ipdMessage->sendData(id, Proto::next());
        break;
    case Kind::End:
        finishMessage(id, c);
        break;
    default:
        break;
    }
}

void MessageService::finishMessage(int id, Connection &c)
{
    QuickMessage &message = m_store.message(c.slot);
    if (m_senderCheck)
        message.senderStanding = m_senderCheck(message.security, message.senderHost);
    m_store.complete(c.slot);
    const int slot = c.slot;
    c.slot = 0;
    // The message sound plays whatever the sound devices are doing.
    m_.sounds.play(QStringLiteral("inmsg.wav"));
    m_ipdMessage->closeConnection(id);
    emit waitingChanged(m_store.waitingCount());
    if (const quint64 serial = m_store.serial(slot))
        emit messageArrived(serial, m_store.message(slot));
}

void MessageService::onDisconnected(int id)
{
    const auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    // A message not finished is dropped, so broken senders cannot use up the slots.
    m_store.release(it->slot);
    if (it->deadline)
        it->deadline->deleteLater();
    m_connections.erase(it);
}

std::optional<QuickMessage> MessageService::takeOldest()
{
    return take(m_store.oldestSerial());
}

std::optional<QuickMessage> MessageService::take(quint64 id)
{
    std::optional<QuickMessage> message = m_store.take(id);
    emit waitingChanged(m_store.waitingCount());
    if (message)
        emit messageTaken(id);
    return message;
}

FileError MessageService::refuse(qint32 userNumber, const QString &name, const QString &email)
{
    if (!canRefuse(userNumber) || m_.refuseList.isRefused(userNumber))
        return {};
    const FileError e = m_.refuseList.add(m_.refuseFile, userNumber, name, email);
    if (e) {
        emit saveFailed(tr("Could not save Refuse List data File, ") + QString::number(e.code)
                        + QStringLiteral(" : ") + e.description);
    }
    return e;
}
