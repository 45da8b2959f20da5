#include "server/SqliteRegistry.h"

#include "directory/DirectoryProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
    if (!m_store.open(m_dataDir, &why)) {
        if (error)
            *error = QStringLiteral("cannot open the user numbers: ") + why;
        return false;
    }
    return true;
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
    m_store.remember(user.number, user.email);
}

void SqliteRegistry::userLeft(Key, const User &)
{
}

void SqliteRegistry::userList(const QString &loopbackHost, std::function<void(const QByteArray &)> answer)
{
    answer(m_users.listMessage(DirectoryProtocol::MaxEntries, loopbackHost));
}

void SqliteRegistry::findByEmail(const QString &email, const QString &loopbackHost,
                                 std::function<void(std::optional<User>)> answer)
{
    answer(m_users.answerByEmail(email, loopbackHost));
}

void SqliteRegistry::issueNumber(std::function<void(qint32)> answer)
{
    answer(m_store.issue());
}

void SqliteRegistry::emailOf(qint32 number, std::function<void(const QString &)> answer)
{
    answer(m_store.emailOf(number));
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
    m_store.writeNode(node);
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
