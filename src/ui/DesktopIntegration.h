#pragma once

#include "desktop/DesktopSettings.h"

#include <QObject>

#include <functional>

class AudioControl;
class ColourSchemeWatcher;
class CallControl;
class ChatSession;
class GlobalTalkKey;
class MediaSession;
class MessageService;
class MessageWindows;
class Notifier;
class TrayController;
class frmCallIn;
class frmMain;
class frmNewChat;

// ZELMO on the desktop around it: notifications while it is in the background, the tray
// icon, and the talk key that works in every window. It wires the desktop's pieces to the
// program's services and windows, and keeps their choices in their own file in the
// profile folder.
class DesktopIntegration : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        CallControl &calls;
        MessageService &messages;
        ChatSession &chat;
        MediaSession &media;
        AudioControl &audio;
        frmMain &mainWindow;
        frmNewChat &chatWindow;
        MessageWindows &messageWindows;
        // The incoming-call prompt of the moment, if any.
        std::function<frmCallIn *()> promptOnScreen;
        // Checks the chat window's menu item and shows it, as the menu item does.
        std::function<void()> checkChatWindow;
        // Where the desktop choices are kept, and how a failure to keep them is told.
        QString settingsFile;
        std::function<void(const QString &)> reportFailure;
    };

    explicit DesktopIntegration(Context context, QObject *parent = nullptr);
    ~DesktopIntegration() override;

    // Once the windows exist: reads the choices, shows the tray icon, binds the talk key.
    void start();
    // Program exit: notifications withdrawn, the icon gone, the key let go.
    void shutdown();

    Notifier &notifier() { return *m_notifier; }
    TrayController &tray() { return *m_tray; }
    GlobalTalkKey &talkKey() { return *m_talkKey; }
    ColourSchemeWatcher &colourScheme() { return *m_colourScheme; }
    const DesktopSettings &settings() const { return m_settings; }

    // The options' choices: each applies at once and is saved at once.
    void setNotificationsOn(bool on);
    void setTrayIconOn(bool on);
    void chooseTalkKey(const QString &name);
    void chooseColourScheme(const QString &name);

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
    void applyColourScheme(bool dark);
    void save();

    Context m_;
    DesktopSettings m_settings;
    Notifier *m_notifier;
    TrayController *m_tray;
    GlobalTalkKey *m_talkKey;
    ColourSchemeWatcher *m_colourScheme;
    // The dark palette is on (the light one is the style's own until then).
    bool m_darkApplied = false;
    bool m_started = false;
};
