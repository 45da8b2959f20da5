#pragma once

#include <QString>

class QWidget;

// What assistive technology says at once, without the keyboard's focus moving: an
// incoming call, a busy signal, a new quick message. The widget's description carries the
// text and an alert event points a screen reader at it.
namespace Announcement {

void alert(QWidget *widget, const QString &text);

} // namespace Announcement
