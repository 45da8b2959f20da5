#include "core/RefuseList.h"

#include "core/Fields.h"
#include "core/LineFile.h"

#include <algorithm>

namespace {

// Far more than Capacity entries of ordinary lines; only the file's beginning is read.
constexpr qint64 MaxReadBytes = 1024 * 1024;

QByteArray numberLine(qint32 number)
{
    const QByteArray digits = QByteArray::number(number);
    return number >= 0 ? ' ' + digits + ' ' : digits + ' ';
}

} // namespace

bool RefuseList::isRefused(qint32 userNumber) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [userNumber](const Entry &entry) { return entry.userNumber == userNumber; });
}

void RefuseList::load(const QString &path)
{
    m_entries.clear();
    const QByteArrayList lines = LineFile::read(path, MaxReadBytes).value_or(QByteArrayList());
    // Three lines an entry; a cut last entry keeps what it has.
    for (qsizetype i = 0; i < lines.size() && m_entries.size() < Capacity; i += 3) {
        Entry entry;
        entry.userNumber = Fields::leadingInt32(lines.at(i));
        if (i + 1 < lines.size())
            entry.name = Fields::fromWire(lines.at(i + 1));
        if (i + 2 < lines.size())
            entry.email = Fields::fromWire(lines.at(i + 2));
        m_entries.append(entry);
    }
}

FileError RefuseList::save(const QString &path) const
{
    QByteArrayList lines;
    lines.reserve(m_entries.size() * 3);
    for (const Entry &entry : m_entries) {
        lines.append(numberLine(entry.userNumber));
        lines.append(Fields::toWire(Fields::singleLine(entry.name)));
        lines.append(Fields::toWire(Fields::singleLine(entry.email)));
    }
    return LineFile::write(path, lines);
}

FileError RefuseList::add(const QString &path, qint32 userNumber, const QString &name,
                          const QString &email)
{
    if (m_entries.size() >= Capacity)
        return {};
    m_entries.append(Entry{userNumber, Fields::singleLine(name), Fields::singleLine(email)});
    return save(path);
}

FileError RefuseList::remove(const QString &path, int k)
{
    if (k < 1 || k > m_entries.size())
        return {};
    m_entries.removeAt(k - 1);
    return save(path);
}
