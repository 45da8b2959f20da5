#pragma once

#include "core/FileError.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
#include <functional>

// The activity log: time-stamped lines of what happened, shown in the log window and kept
// in "zelmo.log" (one line each, CR LF, oldest first). Only the newest MaxLines are kept.
class ActivityLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 10000;

    explicit ActivityLog(QObject *parent = nullptr);

    // Appends "<local date and time, short form>: <text>". Control characters become
    // blanks (see Fields::singleLine).
    void logLine(const QString &text);
    const QStringList &lines() const { return m_lines; }
    void clear();

    // A missing or unreadable file leaves the log as it is. Control characters in the
    // file's lines become blanks.
    void load(const QString &path);
    FileError save(const QString &path) const;

    // Tests may fix the clock.
    void setClock(std::function<QDateTime()> now);

signals:
    void lineAdded(const QString &line);
    // The oldest lines made room for a new one; announced before its lineAdded.
    void oldestDropped(int count);
    // The whole list changed (load, clear).
    void reset();

private:
    void append(const QString &line);

    QStringList m_lines;
    std::function<QDateTime()> m_now;
};
