#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;
class QDBusPendingCallWatcher;

// Whether the desktop wants light or dark windows: the desktop portal's appearance
// setting, read once and followed while it changes. The user's own choice ("System",
// "Light" or "Dark", kept with the desktop choices) decides which of the two applies.
class ColourSchemeWatcher : public QObject
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString Interface = QStringLiteral("org.freedesktop.portal.Settings");
    static inline const QString Namespace = QStringLiteral("org.freedesktop.appearance");
    static inline const QString Key = QStringLiteral("color-scheme");

    // The names kept in the profile; anything else reads as System.
    static inline const QString System = QStringLiteral("System");
    static inline const QString Light = QStringLiteral("Light");
    static inline const QString Dark = QStringLiteral("Dark");
    static QString knownChoice(const QString &name);

    explicit ColourSchemeWatcher(QDBusConnection bus, QObject *parent = nullptr);

    void choose(const QString &choice);
    QString choice() const { return m_choice; }
    // The desktop prefers dark windows (false when it says nothing or there is no portal).
    bool desktopPrefersDark() const { return m_desktopDark; }
    // What the windows should be now.
    bool isDark() const;

signals:
    void darkChanged(bool dark);

private slots:
    void onSettingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void read(const QString &method);
    void answered(QDBusPendingCallWatcher *watcher, const QString &method);
    void setDesktopValue(const QVariant &value);
    void update(const std::function<void()> &change);

    QDBusConnection m_bus;
    QString m_choice = System;
    bool m_desktopDark = false;
};
