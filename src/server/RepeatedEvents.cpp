#include "server/RepeatedEvents.h"

bool RepeatedEvents::admit(const QString &source, const QString &kind, int budget)
{
    const QString key = source + QLatin1Char('\n') + kind;
    auto it = m_counts.find(key);
    if (it == m_counts.end()) {
        if (m_counts.size() >= MaxSources) {
            ++m_others;
            return false;
        }
        it = m_counts.insert(key, Count{0, budget < 0 ? m_perPeriod : budget});
    }
    return ++it->seen <= it->budget;
}

QStringList RepeatedEvents::summarise(const QString &period)
{
    QStringList lines;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it) {
        const int over = it->seen - it->budget;
        if (over <= 0)
            continue;
        const qsizetype cut = it.key().indexOf(QLatin1Char('\n'));
        const QString source = it.key().left(cut);
        lines << QStringLiteral("%1 more like \"%2\"%3 in the last %4")
                     .arg(over)
                     .arg(it.key().mid(cut + 1),
                          source.isEmpty() ? QString() : QStringLiteral(" from ") + source, period);
    }
    if (m_others > 0)
        lines << QStringLiteral("%1 more events from other addresses in the last %2").arg(m_others).arg(period);
    m_counts.clear();
    m_others = 0;
    return lines;
}
