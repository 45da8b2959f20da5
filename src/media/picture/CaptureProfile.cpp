#include "media/picture/CaptureProfile.h"

#include <QFile>
#include <QSaveFile>

namespace {

QSize parseSize(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('x'));
    if (parts.size() != 2)
        return {};
    bool okW = false, okH = false;
    const int w = parts.at(0).trimmed().toInt(&okW);
    const int h = parts.at(1).trimmed().toInt(&okH);
    if (!okW || !okH || w <= 0 || h <= 0 || w > 8192 || h > 8192)
        return {};
    return QSize(w, h);
}

// Names are kept on one line, as the file reads them back: a line break inside one would
// start a new key, and the reader trims every line.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

} // namespace

CaptureProfile::CaptureProfile(QString path)
    : m_path(std::move(path))
{
    load();
}

void CaptureProfile::load()
{
    if (m_path.isEmpty())
        return;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(file.read(MaxFileBytes));
    QString section;
    bool inSection = false;
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')) && line.size() >= 2) {
            section = line.mid(1, line.size() - 2).trimmed();
            inSection = m_entries.contains(section) || m_entries.size() < MaxDrivers;
            if (inSection && !m_entries.contains(section)) {
                m_entries.insert(section, Entry());
                m_order.append(section);
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inSection || eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        Entry &e = m_entries[section];
        if (key.compare(QLatin1String("Format"), Qt::CaseInsensitive) == 0)
            e.formatKey = value;
        else if (key.compare(QLatin1String("CaptureSize"), Qt::CaseInsensitive) == 0)
            e.captureSize = parseSize(value);
        else if (key.compare(QLatin1String("Mirror"), Qt::CaseInsensitive) == 0)
            e.mirror = value == QLatin1String("1");
    }
}

CaptureProfile::Entry CaptureProfile::entry(const QString &driver) const
{
    return m_entries.value(oneLine(driver));
}

void CaptureProfile::setEntry(const QString &driver, const Entry &entry)
{
    const QString name = oneLine(driver);
    if (!m_entries.contains(name)) {
        if (m_entries.size() >= MaxDrivers) {
            m_entries.remove(m_order.takeFirst());
        }
        m_order.append(name);
    }
    m_entries.insert(name, entry);
}

bool CaptureProfile::save() const
{
    if (m_path.isEmpty())
        return true;
    QByteArray out;
    for (const QString &name : m_order) {
        const Entry &e = m_entries[name];
        out += '[' + name.toUtf8() + "]\n";
        out += "Format=" + oneLine(e.formatKey).toUtf8() + '\n';
        if (!e.captureSize.isEmpty())
            out += "CaptureSize=" + QByteArray::number(e.captureSize.width()) + 'x'
                   + QByteArray::number(e.captureSize.height()) + '\n';
        out += QByteArray("Mirror=") + (e.mirror ? "1" : "0") + '\n';
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(out);
    return file.commit();
}
