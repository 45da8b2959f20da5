#include "desktop/ColourSchemeWatcher.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

// The portal's values: 0 no preference, 1 dark, 2 light.
constexpr uint PrefersDark = 1;

// The value may come wrapped in one variant (ReadOne) or two (Read, and the signal on
// some portals).
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 3; ++depth) {
        if (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        else if (value.userType() == qMetaTypeId<QDBusArgument>())
            value = qdbus_cast<QDBusVariant>(value.value<QDBusArgument>()).variant();
        else
            break;
    }
    return value;
}

} // namespace

QString ColourSchemeWatcher::knownChoice(const QString &name)
{
    for (const QString &known : {System, Light, Dark}) {
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return known;
    }
    return System;
}

ColourSchemeWatcher::ColourSchemeWatcher(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Path, Interface, QStringLiteral("SettingChanged"), this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    read(QStringLiteral("ReadOne"));
}

void ColourSchemeWatcher::choose(const QString &choice)
{
    update([&] { m_choice = knownChoice(choice); });
}

bool ColourSchemeWatcher::isDark() const
{
    if (m_choice == Dark)
        return true;
    return m_choice == System && m_desktopDark;
}

void ColourSchemeWatcher::read(const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    call << Namespace << Key;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, method] { answered(watcher, method); });
}

void ColourSchemeWatcher::answered(QDBusPendingCallWatcher *watcher, const QString &method)
{
    watcher->deleteLater();
    const QDBusMessage reply = watcher->reply();
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        setDesktopValue(reply.arguments().constFirst());
        return;
    }
    // Portals older than ReadOne only have Read.
    if (method == QLatin1String("ReadOne") && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        read(QStringLiteral("Read"));
}

void ColourSchemeWatcher::onSettingChanged(const QString &group, const QString &key, const QDBusVariant &value)
{
    if (group == Namespace && key == Key)
        setDesktopValue(QVariant::fromValue(value));
}

void ColourSchemeWatcher::setDesktopValue(const QVariant &value)
{
    const QVariant plain = unwrap(value);
    bool ok = false;
    const uint scheme = plain.toUInt(&ok);
    update([&] { m_desktopDark = ok && scheme == PrefersDark; });
}

void ColourSchemeWatcher::update(const std::function<void()> &change)
{
    const bool was = isDark();
    change();
    if (isDark() != was)
        emit darkChanged(isDark());
}
