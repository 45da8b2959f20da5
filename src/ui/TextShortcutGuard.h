#pragma once

#include <QObject>

// Lets a text box with the keyboard focus keep the standard copy key (Ctrl+C) even where
// a menu item holds the same shortcut: the box copies, the menu item stays quiet. Read-only
// boxes (the chat conversation, the log) need this; editable ones claim the key anyway.
class TextShortcutGuard : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
