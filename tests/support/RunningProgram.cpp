#include "support/RunningProgram.h"

#include "core/ActivityLog.h"
#include "media/SoundPlayer.h"
#include "directory/DirectoryService.h"
#include "media/MediaStats.h"
#include "media/picture/TestPatternCamera.h"
#include "root/ProgramParts.h"
#include "support/TestSupport.h"
#include "ui/WindowShell.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

RunningProgram::RunningProgram(const QString &name)
    : RunningProgram(name, Options())
{
}

RunningProgram::RunningProgram(const QString &name, Options o)
    : name(name)
    , folder(o.profile.isEmpty() ? dir.path() : o.profile)
    , port(o.port > 0 ? o.port : TestSupport::portBlock())
    , options(std::move(o))
{
    ProgramOptions programOptions{port, folder, options.callAddress, options.testDevices};
    programOptions.datagramModuleFolders = options.datagramModuleFolders;
    program = std::make_unique<Program>(std::move(programOptions));
    if (options.windows)
        shell = std::make_unique<WindowShell>(program->face());
    program->parts().sounds.setMuted(true);
    // The start-up tail contacts the pal server: a port of this block nobody listens on,
    // unless the scenario has one on the directory server's host.
    if (options.palPort > 0)
        program->pals().setPalPort(options.palPort);
    else
        program->pals().setPalServer(QStringLiteral("127.0.0.1"), port + 19);
    program->calls().setClock([] { return QTime(9, 5); });
    if (options.userNumber > 0)
        TestSupport::writeBytes(folder + QStringLiteral("/zelmo.num"), QByteArray::number(options.userNumber) + "\r\n");
    if (options.start)
        start();
}

RunningProgram::~RunningProgram()
{
    // The windows go first; they shut the program down.
    shell.reset();
    program.reset();
}

void RunningProgram::start()
{
    if (shell)
        shell->start();
    else
        program->start();
    // The user of a scenario, unless it keeps the one of its profile (no name).
    if (name.isEmpty())
        return;
    Settings &s = settings();
    s.Name = name;
    s.Location = options.location.isEmpty() ? name + QStringLiteral("ville") : options.location;
    s.EMail = options.email.isEmpty() ? name.toLower() + QStringLiteral("@example.org") : options.email;
    s.AutoAccept = options.autoAccept;
}

bool RunningProgram::finishStarting()
{
    QSignalSpy tail(&program->events(), &ProgramEvents::startupTailFinished);
    program->parts().startupTimer.start(5);
    return tail.wait(30000);
}

void RunningProgram::call(RunningProgram &callee)
{
    calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(callee.port), 2000, 0);
}

bool RunningProgram::callAndSeeFrames(RunningProgram &callee)
{
    call(callee);
    if (!waitInCall(callee))
        return false;
    if (program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
        program->capture().chooseDriver(TestPatternCamera::deviceName());
    return QTest::qWaitFor([&] { return callee->parts().mediaStats.framesReceived() >= 3; }, 10000);
}

bool RunningProgram::waitInCall(RunningProgram &callee, int ms)
{
    return QTest::qWaitFor([&] { return inCall() && callee.inCall(); }, ms);
}

QStringList RunningProgram::log()
{
    return program->activityLog().lines();
}

bool RunningProgram::logged(const QString &text)
{
    for (const QString &line : log()) {
        if (line.endsWith(QStringLiteral(": ") + text))
            return true;
    }
    return false;
}

frmMain *RunningProgram::main()
{
    return shell ? shell->mainWindow() : nullptr;
}

QAction *RunningProgram::item(const char *objectName)
{
    return main()->action(QString::fromLatin1(objectName));
}
