#pragma once

#include <QString>

#include <array>

// The MM:SS clock of a call, shown as four digit pictures. Only the pictures whose digit
// changed since the last drawing are replaced.
class CallClock
{
public:
    struct Digits
    {
        std::array<int, 4> value{}; // minutes tens, minutes units, seconds tens, seconds units
        std::array<bool, 4> changed{};
    };

    // Step 0 sets 00:00 (call start and end); any other step adds one second. The clock
    // wraps from 59:59 to 00:00.
    void tickCallClock(int step);

    int callMinutes() const { return m_minutes; }
    int callSeconds() const { return m_seconds; }
    QString text() const;

    // The four digits to draw now; each is marked changed when it differs from the digit
    // drawn last (all of them on the first drawing). Records them as drawn.
    Digits digits();

private:
    int m_minutes = 0;
    int m_seconds = 0;
    std::array<int, 4> m_drawn{-1, -1, -1, -1};
};
