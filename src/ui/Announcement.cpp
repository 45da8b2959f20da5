#include "ui/Announcement.h"

#include <QAccessible>
#include <QWidget>

namespace Announcement {

void alert(QWidget *widget, const QString &text)
{
    widget->setAccessibleDescription(text);
    QAccessibleEvent event(widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
}

} // namespace Announcement
