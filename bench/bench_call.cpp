// Two programs with the test devices hold a call on loopback, each in its own process, at
// 320 x 240 and at 640 x 480, with talk latched on both sides. Prints frames and sound
// blocks per second, capture-to-drawn latency from the test pattern's stamps, bytes per
// second each way, CPU and peak memory per side, against the targets.
//
//   bench_call [--seconds N]                  (default 30 seconds per size)
//   bench_call --side caller|callee ...       (one side; started by the above)

#include "call/CallControl.h"
#include "core/SoundPlayer.h"
#include "media/AudioControl.h"
#include "media/AudioSendQueue.h"
#include "media/MediaStats.h"
#include "media/engine/AudioEngine.h"
#include "media/engine/TestMicrophone.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/TestSpeaker.h"
#include "media/engine/VideoEngine.h"
#include "ui/Program.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs the event loop until the condition holds or the time is up.
bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void runFor(int ms)
{
    waitFor([] { return false; }, ms);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[index];
}

// A free block of four ports for a program's listeners.
int freePortBlock(int from)
{
    for (int base = from; base < from + 400; base += 4) {
        bool free = true;
        for (int i = 0; i < 4 && free; ++i) {
            QTcpServer probe;
            free = probe.listen(QHostAddress::Any, quint16(base + i));
        }
        if (free)
            return base;
    }
    return from;
}

void writeProfile(const QString &dir, const QString &name, bool autoAccept)
{
    QFile ini(dir + QStringLiteral("/zelmo.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return;
    ini.write(QStringLiteral("[Personal]\r\nName=%1\r\nEMail=%2@example.org\r\nLocation=Bench\r\n"
                             "[Calling]\r\nAutoAccept=%3\r\n")
                  .arg(name, name.toLower(), autoAccept ? QStringLiteral("True") : QStringLiteral("False"))
                  .toUtf8());
}

// One side of the call. Prints one line "RESULT key=value ..." when the call is over.
int runSide(const QString &side, int port, int peerPort, QSize size, int seconds)
{
    const bool caller = side == QLatin1String("caller");
    QTemporaryDir dir;
    writeProfile(dir.path(), caller ? QStringLiteral("Caller") : QStringLiteral("Callee"), !caller);
    Program program(ProgramOptions{port, dir.path(), {}, true});
    program.start();
    program.sounds().setMuted(true);
    // The rate figures stand still, so the traffic counters add up over the whole call.
    program.mediaClock().setManual(0);
    program.videoEngine().setCaptureFormat(-1, size);
    program.mainWindow()->show();

    // Sound blocks sent: the send index moves by one for each block that went.
    qint64 blocksSent = 0;
    int lastSendIndex = program.audioSendQueue().audioSendIndex();
    QObject::connect(program.mainWindow()->tmrMain(), &QTimer::timeout, &program, [&] {
        const int index = program.audioSendQueue().audioSendIndex();
        if (index != lastSendIndex && program.state().callState == CallState::InCall)
            ++blocksSent;
        lastSendIndex = index;
    });
    // Frames drawn, with their latency from the stamp the test camera put in.
    bool measuring = false;
    std::vector<double> latencies;
    qint64 framesDrawn = 0;
    qint64 unreadable = 0;
    QObject::connect(&program.videoEngine(), &VideoEngine::frameDrawn, &program, [&](const QImage &frame) {
        if (!measuring)
            return;
        ++framesDrawn;
        const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(frame);
        if (!stamp.valid) {
            ++unreadable;
            return;
        }
        const quint32 now = quint32(QDateTime::currentMSecsSinceEpoch());
        latencies.push_back(double(qint32(now - stamp.msecs)));
    });

    if (caller) {
        program.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(peerPort), 2000, 0);
    } else {
        std::printf("READY\n");
        std::fflush(stdout);
    }
    if (!waitFor([&] { return program.state().callState == CallState::InCall; }, 20000)) {
        std::printf("RESULT error=no-call\n");
        return 1;
    }
    program.audioControl().talkPressed(Qt::RightButton); // latched talk
    runFor(1000);

    const MediaStats &stats = program.mediaStats();
    const qint64 framesSent0 = stats.framesSent();
    const qint64 framesReceived0 = stats.framesReceived();
    const qint64 bytesSent0 = stats.bytesSent();
    const qint64 bytesReceived0 = stats.bytesReceived();
    const qint64 blocksSent0 = blocksSent;
    auto speaker = [&] { return qobject_cast<TestSpeaker *>(program.audioEngine().outputDevice()); };
    const qint64 blocksPlayed0 = speaker() ? speaker()->blocksWritten() : 0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer window;
    window.start();
    measuring = true;
    runFor(seconds * 1000);
    measuring = false;
    const double elapsed = window.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    const qint64 framesSent = stats.framesSent() - framesSent0;
    const qint64 framesReceived = stats.framesReceived() - framesReceived0;
    const qint64 bytesSent = stats.bytesSent() - bytesSent0;
    const qint64 bytesReceived = stats.bytesReceived() - bytesReceived0;
    const qint64 windowBlocksSent = blocksSent - blocksSent0;
    const qint64 windowBlocksPlayed = (speaker() ? speaker()->blocksWritten() : 0) - blocksPlayed0;

    // Talk ends; what is still on the way is played before the call ends.
    program.audioControl().talkPressed(Qt::RightButton);
    runFor(2500);
    const qint64 totalSent = blocksSent;
    const qint64 totalPlayed = speaker() ? speaker()->blocksWritten() : 0;
    if (caller) {
        program.calls().hangUp();
    }
    waitFor([&] { return program.state().callState == CallState::Idle; }, 10000);

    std::printf("RESULT side=%s seconds=%.2f framesSent=%lld framesReceived=%lld framesDrawn=%lld unreadable=%lld "
                "blocksSent=%lld blocksPlayed=%lld totalBlocksSent=%lld totalBlocksPlayed=%lld bytesSent=%lld "
                "bytesReceived=%lld cpu=%.3f maxrss=%ld latMedian=%.1f latP99=%.1f latencies=%zu\n",
                qPrintable(side), elapsed, framesSent, framesReceived, framesDrawn, unreadable, windowBlocksSent,
                windowBlocksPlayed, totalSent, totalPlayed, bytesSent, bytesReceived, cpu, peakKilobytes(),
                percentile(latencies, 0.5), percentile(latencies, 0.99), latencies.size());
    std::fflush(stdout);
    program.shutdown();
    return 0;
}

using Result = QHash<QString, double>;

Result parseResult(const QByteArray &output)
{
    Result r;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("RESULT "))
            continue;
        for (const QByteArray &pair : line.mid(7).split(' ')) {
            const int eq = pair.indexOf('=');
            if (eq > 0)
                r.insert(QString::fromUtf8(pair.left(eq)), pair.mid(eq + 1).toDouble());
        }
        r.insert(QStringLiteral("ok"), 1);
    }
    return r;
}

