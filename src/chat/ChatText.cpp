#include "chat/ChatText.h"

#include <algorithm>

ChatText::Edit ChatText::append(const QString &text)
{
    Edit e;
    e.added = text;
    e.added.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    e.added.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_text += e.added;
    return e;
}

ChatText::Edit ChatText::removeLast()
{
    Edit e;
    const int n = length();
    if (n <= m_kept)
        return e;
    e.chop = n >= 2 && m_text.at(n - 1).isLowSurrogate() && m_text.at(n - 2).isHighSurrogate() ? 2 : 1;
    if (n - e.chop < m_kept)
        return {};
    m_text.chop(e.chop);
    return e;
}

ChatText::Edit ChatText::clear()
{
    Edit e;
    e.cut = length();
    m_text.clear();
    m_kept = 0;
    return e;
}

ChatText::Edit ChatText::bound(int limit, int keep)
{
    Edit e;
    if (length() <= limit)
        return e;
    e.cut = length() - std::clamp(keep, 0, length());
    // Never keep half of a character.
    if (e.cut < length() && m_text.at(e.cut).isLowSurrogate())
        ++e.cut;
    m_text.remove(0, e.cut);
    m_kept = std::max(0, m_kept - e.cut);
    return e;
}
