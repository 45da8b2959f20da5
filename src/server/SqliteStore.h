#pragma once

#include "server/NodeInfo.h"

#include <QString>
#include <QVector>
#include <memory>

class QSqlQuery;

// The embedded registry's database, "users.sqlite" in the server's data folder: the user
// numbers handed out with the e-mail each belongs to, and the node's latest report (which
// "zelmo-directory --stats" reads). A number is never handed out twice, not even after a
// restart.
class SqliteStore
{
public:
    SqliteStore();
    ~SqliteStore();
    SqliteStore(const SqliteStore &) = delete;
    SqliteStore &operator=(const SqliteStore &) = delete;

    // Opens (creating when needed) "users.sqlite" in the folder. False with a reason when
    // the folder or the database cannot be used.
    bool open(const QString &folder, QString *error);
    bool isOpen() const { return m_open; }
    QString path() const { return m_path; }

    // A new number, 1 to 1000000; 0 when all are taken or the database failed.
    qint32 issue();
    // Records the e-mail of a number that was handed out; others are ignored.
    void remember(qint32 number, const QString &email);
    // The e-mail recorded for a number (empty when none or not handed out).
    QString emailOf(qint32 number) const;
    int issuedCount() const;

    // A node's report, replacing its previous one; its age is counted from now.
    void writeNode(const NodeInfo &node);
    void removeNode(const QString &id);
    QVector<NodeInfo> readNodes() const;

private:
    QString m_connection;
    QString m_path;
    bool m_open = false;
    // Prepared once: every login records its e-mail.
    std::unique_ptr<QSqlQuery> m_remember;
};
