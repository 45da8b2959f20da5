#include "server/SqliteRegistry.h"

#include "protocol/DirectoryProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <utility>

SqliteRegistry::SqliteRegistry(QString dataDir, UserRegistry &users, QObject *parent)
    : Registry(parent)
    , m_dataDir(std::move(dataDir))
    , m_users(users)
{
}

SqliteRegistry::~SqliteRegistry() = default;

bool SqliteRegistry::open(QString *error)
{
    QString why;
    // A read-only or full data folder still lets the node list its users: it runs, says
    // so now rather than at the first user who asks for a number, and hands out none.
    Q_UNUSED(error);
    if (!m_store.open(m_dataDir, &why))
        reportFailure(QStringLiteral("cannot store user numbers in %1").arg(m_dataDir),
                      QStringLiteral("cannot open users.sqlite: ") + why
                          + QStringLiteral("; number requests get no number until this is mended"));
    else if (!m_store.checkWritable(&why))
        reportFailure(QStringLiteral("cannot store user numbers in %1").arg(m_store.path()),
                      why + QStringLiteral("; number requests get no number until this is mended"));
    m_owners = m_store.owners();
    m_emailsOwned.clear();
    m_seen = m_store.keysSeen();
    for (auto it = m_owners.cbegin(); it != m_owners.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("e:")))
            ++m_emailsOwned[it.value()];
        // A key that owned something before logins were timed is counted from now.
        if (!m_seen.contains(it.value()))
            touch(it.value());
    }
    return true;
}

void SqliteRegistry::releaseLapsed(const QByteArray &key)
{
    QString why;
    const int freed = m_store.releaseKey(key, &why);
    if (freed < 0) {
        reportFailure(QStringLiteral("cannot free what a lapsed key owns in %1").arg(m_store.path()), why);
        return;
    }
    reportLapse(key, now() - m_seen.value(key), freed);
    m_owners.removeIf([&key](const auto &entry) { return entry.value() == key; });
    m_emailsOwned.remove(key);
    m_seen.remove(key);
}

void SqliteRegistry::touch(const QByteArray &key)
{
    const qint64 at = now();
    // Written once in a while, not at every login: the lapse is months.
    const auto seen = m_seen.constFind(key);
    if (seen != m_seen.cend() && at - *seen < qMin<qint64>(3600 * 1000, m_lapseMs / 10))
        return;
    QString why;
    if (!m_store.touchKey(key, at, &why))
        reportFailure(QStringLiteral("cannot record a key's login in %1").arg(m_store.path()), why);
    m_seen.insert(key, at);
}

void SqliteRegistry::close()
{
    if (m_self)
        m_store.removeNode(m_self->id);
    m_self.reset();
}

QString SqliteRegistry::description() const
{
    return QStringLiteral("SQLite registry %1").arg(m_store.path());
}

void SqliteRegistry::userChanged(Key, const User &user)
{
    QString why;
    if (!m_store.remember(user.entry.UserNumber, user.email, &why))
        reportFailure(QStringLiteral("cannot record the e-mails of user numbers in %1").arg(m_store.path()),
                      QStringLiteral("number %1: %2").arg(user.entry.UserNumber).arg(why));
}

void SqliteRegistry::userLeft(Key, const User &)
{
}

void SqliteRegistry::userList(const QString &loopbackHost, std::function<void(const ListAnswer &)> answer)
{
    answer(m_users.listMessage(DirectoryProtocol::MaxEntries, loopbackHost));
}

void SqliteRegistry::findByEmail(const QString &email, const QString &loopbackHost,
                                 std::function<void(std::optional<User>)> answer)
{
    answer(m_users.answerByEmail(email, loopbackHost));
}

void SqliteRegistry::issueNumber(const QByteArray &key, std::function<void(qint32, const QString &)> answer)
{
    QString why;
    const qint32 number = m_store.issue(m_reclaimAfterMs, key, &why);
    answer(number, why);
}

void SqliteRegistry::emailOf(qint32 number, std::function<void(const QString &)> answer)
{
    answer(m_store.emailOf(number));
}

void SqliteRegistry::settleClaim(const Claim &claim, std::function<void(Standing)> answer)
{
    if (!m_store.isOpen()) {
        answer(unsettled(claim));
        return;
    }
    const QString emailName = QStringLiteral("e:") + claim.email;
    const QString numberName = QStringLiteral("n:") + QString::number(claim.number);
    // Another key that has not logged in for the lapse time owns nothing any more.
    if (!claim.key.isEmpty()) {
        for (const QString &name : {emailName, numberName}) {
            const QByteArray owner = m_owners.value(name);
            if (!owner.isEmpty() && owner != claim.key && lapsed(m_seen.value(owner, now())))
                releaseLapsed(owner);
        }
    }
    Room room;
    room.email = m_maxEmailsPerKey <= 0 || claim.key.isEmpty()
                 || m_emailsOwned.value(claim.key) < m_maxEmailsPerKey;
    room.numberIssued = claim.number <= 0 || m_store.wasIssuedTo(claim.number, claim.key);
    Binding bind;
    Standing standing = judge(claim, claim.email.isEmpty() ? QByteArray() : m_owners.value(emailName),
                              claim.number > 0 ? m_owners.value(numberName) : QByteArray(), &bind, room);
    QString why;
    for (const auto &[name, wanted] : {std::pair{emailName, bind.email}, std::pair{numberName, bind.number}}) {
        if (!wanted || m_owners.contains(name))
            continue;
        if (!m_store.bindOwner(name, claim.key, &why)) {
            // Ownership that cannot be recorded is not handed out.
            reportFailure(QStringLiteral("cannot record an owner in %1").arg(m_store.path()), why);
            answer(unsettled(claim));
            return;
        }
        m_owners.insert(name, claim.key);
        if (name == emailName)
            ++m_emailsOwned[claim.key];
    }
    if (m_emailsOwned.value(claim.key) > 0)
        touch(claim.key);
    answer(standing);
}

void SqliteRegistry::issuedCount(std::function<void(qint64)> answer)
{
    answer(m_store.issuedCount());
}

void SqliteRegistry::report(const NodeInfo &self)
{
    NodeInfo node = self;
    // One database serves one node; its process tells it from an earlier run's report.
    node.id = QString::number(QCoreApplication::applicationPid());
    node.self = true;
    QString why;
    if (!m_store.writeNode(node, &why))
        reportFailure(QStringLiteral("cannot record this node's report in %1").arg(m_store.path()), why);
    m_self = node;
}

QVector<NodeInfo> SqliteRegistry::nodes() const
{
    return m_self ? QVector<NodeInfo>{*m_self} : QVector<NodeInfo>{};
}

bool SqliteRegistry::readNodes(const QString &dataDir, QVector<NodeInfo> *nodes, QString *error)
{
    if (!QFileInfo::exists(QDir(dataDir).filePath(QStringLiteral("users.sqlite")))) {
        if (error)
            *error = QStringLiteral("no directory data in %1").arg(dataDir);
        return false;
    }
    SqliteStore store;
    if (!store.open(dataDir, error))
        return false;
    *nodes = store.readNodes();
    return true;
}
