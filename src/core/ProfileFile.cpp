#include "core/ProfileFile.h"

#include "core/Fields.h"
#include "core/LineFile.h"

#include <utility>

namespace {

// "[name]" with blanks allowed around it; a header without "]" names the rest of the line.
bool sectionOf(const QString &line, QString *name)
{
    const QString text = line.trimmed();
    if (!text.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    *name = (close < 0 ? text.mid(1) : text.mid(1, close - 1)).trimmed();
    return true;
}

// "key=value"; comment lines (";...") hold no key.
bool keyOf(const QString &line, QString *key, QString *value = nullptr)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0 || line.trimmed().startsWith(QLatin1Char(';')))
        return false;
    *key = line.left(equals).trimmed();
    if (value)
        *value = line.mid(equals + 1).trimmed();
    return true;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

ProfileFile::ProfileFile(QString path)
    : m_path(std::move(path))
{
}

void ProfileFile::reload()
{
    m_lines.clear();
    m_raw = LineFile::read(m_path, MaxBytes).value_or(QByteArrayList());
    m_lines.reserve(m_raw.size());
    for (const QByteArray &raw : std::as_const(m_raw))
        m_lines.append(Fields::fromWire(raw));
    // A byte-order mark from an editor must not hide the first section.
    if (!m_lines.isEmpty() && m_lines.first().startsWith(QChar(0xfeff)))
        m_lines.first().remove(0, 1);
}

ProfileFile::Place ProfileFile::find(const QString &section, const QString &key) const
{
    Place place;
    bool inSection = false;
    bool inFirstBlock = false;
    QString name;
    for (int i = 0; i < m_lines.size(); ++i) {
        const QString &line = m_lines.at(i);
        if (sectionOf(line, &name)) {
            inSection = sameName(name, section);
            inFirstBlock = inSection && place.sectionLine < 0;
            if (inFirstBlock) {
                place.sectionLine = i;
                place.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (keyOf(line, &name) && sameName(name, key)) {
            place.keyLine = i;
            return place;
        }
        if (inFirstBlock && !line.trimmed().isEmpty())
            place.sectionEnd = i + 1;
    }
    return place;
}

QString ProfileFile::readString(const QString &section, const QString &key,
                                const QString &defaultValue, int bufferSize) const
{
    const Place place = find(section, key);
    if (place.keyLine < 0)
        return defaultValue.left(qMax(0, bufferSize - 1));
    QString foundKey;
    QString value;
    keyOf(m_lines.at(place.keyLine), &foundKey, &value);
    // A value reads as it will read again once written back: control characters are
    // blanks (a write makes them so), and the cut to the buffer (whose last place holds
    // the terminator) neither splits a character nor leaves a blank that the next read
    // would trim away.
    value = Fields::singleLine(value).left(qMax(0, bufferSize - 1));
    if (!value.isEmpty() && value.back().isHighSurrogate())
        value.chop(1);
    return value.trimmed();
}

void ProfileFile::writeString(const QString &section, const QString &key, const QString &value)
{
    // A line break in the value would start a line of its own.
    const QString safeValue = Fields::singleLine(value);
    const Place place = find(section, key);
    if (place.keyLine >= 0) {
        QString foundKey;
        keyOf(m_lines.at(place.keyLine), &foundKey);
        setLine(place.keyLine, foundKey + QLatin1Char('=') + safeValue);
    } else if (place.sectionLine >= 0) {
        insertLine(place.sectionEnd, key + QLatin1Char('=') + safeValue);
    } else {
        insertLine(int(m_lines.size()), QLatin1Char('[') + section + QLatin1Char(']'));
        insertLine(int(m_lines.size()), key + QLatin1Char('=') + safeValue);
    }
}

void ProfileFile::setLine(int index, const QString &line)
{
    m_lines[index] = line;
    m_raw[index] = Fields::toWire(line);
}

void ProfileFile::insertLine(int index, const QString &line)
{
    m_lines.insert(index, line);
    m_raw.insert(index, Fields::toWire(line));
}

bool ProfileFile::save(QString *errorText) const
{
    const FileError error = LineFile::write(m_path, m_raw);
    if (error && errorText)
        *errorText = error.description;
    return !error;
}

bool ProfileFile::readBool(const QString &section, const QString &key, bool defaultValue) const
{
    const QString text = readString(section, key, QString(), 16);
    if (text.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0)
        return false;
    return defaultValue;
}

void ProfileFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("True") : QStringLiteral("False"));
}
