#include "server/SqliteStore.h"

#include "directory/DirectoryProtocol.h"

#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>

namespace {

// Each store has its own named connection, so several servers can run in one process.
QString nextConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zelmo-numbers-%1").arg(++counter);
}

} // namespace

SqliteStore::SqliteStore()
    : m_connection(nextConnectionName())
{
}

SqliteStore::~SqliteStore()
{
    m_remember.reset();
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool SqliteStore::open(const QString &folder, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        m_open = false;
        return false;
    };
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the data folder %1").arg(folder));
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(QStringLiteral("the SQLite driver for Qt SQL is not installed"));
    m_path = QDir(folder).filePath(QStringLiteral("users.sqlite"));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    if (!db.open())
        return fail(db.lastError().text());
    QSqlQuery q(db);
    // Write-ahead logging: a login costs no full sync, a crash still keeps every number,
    // and "--stats" can read while the node writes.
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    q.exec(QStringLiteral("PRAGMA busy_timeout=2000"));
    // AUTOINCREMENT never hands out a number again, even one whose row is gone.
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS users ("
                               "number INTEGER PRIMARY KEY AUTOINCREMENT, "
                               "email TEXT NOT NULL DEFAULT '', "
                               "issued TEXT NOT NULL DEFAULT (datetime('now')))")))
        return fail(q.lastError().text());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS nodes ("
                               "id TEXT PRIMARY KEY, host TEXT, port INTEGER, description TEXT, "
                               "pal_port INTEGER, users INTEGER, listed INTEGER, connections INTEGER, "
                               "max_users INTEGER, logins REAL, lookups REAL, lists REAL, reported INTEGER, expiry INTEGER)")))
        return fail(q.lastError().text());
    m_remember = std::make_unique<QSqlQuery>(db);
    // Only a change is written, so repeated logins cost a read.
    if (!m_remember->prepare(QStringLiteral("UPDATE users SET email = ? WHERE number = ? AND email <> ?")))
        return fail(m_remember->lastError().text());
    m_open = true;
    return true;
}

qint32 SqliteStore::issue()
{
    if (!m_open)
        return 0;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("INSERT INTO users (email) VALUES ('')")))
        return 0;
    const qint64 number = q.lastInsertId().toLongLong();
    if (number < DirectoryProtocol::FirstUserNumber || number > DirectoryProtocol::LastUserNumber) {
        // The numbers are used up; the row goes, the sequence stays where it is.
        QSqlQuery drop(db);
        drop.prepare(QStringLiteral("DELETE FROM users WHERE number = ?"));
        drop.addBindValue(number);
        drop.exec();
        return 0;
    }
    return qint32(number);
}

void SqliteStore::remember(qint32 number, const QString &email)
{
    if (!m_open || number < DirectoryProtocol::FirstUserNumber || number > DirectoryProtocol::LastUserNumber)
        return;
    m_remember->bindValue(0, email);
    m_remember->bindValue(1, number);
    m_remember->bindValue(2, email);
    m_remember->exec();
    m_remember->finish();
}

QString SqliteStore::emailOf(qint32 number) const
{
    if (!m_open)
        return {};
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT email FROM users WHERE number = ?"));
    q.addBindValue(number);
    if (q.exec() && q.next())
        return q.value(0).toString();
    return {};
}

int SqliteStore::issuedCount() const
{
    if (!m_open)
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM users")) && q.next())
        return q.value(0).toInt();
    return 0;
}

void SqliteStore::writeNode(const NodeInfo &node)
{
    if (!m_open)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO nodes (id, host, port, description, pal_port, users, listed, "
                             "connections, max_users, logins, lookups, lists, reported, expiry) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(node.id);
    q.addBindValue(node.directory.Host);
    q.addBindValue(node.directory.Port);
    q.addBindValue(node.directory.Description);
    q.addBindValue(node.palPort);
    q.addBindValue(node.users);
    q.addBindValue(node.listed);
    q.addBindValue(node.connections);
    q.addBindValue(node.maxUsers);
    q.addBindValue(node.loginsPerSecond);
    q.addBindValue(node.lookupsPerSecond);
    q.addBindValue(node.listsPerSecond);
    q.addBindValue(QDateTime::currentMSecsSinceEpoch());
    q.addBindValue(node.expiryMs);
    q.exec();
}

void SqliteStore::removeNode(const QString &id)
{
    if (!m_open)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM nodes WHERE id = ?"));
    q.addBindValue(id);
    q.exec();
}

QVector<NodeInfo> SqliteStore::readNodes() const
{
    QVector<NodeInfo> nodes;
    if (!m_open)
        return nodes;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QStringLiteral("SELECT id, host, port, description, pal_port, users, listed, connections, max_users, "
                               "logins, lookups, lists, reported, expiry FROM nodes ORDER BY id")))
        return nodes;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    while (q.next()) {
        NodeInfo n;
        n.id = q.value(0).toString();
        n.directory = {q.value(1).toString(), q.value(2).toInt(), q.value(3).toString()};
        n.palPort = q.value(4).toInt();
        n.users = q.value(5).toInt();
        n.listed = q.value(6).toInt();
        n.connections = q.value(7).toInt();
        n.maxUsers = q.value(8).toInt();
        n.loginsPerSecond = q.value(9).toDouble();
        n.lookupsPerSecond = q.value(10).toDouble();
        n.listsPerSecond = q.value(11).toDouble();
        n.reportAgeMs = qMax<qint64>(0, now - q.value(12).toLongLong());
        n.expiryMs = q.value(13).toInt();
        n.up = n.reportAgeMs <= n.expiryMs;
        nodes.append(n);
    }
    return nodes;
}
