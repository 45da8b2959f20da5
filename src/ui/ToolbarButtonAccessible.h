#pragma once

#include <QAccessibleWidget>

class QAbstractButton;

// What assistive technology learns of a toolbar button: a push button named by its
// caption, described by its tool tip, "checked" while held down (its window open, talk
// latched), pressed by the press action. The standard description of a button that can be
// held down would call it a check box.
class ToolbarButtonAccessible : public QAccessibleWidget
{
public:
    explicit ToolbarButtonAccessible(QWidget *button);

    // Makes Qt use this description for every ToolbarButton; safe to call more than once.
    static void install();

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    // The picture and the caption are the button's own look, not parts to visit.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

private:
    QAbstractButton *button() const;
};
