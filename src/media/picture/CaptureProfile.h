#pragma once

#include <QHash>
#include <QSize>
#include <QString>

// The capture choices kept per video driver, in a small text file of the profile folder:
//   [driver name]
//   Format=640x480;YUYV;30
//   CaptureSize=320x240
//   Mirror=1
// Read once, rewritten atomically on every change. A damaged or oversized file reads as
// far as it makes sense and never fails.
class CaptureProfile
{
public:
    struct Entry
    {
        QString formatKey; // empty: let the engine choose
        QSize captureSize;  // empty: the default size
        bool mirror = false;
    };

    static constexpr qint64 MaxFileBytes = 64 * 1024;
    static constexpr int MaxDrivers = 64;

    // An empty path keeps the choices in memory only.
    explicit CaptureProfile(QString path = QString());

    Entry entry(const QString &driver) const;
    void setEntry(const QString &driver, const Entry &entry);
    // Writes the file; false when it cannot be written (the choices stay in memory).
    bool save() const;
    QString path() const { return m_path; }

private:
    void load();

    QString m_path;
    QHash<QString, Entry> m_entries;
    QStringList m_order;
};
