#pragma once

#include <QCoreApplication>
#include <QList>
#include <QString>

// A key that can be the global talk key: held down, it talks while any window has the
// focus. Only single keys a hand can hold without typing anything are offered.
struct HotKey
{
    // The key's symbol name as the desktop's shortcut services and X11 spell it ("F12",
    // "Scroll_Lock"); it is also what the settings file keeps.
    QString name;
    // What the options show, in English.
    QString label;
    // The X11 key symbol.
    quint32 keysym = 0;

    // The label in the user's language.
    QString shownLabel() const { return QCoreApplication::translate("HotKey", label.toUtf8().constData()); }

    // The offered keys, in the order the options list them.
    static const QList<HotKey> &offered();
    // The offered key of that name (case matters, as in key symbol names); nullptr if none.
    static const HotKey *find(const QString &name);
};
