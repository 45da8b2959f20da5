#pragma once

#include <QString>

// The choices about encryption, in a file of their own in the profile folder so that
// "zelmo.ini" keeps exactly the keys every other build reads and writes.
struct SecuritySettings
{
    static inline const QString FileName = QStringLiteral("security.ini");

    // Calls must be encrypted both ways: a plain caller is refused, and no plain call is placed.
    bool OnlyEncrypted = false;

    // Missing file or key: the default.
    void load(const QString &path);
    // Writes the key atomically, keeping the file's other lines.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
