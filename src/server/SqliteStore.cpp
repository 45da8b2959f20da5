#include "server/SqliteStore.h"

#include "protocol/DirectoryProtocol.h"

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
        m_openError = why;
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
    // "used": the number has been used for a login. New numbers start unused; numbers of a
    // database from before the column was kept count as used, never to be reclaimed.
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS users ("
                               "number INTEGER PRIMARY KEY AUTOINCREMENT, "
                               "email TEXT NOT NULL DEFAULT '', "
                               "issued TEXT NOT NULL DEFAULT (datetime('now')), "
                               "used INTEGER NOT NULL DEFAULT 1)")))
        return fail(q.lastError().text());
    if (q.exec(QStringLiteral("SELECT used FROM users LIMIT 0")))
        q.finish();
    else if (!q.exec(QStringLiteral("ALTER TABLE users ADD COLUMN used INTEGER NOT NULL DEFAULT 1")))
        return fail(q.lastError().text());
    // "issued_to": the fingerprint (hex) of the key the number was handed out to, '' for a
    // plain asker; NULL for numbers handed out before it was kept.
    if (q.exec(QStringLiteral("SELECT issued_to FROM users LIMIT 0")))
        q.finish();
    else if (!q.exec(QStringLiteral("ALTER TABLE users ADD COLUMN issued_to TEXT")))
        return fail(q.lastError().text());
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS nodes ("
                               "id TEXT PRIMARY KEY, host TEXT, port INTEGER, description TEXT, "
                               "pal_port INTEGER, users INTEGER, listed INTEGER, connections INTEGER, "
                               "max_users INTEGER, logins REAL, lookups REAL, lists REAL, reported INTEGER, expiry INTEGER)")))
        return fail(q.lastError().text());
    // Who owns an e-mail ("e:ADDRESS") or a user number ("n:NUMBER"): a key's fingerprint
    // in hex.
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS owners (name TEXT PRIMARY KEY, key TEXT NOT NULL)")))
        return fail(q.lastError().text());
    // When a key that owns something last logged in (ms since the epoch); its ownership
    // lapses some time after.
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS keys (key TEXT PRIMARY KEY, seen INTEGER NOT NULL)")))
        return fail(q.lastError().text());
    m_remember = std::make_unique<QSqlQuery>(db);
    // Only a change is written, so repeated logins cost a read.
    if (!m_remember->prepare(
            QStringLiteral("UPDATE users SET email = ?, used = 1 WHERE number = ? AND (email <> ? OR used = 0)")))
        return fail(m_remember->lastError().text());
    m_open = true;
    return true;
}

bool SqliteStore::checkWritable(QString *why)
{
    if (!m_open) {
        if (why)
            *why = QStringLiteral("the database is not open");
        return false;
    }
    // A write that is taken back: it fails as a real one would on a read-only database.
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const bool ok = q.exec(QStringLiteral("SAVEPOINT probe"))
                    && q.exec(QStringLiteral("DELETE FROM nodes WHERE id = '' AND host IS NULL"))
                    && q.exec(QStringLiteral("INSERT INTO nodes (id) VALUES ('')"));
    const QString error = q.lastError().text();
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK TO probe"));
    QSqlQuery(db).exec(QStringLiteral("RELEASE probe"));
    if (!ok && why)
        *why = error;
    return ok;
}

qint32 SqliteStore::issue(qint64 reclaimAfterMs, const QByteArray &key, QString *why)
{
    const auto fail = [&](const QString &reason) {
        if (why)
            *why = reason;
        return 0;
    };
    if (!m_open)
        return fail(m_openError.isEmpty() ? QStringLiteral("the database is not open") : m_openError);
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'users'")))
        return fail(q.lastError().text());
    const qint64 last = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    // '' for a plain asker: NULL stands for numbers from before receivers were kept.
    const QString receiver = key.isEmpty() ? QStringLiteral("") : QString::fromLatin1(key.toHex());
    if (last < DirectoryProtocol::LastUserNumber) {
        q.prepare(QStringLiteral("INSERT INTO users (email, used, issued_to) VALUES ('', 0, ?)"));
        q.addBindValue(receiver);
        if (!q.exec())
            return fail(q.lastError().text());
        return qint32(q.lastInsertId().toLongLong());
    }
    // Every number has been handed out: the one left unused longest goes again, once it
    // has been unused for the reclaim time.
    QSqlQuery pick(db);
    pick.prepare(QStringLiteral("SELECT number FROM users WHERE used = 0 AND issued <= datetime('now', ?) "
                                "ORDER BY issued, number LIMIT 1"));
    pick.addBindValue(QStringLiteral("-%1 seconds").arg(reclaimAfterMs / 1000));
    if (!pick.exec())
        return fail(pick.lastError().text());
    if (!pick.next())
        return fail(QStringLiteral("all %1 user numbers are taken, and none has gone unused for %2")
                        .arg(DirectoryProtocol::LastUserNumber)
                        .arg(reclaimAfterMs >= 3600000 ? QStringLiteral("%1 hours").arg(reclaimAfterMs / 3600000)
                                                       : QStringLiteral("%1 s").arg(reclaimAfterMs / 1000)));
    const qint64 number = pick.value(0).toLongLong();
    pick.finish();
    QSqlQuery take(db);
    take.prepare(QStringLiteral(
        "UPDATE users SET issued = datetime('now'), email = '', issued_to = ? WHERE number = ? AND used = 0"));
    take.addBindValue(receiver);
    take.addBindValue(number);
    if (!take.exec())
        return fail(take.lastError().text());
    return qint32(number);
}

