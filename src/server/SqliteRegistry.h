#pragma once

#include "server/Registry.h"
#include "server/SqliteStore.h"

// The embedded registry of a node that serves alone: who is on line is this node's own
// users, kept in memory; the user numbers and the node's reports live in SQLite. Every
// answer is given at once.
class SqliteRegistry : public Registry
{
    Q_OBJECT

public:
    // The users are the node's own; the list is built from them.
    SqliteRegistry(QString dataDir, UserRegistry &users, QObject *parent = nullptr);
    ~SqliteRegistry() override;

    bool open(QString *error) override;
    void close() override;
    bool isShared() const override { return false; }
    QString description() const override;

    void userChanged(Key key, const User &user) override;
    void userLeft(Key key, const User &user) override;
    void userList(const QString &loopbackHost, std::function<void(const ListAnswer &)> answer) override;
    void findByEmail(const QString &email, const QString &loopbackHost,
                     std::function<void(std::optional<User>)> answer) override;
    void issueNumber(const QByteArray &key, std::function<void(qint32, const QString &)> answer) override;
    void emailOf(qint32 number, std::function<void(const QString &)> answer) override;
    void issuedCount(std::function<void(qint64)> answer) override;
    void settleClaim(const Claim &claim, std::function<void(Standing)> answer) override;
    void report(const NodeInfo &self) override;
    QVector<NodeInfo> nodes() const override;

    // The reports of the nodes that use the database in the folder, for "--stats".
    static bool readNodes(const QString &dataDir, QVector<NodeInfo> *nodes, QString *error);

private:
    QString m_dataDir;
    UserRegistry &m_users;
    SqliteStore m_store;
    std::optional<NodeInfo> m_self;
    // The owners table, read once: this node is its only writer.
    QHash<QString, QByteArray> m_owners;
    // How many e-mails each key owns, for the bound.
    QHash<QByteArray, int> m_emailsOwned;
    // When each key that owns something last logged in.
    QHash<QByteArray, qint64> m_seen;

    // What the key owns is free again: its ownership lapsed.
    void releaseLapsed(const QByteArray &key);
    // The key logged in and owns something: its ownership is renewed.
    void touch(const QByteArray &key);
};
