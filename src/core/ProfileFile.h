#pragma once

#include <QString>
#include <QStringList>

// A sections-and-keys text file ("[Section]" lines, then "key=value" lines), read and
// written with the semantics of the classic profile-string functions: section and key
// lookup ignore case, values are trimmed, a read keeps at most bufferSize - 1
// characters, and a write replaces the key's line in place (or appends it, creating the
// section) while every other line of the file, comments and foreign keys included, stays.
class ProfileFile
{
public:
    explicit ProfileFile(QString path);

    // Reads the file as it is on disk now; a missing or unreadable file reads as empty.
    void reload();

    QString readString(const QString &section, const QString &key, const QString &defaultValue,
                       int bufferSize) const;
    void writeString(const QString &section, const QString &key, const QString &value);

    // Writes the lines atomically. Returns false when the file cannot be written.
    bool save(QString *errorText = nullptr) const;

    const QStringList &lines() const { return m_lines; }

private:
    QString m_path;
    QStringList m_lines;
};
