#include "messages/MessageSender.h"

#include "core/IPPort.h"
#include "core/PeerChannel.h"

namespace Proto = QuickMessageProtocol;

MessageSender::MessageSender(QObject *parent)
    : QObject(parent)
    , m_ippMessage(new IPPort(this))
{
    m_ippMessage->setObjectName(QStringLiteral("ippMessage"));
    m_ippMessage->setLineEnd(Proto::Terminator);
    m_ippMessage->setStackOn(true);
    connect(m_ippMessage, &IPPort::connected, this, [this](int code, const QString &) { onConnected(code); });
    connect(m_ippMessage, &IPPort::dataIn, this, &MessageSender::onData);
    connect(m_ippMessage, &IPPort::disconnected, this, [this] { onDisconnected(); });
}

MessageSender::~MessageSender()
{
    close();
}

QString MessageSender::lostText()
{
    return tr("Message not delivered: the connection was closed");
}

void MessageSender::send(const QString &host, int recipientPort, Outgoing message)
{
    if (m_state != State::Idle)
        return;
    m_message = std::move(message);
    m_pictureDue = !m_message.picture.isEmpty();
    m_audioDue = m_message.sendAudio;
    m_state = State::Connecting;
    emit busyChanged(true);
    setStatus(tr("Establishing Connection..."));

    m_ippMessage->setConnected(false);
    EndpointError e = m_ippMessage->setRemotePort(PortPlan::port(recipientPort, PeerChannel::Message));
    if (!e)
        e = m_ippMessage->setRemoteAddress(host);
    if (e) {
        m_state = State::Failed;
        emit busyChanged(false);
        emit invalidAddress(tr("You have entered an invalid Host Address: ") + QString::number(e.code)
                            + QLatin1Char(' ') + e.description);
        return;
    }
    if (m_ippMessage->setConnected(true))
        fail(State::Failed, tr("Failed to Establish Connection"));
}

void MessageSender::close()
{
    if (m_state == State::Connecting || m_state == State::Requested || m_state == State::Sending)
        m_state = State::Lost;
    m_ippMessage->disconnect(this);
    m_ippMessage->setConnected(false);
}

void MessageSender::onConnected(int statusCode)
{
    if (m_state != State::Connecting)
        return;
    if (statusCode != 0) {
        fail(State::Failed, tr("Failed to Establish Connection"));
        return;
    }
    setStatus(tr("Connection Established"));
    m_state = State::Requested;
    m_ippMessage->sendData(Proto::request(m_message.head.userNumber));
}

void MessageSender::onData(const QByteArray &text, bool eol)
{
    if (!eol)
        return; // no reply is that long
    switch (Proto::parseReply(text)) {
    case Proto::Reply::Accepted:
        if (m_state != State::Requested)
            return;
        m_state = State::Sending;
        setStatus(tr("Sending Message"));
        m_ippMessage->sendData(Proto::head(m_message.head));
        break;
    case Proto::Reply::Declined:
        if (m_state != State::Requested)
            return;
        // The connection stays open until the window closes.
        fail(State::Refused, tr("Message Refused from User"));
        break;
    case Proto::Reply::Next:
        if (m_state == State::Sending)
            sendNextPart();
        break;
    case Proto::Reply::Other:
        break;
    }
}

void MessageSender::sendNextPart()
{
    if (m_pictureDue) {
        setStatus(tr("Transmitting Picture"));
        m_pictureDue = false;
        m_ippMessage->sendData(Proto::picture(m_message.picture));
        emit pictureSent();
        return;
    }
    if (m_audioDue) {
        setStatus(tr("Transmitting Audio"));
        QByteArray buffer;
        for (const QByteArray &block : std::as_const(m_message.audioBlocks))
            buffer += Proto::audioBlock(block);
        buffer += Proto::audioEnd();
        m_audioDue = false;
        m_ippMessage->sendData(buffer);
        emit audioSent();
    }
    m_state = State::Sent;
    m_ippMessage->sendData(Proto::end());
}

void MessageSender::onDisconnected()
{
    switch (m_state) {
    case State::Sent:
        m_state = State::Delivered;
        emit delivered();
        break;
    case State::Connecting:
    case State::Requested:
    case State::Sending:
        // A recipient with every slot full closes at once; the user must not take that
        // for a message sent.
        fail(State::Lost, lostText());
        break;
    default:
        break;
    }
}

void MessageSender::setStatus(const QString &text)
{
    emit statusChanged(text);
}

void MessageSender::fail(State state, const QString &text)
{
    m_state = state;
    setStatus(text);
    emit busyChanged(false);
}
