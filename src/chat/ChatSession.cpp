#include "chat/ChatSession.h"

#include "call/CallControl.h"
#include "chat/ChatProtocol.h"
#include "core/Fields.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/CallStates.h"
#include "core/Settings.h"
#include "media/SoundPlayer.h"
#include "media/AudioControl.h"
#include "media/MediaClock.h"
#include "media/MediaSession.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString BellSound = QStringLiteral("chatbell.wav");

// Characters that go into a box as they are. Other control characters have no place in a
// line of text; Enter, Backspace and the bell are handled before this is asked.
bool printable(char32_t c)
{
    return c == '\t' || (c >= 32 && c != 127 && !(c >= 0x80 && c < 0xA0));
}

QString text(char32_t c)
{
    return QString::fromUcs4(&c, 1);
}

} // namespace

ChatSession::ChatSession(Context context, QObject *parent)
    : QObject(parent)
    , m_(context)
    , m_ipdText(new IPDaemon(this))
    , m_ippText(new IPPort(this))
    , m_fontSize(std::max<int>(1, m_.settings.ChatFontSize))
    , m_caption(tr("Text Chat"))
{
    m_ipdText->setObjectName(QStringLiteral("ipdText"));
    m_ippText->setObjectName(QStringLiteral("ippText"));
    m_ipdText->setDefaultLineEnd(ChatProtocol::Terminator);
    m_ippText->setLineEnd(ChatProtocol::Terminator);
    m_ipdText->setInputBufferSize(InputBufferSize);
    m_ippText->setInputBufferSize(InputBufferSize);

    connect(m_ipdText, &IPDaemon::connectionRequest, this, &ChatSession::onChatRequest);
    connect(m_ipdText, &IPDaemon::connected, this, [this](int id, int, const QString &) {
        if (id == 1)
            m_listenerInLongMessage = false;
    });
    // The one chat connection the listener takes is always number 1.
    connect(m_ipdText, &IPDaemon::dataIn, this, [this](int id, const QByteArray &text, bool eol) {
        if (id == 1)
            receive(text, eol, &m_listenerInLongMessage);
    });
    connect(m_ippText, &IPPort::connected, this, [this] { m_clientInLongMessage = false; });
    connect(m_ippText, &IPPort::dataIn, this,
            [this](const QByteArray &text, bool eol) { receive(text, eol, &m_clientInLongMessage); });

    connect(&m_.calls, &CallControl::transcriptLine, this, &ChatSession::addToConversation);
    connect(&m_.calls, &CallControl::acceptedCallerLeft, this, [this] {
        // A chat connection opened ahead of the media belongs to no call once the caller
        // has gone; during a call it ends with the call.
        if (m_.calls.status().callState != CallState::InCall) {
            for (const int id : m_ipdText->connectionIds())
                m_ipdText->closeConnection(id);
        }
    });
    connect(&m_.media, &MediaSession::textReceived, this,
            [this](const QString &line) { addToConversation(line + QLatin1Char('\n')); });
    connect(&m_.media, &MediaSession::chatConnectionWanted, this, &ChatSession::connectTo);
    connect(&m_.media, &MediaSession::chatCaptionChanged, this, [this](const QString &caption) {
        m_caption = caption;
        emit captionChanged(caption);
    });
    connect(&m_.media, &MediaSession::connectionEnded, this, &ChatSession::onCallEnded);
}

EndpointError ChatSession::start(int port)
{
    m_fontSize = std::max<int>(1, m_.settings.ChatFontSize);
    emit fontSizeChanged(m_fontSize);
    m_ipdText->setStackOn(true);
    m_ippText->setStackOn(true);
    m_ipdText->setLocalPort(port);
    return m_ipdText->setListening(true);
}

void ChatSession::shutdown()
{
    closeConnections();
    m_ipdText->setListening(false);
    m_ipdText->setStackOn(false);
    m_ippText->setStackOn(false);
}

bool ChatSession::isConnected() const
{
    return m_ippText->isConnected() || m_ipdText->isConnected(1);
}

bool ChatSession::isRealTime() const
{
    // Without a chat connection the keys would go nowhere; the lines still reach the peer.
    return m_.calls.status().PeerIsV25 && m_.calls.status().RealTimeChat && isConnected();
}

// ---- The user's side ----------------------------------------------------------------

void ChatSession::type(const QString &characters)
{
    for (const uint c : characters.toUcs4())
        typeCharacter(char32_t(c));
}

void ChatSession::paste(const QString &text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    lines.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    type(lines);
}

void ChatSession::typeCharacter(char32_t c)
{
    using namespace ChatProtocol;
    if (c == Bell && m_.calls.status().PeerIsV25) {
        ring();
        send(bell());
        return;
    }
    if (!isRealTime()) {
        if (c == Enter)
            sendLine();
        else if (c == Backspace)
            editTyping(m_typing.removeLast());
        else if (printable(c) || c == Bell) // an older peer gets Ctrl+G as a character
            editTyping(m_typing.append(text(c)));
        return;
    }
    if (c == Backspace) {
        // Nothing left of this side's typing: the peer's text is not ours to erase.
        if (m_typing.isEmpty())
            return;
        send(typed(Backspace));
        editTyping(m_typing.removeLast());
    } else if (c == Enter) {
        send(typed(Enter));
        editTyping(m_typing.append(QStringLiteral("\n")));
    } else if (printable(c)) {
        send(typed(c));
        editTyping(m_typing.append(text(c)));
    }
}

