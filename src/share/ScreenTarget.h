#pragma once

#include <QSize>
#include <QString>

// What the user chose to share: a whole screen or one window, as the X server names them.
struct ScreenTarget
{
    enum class Kind { Screen, Window };
    Kind kind = Kind::Screen;
    // The screen's root window or the window itself.
    quint32 window = 0;
    // As the picker shows it: the window's title, or the screen's number and size.
    QString name;
    QSize size;

    bool operator==(const ScreenTarget &) const = default;
};
