#pragma once

#include "core/FileError.h"

#include <QString>
#include <QVector>

// The user's pals, known by e-mail address, kept in "zelmo.pal": two lines per pal
// (Name, EMail), CR LF, no header. At most Capacity pals, numbered from 1.
class PalList
{
public:
    static constexpr int Capacity = 200;

    struct Pal
    {
        QString Name;
        QString EMail;
        QString Address;
        QString Location;
        qint16 Port = 0;
        qint16 Status = 1; // 1 off line, 2 on line
    };

    int count() const { return int(m_pals.size()); }
    const Pal &pal(int k) const { return m_pals.at(k - 1); }
    Pal &pal(int k) { return m_pals[k - 1]; }

    // The pal whose lookup is under way (from 1); set to the count by load.
    int checkPosition = 0;

    // A missing file leaves the list as it was. Every loaded pal has Status 1; Address,
    // Location and Port of existing records are kept. An odd last line gives an empty EMail.
    void load(const QString &path);
    FileError save(const QString &path) const;

    // Name = text as given, EMail = text in lower case, Status 1; then save and, once
    // saved, reload (a failed save keeps the new pal for the save at exit).
    // Does nothing when full.
    FileError add(const QString &path, const QString &text);
    FileError remove(const QString &path, int k);

private:
    QVector<Pal> m_pals;
};
