#pragma once

#include "desktop/DesktopSettings.h"

#include <QObject>

class GlobalTalkKey;
class Notifier;
class Program;
class TrayController;

// ZELMO on the desktop around it: notifications while it is in the background, the tray
// icon, and the talk key that works in every window. It wires the desktop's pieces to the
// program's services and windows, and keeps their choices in their own file in the
// profile folder.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    explicit DesktopIntegration(Program &program, QObject *parent = nullptr);
    ~DesktopIntegration() override;

    // Once the windows exist: reads the choices, shows the tray icon, binds the talk key.
    void start();
    // Program exit: notifications withdrawn, the icon gone, the key let go.
    void shutdown();

    Notifier &notifier() { return *m_notifier; }
    TrayController &tray() { return *m_tray; }
    GlobalTalkKey &talkKey() { return *m_talkKey; }
    const DesktopSettings &settings() const { return m_settings; }

    // The options' choices: each applies at once and is saved at once.
    void setNotificationsOn(bool on);
    void setTrayIconOn(bool on);
    void chooseTalkKey(const QString &name);

    // Brings the main window back from wherever it is (the tray's Show ZELMO).
    void showMainWindow();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectCalls();
    void connectMessages();
    void connectChat();
    void connectTalkKey();
    void showChat();
    void save();

    Program &m_program;
    DesktopSettings m_settings;
    Notifier *m_notifier;
    TrayController *m_tray;
    GlobalTalkKey *m_talkKey;
    bool m_started = false;
};
