#pragma once

#include "root/ProgramFace.h"
#include "ui/UiLanguage.h"

#include <QObject>
#include <QPointer>
#include <QString>

class DesktopIntegration;
class MainWindowController;
class MessageWindows;
class QMessageBox;
class SecurityIndicators;
class VideoFormatDialog;
class frmBusyNotify;
class frmCallIn;
class frmConStatus;
class frmDirectory;
class frmErrorMsg;
class frmLog;
class frmMain;
class frmMessage;
class frmNewChat;
class frmRates;
class frmSelf;
class frmSplash;

// The windows of one running program, built on what its root shows them (ProgramFace):
// the main window and its controller, the satellite windows, the call prompts, the message
// windows, the notices, and the desktop around them. Each window or controller gets only the
// services it shows and the actions it may ask for; the root runs without any of this.
class WindowShell : public QObject
{
    Q_OBJECT

public:
    explicit WindowShell(ProgramFace face, QObject *parent = nullptr);
    // The program shuts down before its windows go.
    ~WindowShell() override;

    // The program's start-up; the main window is built once it listens, the windows that
    // show its services once it has loaded.
    void start();

    // The main window, built here when something needs it before the program listens. The
    // other windows are its children, each of its own kind.
    frmMain *mainWindow();
    MainWindowController &mainController() { return *m_controller; }
    // Notifications, the tray icon and the talk key that works in every window.
    DesktopIntegration &desktop() { return *m_desktop; }
    MessageWindows &messageWindows()
    {
        mainWindow();
        return *m_messageWindows;
    }

    // The information window and the error window.
    void showInformation(const QString &text);
    void showError(const QString &text);
    // A message box with an OK button that never blocks the caller.
    QMessageBox *showMessageBox(const QString &text);
    // The capture format dialog, shown not modal; it deletes itself when closed.
    VideoFormatDialog *openVideoFormatDialog();

private:
    void connectProgram();
    void connectCalls();
    void connectMedia();
    void connectMessages();
    // Once the program has loaded: the windows that show its services.
    void buildWindows();
    // The Share Screen item, ZELMO's own picker, and the self view shown while sharing.
    void connectScreenShare();
    void finishStartup();
    void saveWindowPlaces();
    void closeWindows();

    ProgramFace m_face;
    // Before any window, so every window is made in the user's language.
    UiLanguage m_language;
    QPointer<frmMain> m_frmMain;
    MessageWindows *m_messageWindows = nullptr;
    // The call's encryption where the call is shown.
    SecurityIndicators *m_securityIndicators = nullptr;
    MainWindowController *m_controller = nullptr;
    DesktopIntegration *m_desktop = nullptr;
    QPointer<frmSplash> m_frmSplash;
    QPointer<frmSelf> m_frmSelf;
    QPointer<frmNewChat> m_frmNewChat;
    QPointer<frmDirectory> m_frmDirectory;
    QPointer<frmRates> m_frmRates;
    QPointer<frmLog> m_frmLog;
    QPointer<frmBusyNotify> m_frmBusyNotify;
    QPointer<frmMessage> m_frmMessage;
    QPointer<frmConStatus> m_frmConStatus;
    QPointer<frmCallIn> m_frmCallIn;
    QPointer<frmErrorMsg> m_frmErrorMsg;
    // The capture format could not be used: confirming the message opens the dialog.
    bool m_openFormatDialogAfterMessage = false;
};
