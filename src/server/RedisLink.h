#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>
#include <deque>
#include <functional>
#include <optional>

class QSocketNotifier;
class QTimer;
struct redisAsyncContext;

// Where a Redis server is: "redis://HOST[:PORT][/DB]".
struct RedisAddress
{
    QString host;
    int port = 6379;
    int database = 0;

    static std::optional<RedisAddress> parse(const QString &text);
    QString text() const;
};

// One connection to a Redis server through hiredis' asynchronous interface, its socket
// watched by notifiers on the Qt event loop, so the server never waits for Redis. Commands
// go out in order and are answered in order. When the connection drops, or Redis leaves a
// command unanswered too long, the waiting commands fail and the link connects again a
// little later.
class RedisLink : public QObject
{
    Q_OBJECT

public:
    struct Reply
    {
        enum Kind { Failed, Nil, Integer, Text, Status, Error, Array };
        Kind kind = Failed;
        qint64 integer = 0;
        QByteArray text; // string, status or error text
        QVector<Reply> items;

        bool ok() const { return kind != Failed && kind != Error; }
    };
    using Callback = std::function<void(const Reply &)>;

    // A command left unanswered this long counts as a lost connection.
    static constexpr int AnswerTimeoutMs = 5000;
    static constexpr int RetryMs = 1000;

    explicit RedisLink(RedisAddress address, QObject *parent = nullptr);
    ~RedisLink() override;

    // Starts connecting; connected() follows, or a retry.
    void open();
    // Drops the connection without answering what waits, and stops retrying.
    void shutdown();
    bool isConnected() const { return m_connected; }
    int waiting() const { return int(m_issued.size()); }

    // Sends a command (its arguments, binary-safe). Without a connection the callback
    // gets a failed reply at once.
    void command(const QList<QByteArray> &args, Callback callback = {});

    // A short blocking exchange on a connection of its own, for starting up and leaving:
    // the commands in order, their replies, or false with a reason.
    static bool runOnce(const RedisAddress &address, const QList<QList<QByteArray>> &commands,
                        QVector<Reply> *replies, int timeoutMs, QString *error);

signals:
    void connected();
    void disconnected(const QString &reason);

private:
    struct Pending;
    static void onReply(redisAsyncContext *context, void *reply, void *data);
    static void onConnect(const redisAsyncContext *context, int status);
    static void onDisconnect(const redisAsyncContext *context, int status);
    static void addRead(void *data);
    static void delRead(void *data);
    static void addWrite(void *data);
    static void delWrite(void *data);
    static void cleanup(void *data);
    void lost(const QString &reason);
    void dropContext(const QString &reason);
    void checkAnswers();

    RedisAddress m_address;
    redisAsyncContext *m_context = nullptr;
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer *m_retry = nullptr;
    QTimer *m_watchdog = nullptr;
    bool m_connected = false;
    bool m_wanted = false;
    bool m_quiet = false;
    bool m_downReported = false;
    // When each command still waiting for its answer went out, oldest first.
    std::deque<qint64> m_issued;
};
