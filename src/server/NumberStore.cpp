#include "server/NumberStore.h"

#include "directory/DirectoryProtocol.h"

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

NumberStore::NumberStore()
    : m_connection(nextConnectionName())
{
}

NumberStore::~NumberStore()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool NumberStore::open(const QString &folder, QString *error)
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
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(QDir(folder).filePath(QStringLiteral("users.sqlite")));
    if (!db.open())
        return fail(db.lastError().text());
    QSqlQuery q(db);
    // Write-ahead logging: a login costs no full sync, a crash still keeps every number.
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    // AUTOINCREMENT never hands out a number again, even one whose row is gone.
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS users ("
                               "number INTEGER PRIMARY KEY AUTOINCREMENT, "
                               "email TEXT NOT NULL DEFAULT '', "
                               "issued TEXT NOT NULL DEFAULT (datetime('now')))")))
        return fail(q.lastError().text());
    m_open = true;
    return true;
}

qint32 NumberStore::issue()
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

void NumberStore::remember(qint32 number, const QString &email)
{
    if (!m_open || number < DirectoryProtocol::FirstUserNumber || number > DirectoryProtocol::LastUserNumber)
        return;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // Only a change is written, so repeated logins cost a read.
    q.prepare(QStringLiteral("UPDATE users SET email = ? WHERE number = ? AND email <> ?"));
    q.addBindValue(email);
    q.addBindValue(number);
    q.addBindValue(email);
    q.exec();
}

QString NumberStore::emailOf(qint32 number) const
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

int NumberStore::issuedCount() const
{
    if (!m_open)
        return 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(QStringLiteral("SELECT COUNT(*) FROM users")) && q.next())
        return q.value(0).toInt();
    return 0;
}
