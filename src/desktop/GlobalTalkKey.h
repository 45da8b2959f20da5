#pragma once

#include "desktop/TalkKeyBackend.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>

// The push-to-talk key that works while any window has the focus: held down it talks,
// released it stops. On an X11 session the key is grabbed on the display; on a Wayland
// session it is asked of the desktop portal, which may refuse it. Without either there is
// no such key, and the options say so.
class GlobalTalkKey : public QObject
{
    Q_OBJECT

public:
    // Where the program runs: the X11 display (DISPLAY), whether the session is Wayland,
    // and the session bus the portal is reached on.
    struct Context
    {
        QString x11Display;
        bool waylandSession = false;
        QDBusConnection bus = QDBusConnection(QString());
    };
    static Context fromSystem();

    enum class Status { Unavailable, Checking, Off, Pending, Active, Refused };

    explicit GlobalTalkKey(const Context &context, QObject *parent = nullptr);
    // A backend of the caller's choosing.
    explicit GlobalTalkKey(std::unique_ptr<TalkKeyBackend> backend, QObject *parent = nullptr);
    ~GlobalTalkKey() override;

    // The key's name (see HotKey), or empty for none; an unknown name counts as none.
    void choose(const QString &name);
    QString chosen() const { return m_chosen; }

    Status status() const;
    // One sentence for the options: what the key does now, or why it does nothing.
    QString statusText() const;
    bool isAvailable() const { return status() != Status::Unavailable; }
    bool isHeld() const { return m_backend->isHeld(); }

signals:
    void statusChanged();
    void pressed();
    void released();

private:
    void attach();

    std::unique_ptr<TalkKeyBackend> m_backend;
    QString m_chosen;
};
