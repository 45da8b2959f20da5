#pragma once

// One running ZELMO of a scenario, on the headless root: its own profile folder and ports,
// sounds muted, a user with a name, a fixed local time in its call requests, and no pal
// server anywhere near. With windows, the window shell is built on top and started as a
// user starts ZELMO.

// The services of the program, for the scenarios to use.
#include "call/CallControl.h"
#include "chat/ChatSession.h"
#include "core/ActivityLog.h"
#include "core/CallStates.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "media/SoundPlayer.h"
#include "directory/DirectoryService.h"
#include "directory/PalService.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/AudioEngine.h"
#include "media/VideoEngine.h"
#include "messages/MessageMedia.h"
#include "messages/MessageService.h"
#include "root/Program.h"
#include "support/TestSupport.h"

class WindowShell;
class frmMain;

struct RunningProgram
{
    struct Options
    {
        bool windows = false;
        bool testDevices = true;
        bool autoAccept = false;
        // Empty: the name followed by "ville", and the name in lower case at example.org.
        QString location;
        QString email;
        // A profile folder of the test's own, and the address a command-line start calls.
        QString profile;
        QString callAddress;
        // 0: a block of this test's ports of its own.
        int port = 0;
        // Start-up runs at once; a test that prepares the profile first starts it itself.
        bool start = true;
        // 0: the pal server is a port of this block nobody listens on; otherwise it is this
        // port on the directory server's host, as a user has it.
        int palPort = 0;
        // Above 0: the user number in the profile, as a pal server handed it out.
        qint32 userNumber = 0;
        // Empty: the datagram media module of this build.
        QStringList datagramModuleFolders;
    };

    explicit RunningProgram(const QString &name);
    RunningProgram(const QString &name, Options options);
    ~RunningProgram();

    // The start-up, through the windows when there are any; then the user of the scenario
    // (none for an empty name: the profile's own).
    void start();
    // The start-up's last step, hurried: the main window and the windows of the last run (the
    // self view among them) come as at a real start. False when it does not come.
    bool finishStarting();

    Program &operator*() { return *program; }
    Program *operator->() { return program.get(); }
    Settings &settings() { return program->settings(); }
    CallControl &calls() { return program->calls(); }
    const CallStatus &call() { return program->calls().status(); }
    bool inCall() { return call().callState == CallState::InCall; }
    // Places a call to the other program, as its address typed with its port.
    void call(RunningProgram &callee);
    // Calls the callee, which must accept by itself, and waits for the call and a few of
    // this side's test-pattern frames to reach it.
    bool callAndSeeFrames(RunningProgram &callee);
    // The call is up on both sides (or the time is up).
    bool waitInCall(RunningProgram &callee, int ms = 10000);
    QStringList log();
    // An activity-log line ends with ": " and this text.
    bool logged(const QString &text);
    frmMain *main();
    // A menu item of the main window, by its object name.
    QAction *item(const char *objectName);
    template<typename T>
    T *window(const char *objectName);
    // The program's window of this kind as the shell made it: nullptr when it has not been
    // made yet, or is gone.
    template<typename W>
    W *windowOf();

    QString name;
    QTemporaryDir dir;
    QString folder;
    int port = 0;
    Options options;
    std::unique_ptr<Program> program;
    std::unique_ptr<WindowShell> shell;
};

#include "ui/frmMain.h"

template<typename T>
T *RunningProgram::window(const char *objectName)
{
    return main()->findChild<T *>(QString::fromLatin1(objectName));
}

template<typename W>
W *RunningProgram::windowOf()
{
    frmMain *window = main();
    return window ? window->findChild<W *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}
