#pragma once

#include <QByteArrayList>
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
    static constexpr qint64 MaxBytes = 1024 * 1024;

    explicit ProfileFile(QString path);

    // Reads the file as it is on disk now; a missing or unreadable file reads as empty.
    // Only the first MaxBytes are read.
    void reload();

    QString readString(const QString &section, const QString &key, const QString &defaultValue,
                       int bufferSize) const;
    void writeString(const QString &section, const QString &key, const QString &value);
    // "True" or "False", in any case; anything else reads as the default.
    bool readBool(const QString &section, const QString &key, bool defaultValue) const;
    void writeBool(const QString &section, const QString &key, bool value);

    // Writes the lines atomically. Returns false when the file cannot be written.
    bool save(QString *errorText = nullptr) const;

    const QStringList &lines() const { return m_lines; }

private:
    struct Place
    {
        int keyLine = -1;     // the key's line, when present
        int sectionLine = -1; // the section's first header, when present
        int sectionEnd = -1;  // the line after the section's last non-blank line
    };
    Place find(const QString &section, const QString &key) const;
    void setLine(int index, const QString &line);
    void insertLine(int index, const QString &line);

    QString m_path;
    QStringList m_lines;
    // The bytes of each line; a line nobody wrote to goes back to the file as it came.
    QByteArrayList m_raw;
};