bool SqliteStore::remember(qint32 number, const QString &email, QString *why)
{
    if (!m_open || number < DirectoryProtocol::FirstUserNumber || number > DirectoryProtocol::LastUserNumber)
        return true;
    m_remember->bindValue(0, email);
    m_remember->bindValue(1, number);
    m_remember->bindValue(2, email);
    const bool ok = m_remember->exec();
    if (!ok && why)
        *why = m_remember->lastError().text();
    m_remember->finish();
    return ok;
}

QHash<QString, QByteArray> SqliteStore::owners() const
{
    QHash<QString, QByteArray> all;
    if (!m_open)
        return all;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT name, key FROM owners"))) {
        while (q.next())
            all.insert(q.value(0).toString(), QByteArray::fromHex(q.value(1).toString().toLatin1()));
    }
    return all;
}

bool SqliteStore::bindOwner(const QString &name, const QByteArray &key, QString *why)
{
    if (!m_open) {
        if (why)
            *why = m_openError;
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT OR IGNORE INTO owners (name, key) VALUES (?, ?)"));
    q.addBindValue(name);
    q.addBindValue(QString::fromLatin1(key.toHex()));
    const bool ok = q.exec();
    if (!ok && why)
        *why = q.lastError().text();
    return ok;
}

int SqliteStore::releaseOwner(const QString &email, QString *why)
{
    if (!m_open) {
        if (why)
            *why = m_openError;
        return -1;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT key FROM owners WHERE name = ?"));
    q.addBindValue(QStringLiteral("e:") + email);
    if (!q.exec()) {
        if (why)
            *why = q.lastError().text();
        return -1;
    }
    if (!q.next())
        return 0;
    return releaseKey(QByteArray::fromHex(q.value(0).toString().toLatin1()), why);
}

int SqliteStore::releaseKey(const QByteArray &key, QString *why)
{
    if (!m_open) {
        if (why)
            *why = m_openError;
        return -1;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const QString hex = QString::fromLatin1(key.toHex());
    q.prepare(QStringLiteral("DELETE FROM owners WHERE key = ?"));
    q.addBindValue(hex);
    if (!q.exec()) {
        if (why)
            *why = q.lastError().text();
        return -1;
    }
    const int freed = q.numRowsAffected();
    QSqlQuery seen(db);
    seen.prepare(QStringLiteral("DELETE FROM keys WHERE key = ?"));
    seen.addBindValue(hex);
    seen.exec();
    return freed;
}

QHash<QByteArray, qint64> SqliteStore::keysSeen() const
{
    QHash<QByteArray, qint64> all;
    if (!m_open)
        return all;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT key, seen FROM keys"))) {
        while (q.next())
            all.insert(QByteArray::fromHex(q.value(0).toString().toLatin1()), q.value(1).toLongLong());
    }
    return all;
}

bool SqliteStore::touchKey(const QByteArray &key, qint64 atMs, QString *why)
{
    if (!m_open) {
        if (why)
            *why = m_openError;
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO keys (key, seen) VALUES (?, ?)"));
    q.addBindValue(QString::fromLatin1(key.toHex()));
    q.addBindValue(atMs);
    const bool ok = q.exec();
    if (!ok && why)
        *why = q.lastError().text();
    return ok;
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

bool SqliteStore::wasIssuedTo(qint32 number, const QByteArray &key) const
{
    if (!m_open)
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT 1 FROM users WHERE number = ? AND (issued_to IS NULL OR issued_to = ?)"));
    q.addBindValue(number);
    q.addBindValue(QString::fromLatin1(key.toHex()));
    return q.exec() && q.next();
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

bool SqliteStore::writeNode(const NodeInfo &node, QString *why)
{
    if (!m_open)
        return true;
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
    if (q.exec())
        return true;
    if (why)
        *why = q.lastError().text();
    return false;
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
