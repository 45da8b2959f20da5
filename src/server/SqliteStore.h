#pragma once

#include "server/NodeInfo.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>
#include <memory>

class QSqlQuery;

// The embedded registry's database, "users.sqlite" in the server's data folder: the user
// numbers handed out with the e-mail each belongs to, and the node's latest report (which
// "zelmo-directory --stats" reads). A number is never handed out twice, not even after a
// restart, until all have been: then one that was never used for a login within the
// reclaim time is handed out again.
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

    // Whether the database takes writes; false with the reason.
    bool checkWritable(QString *why);
    // A new number, 1 to 1000000, or a reclaimed one (see above), handed out to `key`
    // (empty: a plain asker); 0 with the reason when none is left or the database failed.
    qint32 issue(qint64 reclaimAfterMs, const QByteArray &key, QString *why);
    // Records that a number that was handed out was used for a login, with its e-mail;
    // others are ignored. False with the reason when the database failed.
    bool remember(qint32 number, const QString &email, QString *why);
    // The e-mail recorded for a number (empty when none or not handed out).
    QString emailOf(qint32 number) const;
    int issuedCount() const;
    // Whether the number was handed out to this key (or before the database kept to whom).
    bool wasIssuedTo(qint32 number, const QByteArray &key) const;

    // Who owns what (see Registry::Claim): "e:ADDRESS" or "n:NUMBER" -> key fingerprint.
    QHash<QString, QByteArray> owners() const;
    // Binds a name to a key unless someone owns it already. False with the reason.
    bool bindOwner(const QString &name, const QByteArray &key, QString *why);
    // Everything the key that owns this e-mail owns becomes free again: the count of names
    // freed, -1 with the reason when the database failed.
    int releaseOwner(const QString &email, QString *why);
    // Everything the key owns becomes free again, as above.
    int releaseKey(const QByteArray &key, QString *why);
    // When each key that owns something last logged in (ms since the epoch).
    QHash<QByteArray, qint64> keysSeen() const;
    bool touchKey(const QByteArray &key, qint64 atMs, QString *why);

    // A node's report, replacing its previous one; its age is counted from now. False with
    // the reason when the database failed.
    bool writeNode(const NodeInfo &node, QString *why);
    void removeNode(const QString &id);
    QVector<NodeInfo> readNodes() const;

private:
    QString m_connection;
    QString m_path;
    bool m_open = false;
    // Why the database could not be opened, for every later use.
    QString m_openError;
    // Prepared once: every login records its e-mail.
    std::unique_ptr<QSqlQuery> m_remember;
};
