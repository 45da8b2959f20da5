#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"
#include "core/FileError.h"
#include "messages/MessageStore.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class IPDaemon;
class QTimer;
class RefuseList;
class SoundPlayer;
struct Settings;

// The quick-message listener: the listener on the base port + 2 with its ten message
// slots, the rules that keep it safe from any sender, the waiting messages, and the refuse
// list entries the viewer adds.
//
// Listener rules: a connection gets a slot when it connects (none free: closed at once);
// every command is ignored until the listener has answered its request with "MRA"; a
// declined request gives the slot back; a connection lost before "MSE" frees its slot; a
// connection that has not sent a whole message within IdleCloseMs is closed; at most
// MaxConnections are held at once, at most MaxPerAddress from one address. When no place
// is left, a connection that has sent no message head within HeadWaitMs gives its place
// to the newcomer: connections that only sit there cannot keep real senders out. A
// message longer than the input buffer is dropped.
class MessageService : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxConnections = 16;
    static constexpr int IdleCloseMs = 30000;
    static constexpr int MaxPerAddress = 3;
    static constexpr int HeadWaitMs = 3000;

    struct Context
    {
        // Quick messages may be turned off in the settings.
        const Settings &settings;
        RefuseList &refuseList;
        SoundPlayer &sounds;
        // Where the refuse list is saved.
        QString refuseFile;
    };

    explicit MessageService(Context context, QObject *parent = nullptr);
    ~MessageService() override;

    IPDaemon &ipdMessage() { return *m_ipdMessage; }

    // Switches the endpoint on and listens on the port.
    EndpointError startListening(int port);
    // Closes every connection and stops listening (program exit).
    void shutdown();
    // Tests shorten the idle close.
    void setIdleCloseTime(int ms) { m_idleCloseMs = ms; }
    // How a complete message's sender stands, judged once when it arrives.
    void setSenderCheck(std::function<PeerStanding(const ChannelSecurity &, const QString &host)> check)
    {
        m_senderCheck = std::move(check);
    }

    // Complete messages waiting to be read.
    int waitingCount() const { return m_store.waitingCount(); }
    const MessageStore &store() const { return m_store; }
    // Takes the message that has waited longest; its slot becomes free.
    std::optional<QuickMessage> takeOldest();
    // Takes the waiting message of that number (see messageArrived); none when it was
    // taken already.
    std::optional<QuickMessage> take(quint64 id);

    // Only a sender with a user number can be refused: refusing "no number" would turn
    // away everyone who has none.
    static bool canRefuse(qint32 userNumber) { return userNumber > 0; }
    // Adds the sender to the refuse list and saves it; a full list adds nothing.
    FileError refuse(qint32 userNumber, const QString &name, const QString &email);

signals:
    // The number of waiting messages changed (a message completed or was taken).
    void waitingChanged(int count);
    // A message is complete and waits to be read; id is its number for take(), never
    // reused in this run.
    void messageArrived(quint64 id, const QuickMessage &message);
    // The message of that number was taken out to be read.
    void messageTaken(quint64 id);
    // The refuse list could not be saved: the text to show.
    void saveFailed(const QString &text);

private:
    struct Connection
    {
        enum class Phase { New, Accepted, Declined };
        int slot = 0;
        Phase phase = Phase::New;
        bool headSeen = false;
        // Inside a message longer than the input buffer: dropped up to its end.
        bool skipping = false;
        QTimer *deadline = nullptr;
        QString address;
        qint64 openedAt = 0;
    };

    void onConnectionRequest(const QString &address, bool *accept);
    // Closes the connection longest without a message head, once it has had HeadWaitMs to
    // send one; false when none qualifies.
    bool makeRoom();
    void onConnected(int id, int statusCode);
    void onData(int id, const QByteArray &text, bool eol);
    void onDisconnected(int id);
    void handle(int id, Connection &c, const QByteArray &line);
    void finishMessage(int id, Connection &c);

    Context m_;
    IPDaemon *m_ipdMessage;
    MessageStore m_store;
    QHash<int, Connection> m_connections;
    int m_idleCloseMs = IdleCloseMs;
    QElapsedTimer m_clock;
    std::function<PeerStanding(const ChannelSecurity &, const QString &)> m_senderCheck;
};
