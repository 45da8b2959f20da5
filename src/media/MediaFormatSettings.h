#pragma once

#include <QString>

// The choice of picture and sound formats, in a file of its own in the profile folder so
// that "zelmo.ini" keeps exactly the keys every other build reads and writes.
struct MediaFormatSettings
{
    static inline const QString FileName = QStringLiteral("media.ini");

    // Even between two programs of this version, only the published formats (JPEG
    // pictures, GSM sound) are used.
    bool PublishedFormatsOnly = false;

    // Missing file or key: the default.
    void load(const QString &path);
    // Writes the key atomically, keeping the file's other lines.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
