#pragma once

#include <QByteArray>
#include <QString>

// The sound choices beyond the classic ones: the microphone's processing and the devices
// the user pinned. They live in a file of their own in the profile folder, so
// "zelmo.ini" keeps exactly the keys every other build reads and writes.
struct AudioSettings
{
    static inline const QString FileName = QStringLiteral("audio.ini");

    bool EchoCancellation = true;
    bool NoiseSuppression = true;
    bool AutomaticLevel = true;
    // The sound system's names of the pinned devices; empty follows the system's default.
    QByteArray Microphone;
    QByteArray Speaker;

    // Missing file or key: the default.
    void load(const QString &path);
    // Writes the keys atomically, keeping the file's other lines.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
