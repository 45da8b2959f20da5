#include "core/ActivityLog.h"

#include "core/Fields.h"
#include "core/LineFile.h"

#include <QLocale>

namespace {

// Far more than MaxLines of ordinary lines; only the file's end is read.
constexpr qint64 MaxReadBytes = 8 * 1024 * 1024;

QDateTime systemNow()
{
    return QDateTime::currentDateTime();
}

} // namespace

ActivityLog::ActivityLog(QObject *parent)
    : QObject(parent)
    , m_now(systemNow)
{
}

void ActivityLog::setClock(std::function<QDateTime()> now)
{
    m_now = now ? std::move(now) : std::function<QDateTime()>(systemNow);
}

void ActivityLog::logLine(const QString &text)
{
    append(QLocale::system().toString(m_now(), QLocale::ShortFormat) + QStringLiteral(": ")
           + Fields::singleLine(text));
}

void ActivityLog::append(const QString &line)
{
    m_lines.append(line);
    if (m_lines.size() > MaxLines) {
        const int dropped = int(m_lines.size() - MaxLines);
        m_lines.remove(0, dropped);
        emit oldestDropped(dropped);
    }
    emit lineAdded(line);
}

void ActivityLog::clear()
{
    m_lines.clear();
    emit reset();
}

void ActivityLog::load(const QString &path)
{
    const std::optional<QByteArrayList> read = LineFile::read(path, MaxReadBytes, LineFile::Part::Tail);
    if (!read)
        return;
    // Older lines would be dropped at once; they are not even decoded. A file edited or
    // written elsewhere may hold control characters, which the log window must not show.
    for (qsizetype i = qMax<qsizetype>(0, read->size() - MaxLines); i < read->size(); ++i)
        m_lines.append(Fields::singleLine(Fields::fromWire(read->at(i))));
    if (m_lines.size() > MaxLines)
        m_lines.remove(0, m_lines.size() - MaxLines);
    emit reset();
}

FileError ActivityLog::save(const QString &path) const
{
    QByteArrayList lines;
    lines.reserve(m_lines.size());
    for (const QString &line : m_lines)
        lines.append(Fields::toWire(line));
    return LineFile::write(path, lines);
}