bool runPair(const QString &self, QSize size, int seconds, int portFrom)
{
    const int calleePort = freePortBlock(portFrom);
    const int callerPort = freePortBlock(calleePort + 4);
    const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    const QStringList common{QStringLiteral("--size"), sizeText, QStringLiteral("--seconds"), QString::number(seconds)};

    QProcess callee;
    QProcess caller;
    callee.setProcessChannelMode(QProcess::SeparateChannels);
    caller.setProcessChannelMode(QProcess::SeparateChannels);
    callee.start(self, QStringList{QStringLiteral("--side"), QStringLiteral("callee"), QStringLiteral("--port"),
                                   QString::number(calleePort)} + common);
    QByteArray calleeOut;
    if (!waitFor([&] {
            calleeOut += callee.readAllStandardOutput();
            return calleeOut.contains("READY") || callee.state() == QProcess::NotRunning;
        }, 20000) || !calleeOut.contains("READY")) {
        std::printf("callee did not start: %s\n", callee.readAllStandardError().constData());
        return false;
    }
    caller.start(self, QStringList{QStringLiteral("--side"), QStringLiteral("caller"), QStringLiteral("--port"),
                                   QString::number(callerPort), QStringLiteral("--peer-port"),
                                   QString::number(calleePort)} + common);
    const int limit = (seconds + 60) * 1000;
    QByteArray callerOut;
    waitFor([&] {
        calleeOut += callee.readAllStandardOutput();
        callerOut += caller.readAllStandardOutput();
        return callee.state() == QProcess::NotRunning && caller.state() == QProcess::NotRunning;
    }, limit);
    calleeOut += callee.readAllStandardOutput();
    callerOut += caller.readAllStandardOutput();
    if (callee.state() != QProcess::NotRunning)
        callee.kill();
    if (caller.state() != QProcess::NotRunning)
        caller.kill();
    callee.waitForFinished(3000);
    caller.waitForFinished(3000);

    const Result a = parseResult(callerOut);
    const Result b = parseResult(calleeOut);
    if (!a.contains(QStringLiteral("ok")) || !b.contains(QStringLiteral("ok"))) {
        std::printf("no result: caller said\n%s\ncallee said\n%s\n", callerOut.constData(), calleeOut.constData());
        return false;
    }

    const bool small = size.width() == 320;
    std::printf("\n== %s, %d s of call ==\n", qPrintable(sizeText), seconds);
    std::printf("%-40s %14s %14s\n", "", "caller", "callee");
    auto row = [&](const char *label, double x, double y, const char *format) {
        char bx[32];
        char by[32];
        std::snprintf(bx, sizeof bx, format, x);
        std::snprintf(by, sizeof by, format, y);
        std::printf("%-40s %14s %14s\n", label, bx, by);
    };
    auto per = [](const Result &r, const char *key) { return r.value(QString::fromLatin1(key)) / r.value(QStringLiteral("seconds")); };
    row("frames sent per second", per(a, "framesSent"), per(b, "framesSent"), "%.2f");
    row("frames received per second", per(a, "framesReceived"), per(b, "framesReceived"), "%.2f");
    row("sound blocks sent per second", per(a, "blocksSent"), per(b, "blocksSent"), "%.2f");
    row("sound blocks played per second", per(a, "blocksPlayed"), per(b, "blocksPlayed"), "%.2f");
    row("latency capture->drawn median (ms)", a.value(QStringLiteral("latMedian")), b.value(QStringLiteral("latMedian")), "%.1f");
    row("latency capture->drawn 99th pct (ms)", a.value(QStringLiteral("latP99")), b.value(QStringLiteral("latP99")), "%.1f");
    row("frames with an unreadable stamp", a.value(QStringLiteral("unreadable")), b.value(QStringLiteral("unreadable")), "%.0f");
    row("bytes sent per second", per(a, "bytesSent"), per(b, "bytesSent"), "%.0f");
    row("bytes received per second", per(a, "bytesReceived"), per(b, "bytesReceived"), "%.0f");
    row("CPU seconds per call second", per(a, "cpu"), per(b, "cpu"), "%.4f");
    row("peak memory (MB)", a.value(QStringLiteral("maxrss")) / 1024.0, b.value(QStringLiteral("maxrss")) / 1024.0, "%.1f");
    row("sound blocks sent in the whole call", a.value(QStringLiteral("totalBlocksSent")), b.value(QStringLiteral("totalBlocksSent")), "%.0f");
    row("sound blocks played by the other side", b.value(QStringLiteral("totalBlocksPlayed")), a.value(QStringLiteral("totalBlocksPlayed")), "%.0f");

    auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };
    const double fpsIn = std::min(per(a, "framesReceived"), per(b, "framesReceived"));
    const double lost = std::max(a.value(QStringLiteral("totalBlocksSent")) - b.value(QStringLiteral("totalBlocksPlayed")),
                                 b.value(QStringLiteral("totalBlocksSent")) - a.value(QStringLiteral("totalBlocksPlayed")));
    const double median = std::max(a.value(QStringLiteral("latMedian")), b.value(QStringLiteral("latMedian")));
    const double cpu = std::max(per(a, "cpu"), per(b, "cpu"));
    std::printf("targets:\n");
    std::printf("  received frame rate >= 12.5 fps          %6.2f  %s\n", fpsIn, verdict(fpsIn >= 12.5));
    std::printf("  no sound block lost                      %6.0f  %s\n", lost, verdict(lost <= 0));
    std::printf("  median capture->drawn latency < 100 ms   %6.1f  %s\n", median, verdict(median >= 0 && median < 100));
    std::printf("  CPU < 5 %% of one core per side%s       %5.1f%%  %s\n", small ? " (320x240)" : " (640x480)",
                cpu * 100, small ? verdict(cpu < 0.05) : "(target is for 320x240)");
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.multimedia*=false");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("side"), QStringLiteral("caller or callee"), QStringLiteral("side")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("listening port"), QStringLiteral("port")});
    parser.addOption({QStringLiteral("peer-port"), QStringLiteral("callee's port"), QStringLiteral("port")});
    parser.addOption({QStringLiteral("size"), QStringLiteral("capture size"), QStringLiteral("WxH"), QStringLiteral("320x240")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("seconds of call per size"), QStringLiteral("n"),
                      QStringLiteral("30")});
    parser.process(app);
    const int seconds = std::max(1, parser.value(QStringLiteral("seconds")).toInt());

    if (parser.isSet(QStringLiteral("side"))) {
        const QStringList wh = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));
        const QSize size(wh.value(0).toInt(), wh.value(1).toInt());
        return runSide(parser.value(QStringLiteral("side")), parser.value(QStringLiteral("port")).toInt(),
                       parser.value(QStringLiteral("peer-port")).toInt(), size, seconds);
    }

    std::printf("bench_call: two programs with test devices in two processes, talk latched on both sides\n");
    bool ok = runPair(QCoreApplication::applicationFilePath(), QSize(320, 240), seconds, 27100);
    ok = runPair(QCoreApplication::applicationFilePath(), QSize(640, 480), seconds, 27200) && ok;
    return ok ? 0 : 1;
}