void ChatSession::sendLine()
{
    const QString line = m_typing.text();
    QString wire = line;
    wire.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    // A full queue says so and keeps the line in the box, to be sent again.
    if (!m_.media.queueText(Fields::toWire(wire)))
        return;
    addToConversation(QStringLiteral("> ") + line + QLatin1Char('\n'));
    editTyping(m_typing.clear());
}

void ChatSession::send(const QByteArray &message)
{
    if (m_ippText->isConnected())
        m_ippText->sendData(message);
    else if (m_ipdText->isConnected(1))
        m_ipdText->sendData(1, message);
}

void ChatSession::ringUser()
{
    send(ChatProtocol::ringUser());
    ring();
}

void ChatSession::clearText()
{
    editConversation(m_conversation.clear());
    editTyping(m_typing.clear());
}

void ChatSession::increaseFontSize()
{
    if (m_fontSize >= std::numeric_limits<qint16>::max())
        return;
    ++m_fontSize;
    m_.settings.ChatFontSize = qint16(m_fontSize);
    emit fontSizeChanged(m_fontSize);
}

void ChatSession::decreaseFontSize()
{
    if (m_fontSize <= MinFontSize)
        return;
    --m_fontSize;
    m_.settings.ChatFontSize = qint16(m_fontSize);
    emit fontSizeChanged(m_fontSize);
}

// ---- The peer's side ----------------------------------------------------------------

void ChatSession::receive(const QByteArray &text, bool eol, bool *inLongMessage)
{
    if (!eol) {
        *inLongMessage = true;
        return;
    }
    if (*inLongMessage) {
        // The tail of a message too long to be one.
        *inLongMessage = false;
        return;
    }
    const ChatProtocol::Message m = ChatProtocol::parse(text);
    if (m.kind == ChatProtocol::Message::Kind::Bell) {
        // Said once per bell gap, so a flood of bells is one notice, like one sound.
        const double now = m_.clock.now();
        if (std::abs(now - m_lastPeerBell) >= BellGapSeconds) {
            m_lastPeerBell = now;
            emit peerRang();
        }
        ring();
    }
    else if (m.kind == ChatProtocol::Message::Kind::Character)
        apply(m.character);
}

void ChatSession::apply(char32_t c)
{
    editConversation(m_conversation.bound(ConversationLimit, ConversationKeep));
    if (c == ChatProtocol::Backspace)
        editConversation(m_conversation.removeLast());
    else if (c == ChatProtocol::Enter || c == '\n')
        editConversation(m_conversation.append(QStringLiteral("\n")));
    else if (printable(c))
        editConversation(m_conversation.append(text(c)));
}

void ChatSession::addToConversation(const QString &text)
{
    editConversation(m_conversation.bound(ConversationLimit, ConversationKeep));
    editConversation(m_conversation.append(text));
    // The peer's Backspace only takes back what the peer typed.
    m_conversation.keepAll();
}

void ChatSession::ring()
{
    if (!m_.audio.soundIdle())
        return;
    const double now = m_.clock.now();
    if (std::abs(now - m_lastBell) < BellGapSeconds)
        return;
    m_lastBell = now;
    m_.sounds.play(BellSound);
}

void ChatSession::editConversation(const ChatText::Edit &e)
{
    if (!e.isEmpty())
        emit conversationEdited(e.cut, e.chop, e.added);
}

void ChatSession::editTyping(const ChatText::Edit &e)
{
    if (!e.isEmpty())
        emit typingEdited(e.cut, e.chop, e.added);
}

// ---- The connection -----------------------------------------------------------------

void ChatSession::connectTo(const QString &host, int port)
{
    const QString trimmed = host.trimmed();
    if (trimmed.isEmpty())
        return;
    // Chat trouble never stands in the way of the call.
    m_ippText->setConnected(false);
    if (m_ippText->setRemotePort(port) || m_ippText->setRemoteAddress(trimmed))
        return;
    m_ippText->setConnected(true);
}

void ChatSession::onChatRequest(const QString &remoteAddress, bool *accept)
{
    // Only the caller of the call this side has accepted, and only one connection.
    *accept = m_.calls.isAcceptedCaller(remoteAddress) && m_ipdText->connectionIds().isEmpty();
}

void ChatSession::onCallEnded()
{
    closeConnections();
    editTyping(m_typing.clear());
    addToConversation(tr("\n<End of Connection>\n"));
}

void ChatSession::closeConnections()
{
    // Also abandons an attempt still under way.
    m_ippText->setConnected(false);
    for (const int id : m_ipdText->connectionIds())
        m_ipdText->closeConnection(id);
}
