#pragma once

#include <QString>

// The user numbers handed out and the e-mail each belongs to, kept in an SQLite database
// in the server's data folder so that they survive a restart. A number is never handed
// out twice, not even after a restart.
class NumberStore
{
public:
    NumberStore();
    ~NumberStore();
    NumberStore(const NumberStore &) = delete;
    NumberStore &operator=(const NumberStore &) = delete;

    // Opens (creating when needed) "users.sqlite" in the folder. False with a reason when
    // the folder or the database cannot be used.
    bool open(const QString &folder, QString *error);
    bool isOpen() const { return m_open; }

    // A new number, 1 to 1000000; 0 when all are taken or the database failed.
    qint32 issue();
    // Records the e-mail of a number that was handed out; others are ignored.
    void remember(qint32 number, const QString &email);
    // The e-mail recorded for a number (empty when none or not handed out).
    QString emailOf(qint32 number) const;
    int issuedCount() const;

private:
    QString m_connection;
    bool m_open = false;
};
