#pragma once

#include "server/RedisLink.h"
#include "server/Registry.h"

#include <QHash>
#include <memory>

// The registry that several nodes share through one Redis server. Each node keeps its
// users under its own id; they count only while the node's expiry, renewed by every
// report, lies ahead, so the users of a node that dies leave the list within the expiry
// and the next report of any node clears them away. A node holds its id by a claim that
// its reports renew, so no two nodes share one, even after Redis lost its data. User
// numbers come from one counter, so they never collide across nodes.
//
// Every change and question is one Lua script run atomically by Redis, sent over one
// asynchronous connection: answers keep the order of the questions. Many clients asking
// for the list at once share one fetch. Without Redis the node answers from its own users
// and publishes them all again when Redis is back.
class RedisRegistry : public Registry
{
    Q_OBJECT

public:
    RedisRegistry(RedisAddress address, int expiryMs, UserRegistry &users, QObject *parent = nullptr);
    ~RedisRegistry() override;

    bool open(QString *error) override;
    void close() override;
    bool isShared() const override { return true; }
    QString description() const override;
    QString nodeId() const { return QString::fromLatin1(m_nodeId); }

    void userChanged(Key key, const User &user) override;
    void userLeft(Key key, const User &user) override;
    void userList(const QString &loopbackHost, std::function<void(const ListAnswer &)> answer) override;
    void findByEmail(const QString &email, const QString &loopbackHost,
                     std::function<void(std::optional<User>)> answer) override;
    void issueNumber(const QByteArray &key, std::function<void(qint32, const QString &)> answer) override;
    void emailOf(qint32 number, std::function<void(const QString &)> answer) override;
    void issuedCount(std::function<void(qint64)> answer) override;
    void settleClaim(const Registry::Claim &claim, std::function<void(Standing)> answer) override;
    void report(const NodeInfo &self) override;
    QVector<NodeInfo> nodes() const override { return m_nodes; }

    // Every node that has reported and not been cleared away, read at once, for "--stats".
    static bool readNodes(const RedisAddress &address, QVector<NodeInfo> *nodes, QString *error);
    // "--release": frees the e-mail and all else its owner's key owns; how many names were
    // freed, -1 with the reason.
    static int releaseOwner(const RedisAddress &address, const QString &email, QString *error);

private:
    enum Script { Login, Logout, List, Lookup, Issue, Heartbeat, Leave, Nodes, Claim, Owner, ScriptCount };
    struct ListFetch;

    void onConnected();
    void onDisconnected(const QString &reason);
    void eval(Script script, QList<QByteArray> args, RedisLink::Callback callback = {});
    void publishAll();
    // Makes sure the node holds its id (or takes a new one), then publishes everything.
    void claimAndPublish();
    // A change sent under the id `sentAs`, refused because it is not this node's any more.
    void checkHeld(const QByteArray &sentAs, const RedisLink::Reply &reply);
    void sendHeartbeat();
    static QVector<NodeInfo> parseNodes(const RedisLink::Reply &rows, const QByteArray &self);
    static QByteArray encode(const User &user);
    static std::optional<User> decode(const QByteArray &stored);
    // An entry as the list and lookup scripts answer it (the node's id first), with the
    // address the asking client can reach.
    std::optional<User> answered(const QByteArray &item, const QString &loopbackHost) const;
    ListAnswer listMessage(const RedisLink::Reply &reply, const QString &loopbackHost) const;

    RedisAddress m_address;
    int m_expiryMs;
    UserRegistry &m_users;
    RedisLink *m_link;
    QByteArray m_nodeId;
    // What this run of the node writes into its claim on the id.
    QByteArray m_token;
    bool m_claiming = false;
    QByteArray m_sha[ScriptCount];
    bool m_ready = false;
    bool m_reloading = false;
    // The next heartbeat registers the node anew, so finding it missing is no news.
    bool m_expectFresh = true;
    std::optional<NodeInfo> m_self;
    QVector<NodeInfo> m_nodes;
    // The Redis time of the last heartbeat: claims bound since then are news to this node.
    QByteArray m_boundSince;
    // The list fetch that questions may still join: none once this node's users changed.
    std::shared_ptr<ListFetch> m_openFetch;
};
