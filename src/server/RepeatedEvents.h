#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Log lines a peer can cause again and again (logins, connections turned away, numbers
// refused): the first few of one kind from one source in a period go to the log, the rest
// are counted and summed up in one line each when the period ends, so a flood cannot fill
// the log and the operator still learns who did what how often.
class RepeatedEvents
{
public:
    // Sources counted one by one in a period; beyond them the rest are counted together.
    static constexpr int MaxSources = 4096;

    explicit RepeatedEvents(int perPeriod = 5) : m_perPeriod(perPeriod) {}

    // Whether this event's line is logged (within `budget` of its kind from the source in
    // this period, or the default); false: it is only counted.
    bool admit(const QString &source, const QString &kind, int budget = -1);
    // One line for each source and kind that went over its budget, then a new period.
    QStringList summarise(const QString &period);

private:
    struct Count
    {
        int seen = 0;
        int budget = 0;
    };
    QHash<QString, Count> m_counts; // source + '\n' + kind
    int m_perPeriod;
    int m_others = 0;
};
