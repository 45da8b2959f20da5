#pragma once

#include "core/FileError.h"

#include <QString>
#include <QVector>

// Senders whose quick messages are turned away, kept in "refuse.dat": three lines per
// entry (user number with a blank before a non-negative number and one after it, name,
// e-mail), CR LF, no header. Holds at most Capacity entries, numbered from 1.
class RefuseList
{
public:
    static constexpr int Capacity = 200;

    struct Entry
    {
        qint32 userNumber = 0;
        QString name;
        QString email;
    };

    int count() const { return int(m_entries.size()); }
    // Entry k, counted from 1.
    const Entry &entry(int k) const { return m_entries.at(k - 1); }
    bool isRefused(qint32 userNumber) const;

    // A missing file gives an empty list; more than Capacity entries load the first ones.
    void load(const QString &path);
    FileError save(const QString &path) const;

    // Both save at once and return the save's outcome (a failed save keeps the change in
    // memory); add does nothing when full, remove nothing for a number out of range.
    FileError add(const QString &path, qint32 userNumber, const QString &name, const QString &email);
    FileError remove(const QString &path, int k);

private:
    QVector<Entry> m_entries;
};
