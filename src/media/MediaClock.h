#pragma once

#include <QElapsedTimer>

// The one clock of the media loop's 1-, 5- and 10-second marks. It is monotonic (seconds
// since it was made), so the marks never jump back at midnight or when the system time is
// set. Switched to manual, it stands still until set or advanced, which lets tests step
// through the marks without waiting.
class MediaClock
{
public:
    MediaClock();

    double now() const;

    // From now on the clock reads `seconds` until set or advanced again.
    void setManual(double seconds);
    // Moves a manual clock on; ignored while the clock runs by itself.
    void advance(double seconds);
    bool isManual() const { return m_manual; }

private:
    QElapsedTimer m_timer;
    bool m_manual = false;
    double m_manualSeconds = 0.0;
};
