#include "ui/ToolbarButtonAccessible.h"

#include "ui/ToolbarButton.h"

namespace {

QAccessibleInterface *describe(const QString &className, QObject *object)
{
    if (className == QLatin1String("ToolbarButton") && object && object->isWidgetType())
        return new ToolbarButtonAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

ToolbarButtonAccessible::ToolbarButtonAccessible(QWidget *button)
    : QAccessibleWidget(button, QAccessible::Button)
{
}

void ToolbarButtonAccessible::install()
{
    // Qt keeps the factory for the process; it is added once however many programs run.
    static const bool installed = (QAccessible::installFactory(describe), true);
    Q_UNUSED(installed);
}

QAbstractButton *ToolbarButtonAccessible::button() const
{
    return static_cast<QAbstractButton *>(widget());
}

QString ToolbarButtonAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && button()->accessibleName().isEmpty())
        return button()->text();
    if (t == QAccessible::Description && button()->accessibleDescription().isEmpty())
        return button()->toolTip();
    return QAccessibleWidget::text(t);
}

QAccessible::State ToolbarButtonAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    if (button()->isCheckable()) {
        s.checkable = true;
        s.checked = button()->isChecked();
    }
    s.pressed = button()->isDown();
    return s;
}

QStringList ToolbarButtonAccessible::actionNames() const
{
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void ToolbarButtonAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction())
        button()->click();
    else
        QAccessibleWidget::doAction(actionName);
}
