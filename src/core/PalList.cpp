#include "core/PalList.h"

#include "core/Fields.h"
#include "core/LineFile.h"

namespace {

// Far more than Capacity pals of ordinary lines; only the file's beginning is read.
constexpr qint64 MaxReadBytes = 1024 * 1024;

} // namespace

void PalList::load(const QString &path)
{
    const std::optional<QByteArrayList> lines = LineFile::read(path, MaxReadBytes);
    if (!lines)
        return;
    const qsizetype count = qMin<qsizetype>(Capacity, (lines->size() + 1) / 2);
    m_pals.resize(count);
    for (qsizetype k = 0; k < count; ++k) {
        // Address, Location and Port stay: they come from the pal server, not the file.
        Pal &pal = m_pals[k];
        pal.Name = Fields::fromWire(lines->at(2 * k));
        pal.EMail = 2 * k + 1 < lines->size() ? Fields::fromWire(lines->at(2 * k + 1)) : QString();
        pal.Status = 1;
    }
    checkPosition = int(count);
}

FileError PalList::save(const QString &path) const
{
    QByteArrayList lines;
    lines.reserve(m_pals.size() * 2);
    for (const Pal &pal : m_pals) {
        lines.append(Fields::toWire(Fields::singleLine(pal.Name)));
        lines.append(Fields::toWire(Fields::singleLine(pal.EMail)));
    }
    return LineFile::write(path, lines);
}

FileError PalList::add(const QString &path, const QString &text)
{
    if (m_pals.size() >= Capacity)
        return {};
    Pal pal;
    pal.Name = Fields::singleLine(text);
    pal.EMail = pal.Name.toLower();
    m_pals.append(pal);
    const FileError error = save(path);
    // Reloading a file that was not written would lose the new pal.
    if (!error)
        load(path);
    return error;
}

FileError PalList::remove(const QString &path, int k)
{
    if (k < 1 || k > m_pals.size())
        return {};
    m_pals.removeAt(k - 1);
    // A lookup under way must not point past the table.
    checkPosition = qMin(checkPosition, int(m_pals.size()));
    return save(path);
}
