#pragma once

#include "messages/QuickMessageProtocol.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class IPPort;

// Sends one quick message over a connection of its own to the recipient's base port + 2:
// request, head, then the picture, the sound blocks and the end as the recipient asks for
// the next part. What happened is reported as the status texts the compose window shows.
class MessageSender : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Idle,
        Connecting,
        Requested, // "MSR" sent
        Sending,   // accepted, the parts are going out
        Sent,      // "MSE" sent; the recipient closes
        Delivered, // closed by the recipient after the end
        Refused,
        Failed,    // invalid address or no connection
        Lost,      // the connection went before the end was sent
    };

    struct Outgoing
    {
        QuickMessageProtocol::Head head;
        // Empty: no picture part.
        QByteArray picture;
        // With sendAudio, the blocks (possibly none) go out before "MAF".
        bool sendAudio = false;
        QList<QByteArray> audioBlocks;
    };

    explicit MessageSender(QObject *parent = nullptr);
    ~MessageSender() override;

    IPPort &ippMessage() { return *m_ippMessage; }
    State state() const { return m_state; }

    // Connects to host on recipientPort + 2 and sends the message. Once only.
    void send(const QString &host, int recipientPort, Outgoing message);
    // Closes the connection (the compose window goes); reports nothing more.
    void close();

    static QString lostText();

signals:
    void statusChanged(const QString &text);
    // The animation runs while a send is under way.
    void busyChanged(bool busy);
    void invalidAddress(const QString &text);
    void pictureSent();
    void audioSent();
    // The recipient has the whole message and closed the connection.
    void delivered();

private:
    void onConnected(int statusCode);
    void onData(const QByteArray &text, bool eol);
    void onDisconnected();
    void sendNextPart();
    void setStatus(const QString &text);
    void fail(State state, const QString &text);

    IPPort *m_ippMessage;
    State m_state = State::Idle;
    Outgoing m_message;
    bool m_pictureDue = false;
    bool m_audioDue = false;
};
