#include "desktop/HotKey.h"

const QList<HotKey> &HotKey::offered()
{
    static const QList<HotKey> keys = [] {
        QList<HotKey> list;
        // Function keys F1 to F24 have consecutive key symbols (F13 and up are what many
        // mice and keyboards send from their extra buttons).
        for (int n = 1; n <= 24; ++n) {
            const QString name = QStringLiteral("F%1").arg(n);
            list.append({name, name, quint32(0xffbe + n - 1)});
        }
        list.append({QStringLiteral("Pause"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Pause")), 0xff13});
        list.append(
            {QStringLiteral("Scroll_Lock"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Scroll Lock")), 0xff14});
        list.append({QStringLiteral("Insert"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Insert")), 0xff63});
        list.append({QStringLiteral("Menu"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Menu")), 0xff67});
        list.append({QStringLiteral("Control_R"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Right Ctrl")), 0xffe4});
        list.append({QStringLiteral("Shift_R"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Right Shift")), 0xffe2});
        list.append({QStringLiteral("Super_R"), QStringLiteral(QT_TRANSLATE_NOOP("HotKey", "Right Super")), 0xffec});
        return list;
    }();
    return keys;
}

const HotKey *HotKey::find(const QString &name)
{
    if (name.isEmpty())
        return nullptr;
    for (const HotKey &key : offered()) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}
