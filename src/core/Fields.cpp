#include "core/Fields.h"

#include <algorithm>
#include <limits>

namespace Fields {

int countFields(const QByteArray &text)
{
    return int(text.count(';'));
}

QByteArray getField(const QByteArray &text, int n)
{
    qsizetype start = 0;
    for (int i = 1; i < n; ++i) {
        const qsizetype semi = text.indexOf(';', start);
        if (semi < 0)
            break; // a skip that finds no ";" leaves the rest unchanged
        start = semi + 1;
    }
    const qsizetype end = text.indexOf(';', start);
    return end < 0 ? text.mid(start) : text.mid(start, end - start);
}

QByteArray readField(QByteArray &text)
{
    const qsizetype semi = text.indexOf(';');
    if (semi < 0) {
        QByteArray all = text;
        text.clear();
        return all;
    }
    QByteArray field = text.left(semi);
    text.remove(0, semi + 1);
    return field;
}

QByteArray Reader::next()
{
    if (m_pos >= m_text.size())
        return {};
    const qsizetype semi = m_text.indexOf(';', m_pos);
    const qsizetype end = semi < 0 ? m_text.size() : semi;
    QByteArray field = m_text.mid(m_pos, end - m_pos);
    m_pos = semi < 0 ? m_text.size() : semi + 1;
    return field;
}

qint64 leadingNumber(const QByteArray &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    qint64 value = 0;
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < limit)
            value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

qint64 leadingNumber(const QString &text)
{
    return leadingNumber(text.toLatin1());
}

qint16 leadingInt16(const QByteArray &text)
{
    return qint16(std::clamp<qint64>(leadingNumber(text), std::numeric_limits<qint16>::min(),
                                     std::numeric_limits<qint16>::max()));
}

qint32 leadingInt32(const QByteArray &text)
{
    return qint32(std::clamp<qint64>(leadingNumber(text), std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

int validPort(qint64 value)
{
    return value >= 1 && value <= 65535 ? int(value) : 0;
}

namespace {

// Characters that move the cursor, end a line or reorder what follows on screen: a peer's
// name carrying them could forge or garble log lines, or drive the terminal of whoever
// reads the log.
bool controlCharacter(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:       // C0, DEL, C1
    case QChar::Separator_Line:      // U+2028
    case QChar::Separator_Paragraph: // U+2029
        return true;
    default:
        break;
    }
    const char16_t u = c.unicode();
    // Bidirectional embeddings, overrides and isolates.
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString singleLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        if (controlCharacter(c))
            c = QLatin1Char(' ');
    }
    return line;
}

QByteArray utf8Left(const QByteArray &text, int maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    qsizetype end = qMax(0, maxBytes);
    // Continuation bytes (10xxxxxx) belong to the character that started before them.
    while (end > 0 && (uchar(text[end]) & 0xC0) == 0x80)
        --end;
    return text.left(end);
}

QString fromWire(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes);
}

QByteArray toWire(const QString &text)
{
    return text.toUtf8();
}

} // namespace Fields
