// Two programs with the test devices hold a call on loopback, each in its own process, as
// users run them: default settings (the self view open and previewing every frame), the
// data-rates window open on the answering side. A 20-second call at 320 x 240 and at
// 640 x 480, once without talk and once with talk latched on both sides. Prints, for each
// direction, frames sent and received per second, sound blocks sent and played,
// capture-to-drawn latency read from the test pattern's stamps, the JPEG quality and the
// picture size frames went at, CPU and peak memory per side, each beside its target. Then
// the microphone's processing (echo cancellation, noise suppression, automatic level): the
// talking call at 320 x 240 again with it off, the CPU per side with it on and off, and, on
// one process's own sound, what it costs per second of sound and the delay it adds.
//
//   bench_call [--seconds N] [--size WxH]    (default 20 seconds, both sizes)
//   bench_call --idle [--seconds N]          (not in a call, self view open and closed: CPU and
//                                             resident memory; start to listening: the first
//                                             start, then the median of 7 on its profile)
//   bench_call --voice [--seconds N]         (the processing's figures only: talking calls
//                                             at 320x240 with it off and on, twice)
//   bench_call --link KBIT [--size WxH]      (as root: the call inside a network namespace
//                                             whose loopback carries KBIT kbit/s, shared by
//                                             both directions; talk latched; 640x480 from
//                                             1024 kbit/s on, else 320x240)
//   bench_call --headless ...                (the programs without their windows: the call's
//                                             core alone, no self view or rates window)
//   bench_call --secure [--link KBIT] ...    (the same call encrypted, as two programs of this
//                                             version hold it, and plain, as with an older
//                                             program that has no encrypted port; both with
//                                             talk, 320x240 unless --size; then how long a
//                                             call takes to start when the encrypted port is
//                                             refused and when a firewall drops it silently)
//   bench_call --link KBIT --drop LOW        (as --link, 45 s: the link drops to LOW kbit/s at
//                                             12 s and comes back at 27 s; how long until the
//                                             delay is back under 200 ms, and the picture back)
//   bench_call --link KBIT --loss PCT        (as --link, with PCT % of packets dropped at
//                                             random on the link; with --drop too)
//   bench_call --link KBIT --quality         (as --link, on a textured scene with sensor noise,
//                                             640x480 unless --size: a call of this version, then
//                                             one in the published formats only; the mean SSIM
//                                             of the frames each side drew, and the frame rates)
//   bench_call --side caller|callee ...      (one side; started by the above)
//   bench_call --camera-fps N ...            (the test camera's frames a second; 20 unless
//                                             given, 30 with --link, as a usual camera)
//   bench_call --link ... --trace PREFIX     (each side's output: the frames it drew and, every
//                                             50 ms, the key frames, width, frames it sent and
//                                             its rate estimate; in PREFIX-caller.txt and
//                                             PREFIX-callee.txt)

#include "call/CallControl.h"
#include "media/SoundPlayer.h"
#include "media/AudioControl.h"
#include "media/AudioSettings.h"
#include "media/AudioSendQueue.h"
#include "media/MediaSession.h"
#include "media/MediaStats.h"
#include "media/MediaFormatSettings.h"
#include "media/AudioEngine.h"
#include "media/sound/EchoReference.h"
#include "media/sound/SoundTimeline.h"
#include "media/sound/VoiceModule.h"
#include "media/sound/VoiceProcessor.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/picture/TexturedScene.h"
#include "media/sound/TestSpeaker.h"
#include "media/VideoEngine.h"
#include "root/Program.h"
#include "secure/CallSecurity.h"
#include "secure/SecurityService.h"
#include "tls/TlsSetup.h"
#include "support/TestSupport.h"
#include "support/SoundRig.h"
#include "ui/WindowShell.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <libyuv/compare.h>
#include <libyuv/convert_from_argb.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

namespace {

// The slow link: a token bucket on the namespace's loopback. The burst is two full
// packets; the queue holds 200 ms of the rate, like the buffer of a modest line.
constexpr int LinkBurstBytes = 3000;
constexpr int LinkQueueMs = 200;
const char *const InsideLinkVariable = "ZELMO_BENCH_INSIDE_LINK";
// The test camera's pixels in every program this run starts: "yuv" (planar 4:2:0, as many
// cameras give) or "rgb" (32-bit BGRX).
const char *const CameraVariable = "ZELMO_BENCH_CAMERA";
// The test camera's frames a second in every program this run starts.
const char *const CameraRateVariable = "ZELMO_BENCH_CAMERA_FPS";
// Where the sides' outputs go, with their state every TraceIntervalMs (unset: nowhere).
const char *const TraceVariable = "ZELMO_BENCH_TRACE";
constexpr int TraceIntervalMs = 50;
// "textured": the test camera shows the textured scene with sensor noise, and each side
// compares every frame it draws against the frame the other side captured (SSIM).
const char *const SceneVariable = "ZELMO_BENCH_SCENE";
// "1": both programs use only the published picture and sound formats (JPEG and GSM).
const char *const PublishedVariable = "ZELMO_BENCH_PUBLISHED";

QStringList bucketWords(int kbit)
{
    return {QStringLiteral("tbf"), QStringLiteral("rate"), QStringLiteral("%1kbit").arg(kbit), QStringLiteral("burst"),
            QString::number(LinkBurstBytes), QStringLiteral("latency"), QStringLiteral("%1ms").arg(LinkQueueMs)};
}

bool texturedScene()
{
    return qEnvironmentVariable(SceneVariable) == QLatin1String("textured");
}

bool yuvCamera()
{
    return qEnvironmentVariable(CameraVariable) != QLatin1String("rgb");
}

const char *cameraText()
{
    return yuvCamera() ? "test camera in YUV 4:2:0" : "test camera in 32-bit RGB";
}

void setCameraPixels(Program &program)
{
    if (TestPatternCamera *camera = static_cast<TestDeviceProvider &>(program.parts().devices).patternCamera()) {
        camera->setPixelFormat(yuvCamera() ? QVideoFrameFormat::Format_YUV420P : QVideoFrameFormat::Format_BGRX8888);
        camera->setScene(texturedScene() ? TestPatternCamera::Scene::Textured : TestPatternCamera::Scene::Bars);
        if (const int fps = qEnvironmentVariableIntValue(CameraRateVariable); fps > 0)
            camera->setFramesPerSecond(fps);
    }
}

TestSpeaker *speakerOf(Program &program)
{
    return qobject_cast<TestSpeaker *>(program.audioEngine().outputDevice());
}

// This thread's processor time, to leave the benchmark's own comparing out of the figures.
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The structural similarity (SSIM, luma) of a frame drawn against the frame the other side
// captured, painted again from its number and brought to the size drawn. The stamp's rows
// are left out: they are the benchmark's marking, not picture. -1 when they cannot be compared.
double similarityToCaptured(const TexturedScene &scene, const QImage &drawn, quint32 frameNumber)
{
    const int top = drawn.width() / TestPatternCamera::StampColumns * TestPatternCamera::StampRows + 2;
    const int w = drawn.width();
    const int h = drawn.height() - top;
    if (scene.size().isEmpty() || w < 8 || h < 8)
        return -1;
    QImage captured(scene.size(), QImage::Format_RGB32);
    scene.paint(captured, frameNumber);
    if (captured.size() != drawn.size())
        captured = captured.scaled(drawn.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage shown = drawn.convertToFormat(QImage::Format_RGB32);
    std::vector<uint8_t> a(size_t(w) * size_t(h));
    std::vector<uint8_t> b(a.size());
    libyuv::ARGBToI400(captured.constScanLine(top), int(captured.bytesPerLine()), a.data(), w, w, h);
    libyuv::ARGBToI400(shown.constScanLine(top), int(shown.bytesPerLine()), b.data(), w, w, h);
    return libyuv::CalcFrameSsim(a.data(), w, b.data(), w, w, h);
}

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

// One timer for the whole wait: polling here would wake the measured process itself.
void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// A program's memory from /proc: resident, and its own (anonymous) pages, in kilobytes.
struct ProcessMemory {
    long residentKb = 0;
    long anonymousKb = 0;
    // Shared libraries mapped: each one loaded costs start-up time and pages.
    int libraries = 0;
};

ProcessMemory memoryOf(qint64 pid)
{
    ProcessMemory memory;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const long kb = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLong();
        if (line.startsWith("VmRSS:"))
            memory.residentKb = kb;
        else if (line.startsWith("RssAnon:"))
            memory.anonymousKb = kb;
    }
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (maps.open(QIODevice::ReadOnly)) {
        QSet<QByteArray> libraries;
        for (const QByteArray &line : maps.readAll().split('\n')) {
            const QByteArray path = line.mid(line.indexOf('/'));
            if (line.contains('/') && (path.endsWith(".so") || path.contains(".so.")))
                libraries.insert(path);
        }
        memory.libraries = int(libraries.size());
    }
    return memory;
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
        for (const int port : {base, base + 1, base + 2, base + 3, base + PortPlan::EncryptedOffset}) {
            QTcpServer probe;
            free = free && probe.listen(QHostAddress::Any, quint16(port));
        }
        if (free)
            return base;
    }
    return from;
}

// A user's profile: name and address filled in, everything else at its default. The
// answering side accepts calls by itself and had the data-rates window open last time.
void writeProfile(const QString &dir, bool callee, bool selfView = true)
{
    QFile ini(dir + QStringLiteral("/zelmo.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return;
    const QString name = callee ? QStringLiteral("Callee") : QStringLiteral("Caller");
    QString text = QStringLiteral("[Personal]\r\nName=%1\r\nEMail=%2@example.org\r\nLocation=Bench\r\n")
                       .arg(name, name.toLower());
    if (callee)
        text += QStringLiteral("[Calling]\r\nAutoAccept=True\r\n[Windows]\r\nDataRatesOn=True\r\n");
    else if (!selfView)
        text += QStringLiteral("[Windows]\r\nSelfViewOn=False\r\n");
    ini.write(text.toUtf8());
}

// The microphone's processing is on by default; off, the profile says so in its own file.
void writeProcessingOff(const QString &dir)
{
    QFile ini(dir + QLatin1Char('/') + AudioSettings::FileName);
    if (ini.open(QIODevice::WriteOnly))
        ini.write("[Audio]\r\nEchoCancellation=False\r\nNoiseSuppression=False\r\nAutomaticLevel=False\r\n");
}

// Sound blocks (80 ms of sound, at whatever rate the speaker plays) the speaker was given,
// across reopenings of the output device.
class PlayedCounter
{
public:
    explicit PlayedCounter(AudioEngine &engine) : m_engine(engine) {}
    qint64 count()
    {
        auto *speaker = qobject_cast<TestSpeaker *>(m_engine.outputDevice());
        if (speaker != m_speaker) {
            m_base += m_last;
            m_last = 0;
            m_speaker = speaker;
        }
        if (m_speaker)
            m_last = m_speaker->samplesWritten() * 1000 / (qint64(m_speaker->rate()) * AudioEngine::BlockMs);
        return m_base + m_last;
    }

private:
    AudioEngine &m_engine;
    QPointer<TestSpeaker> m_speaker;
    qint64 m_base = 0;
    qint64 m_last = 0;
};

// How the callee answers: encrypted as this version does, or as an older program with no
// encrypted port (which refuses the attempt at once), or with the encrypted port behind a
// firewall that drops the attempt without a word.
enum class Answering { Encrypted, Refused, Silent };

// One side of the call. Prints one line "RESULT key=value ..." when the call is over.
// With `timeline`, each frame drawn while measuring is also printed as a line
// "FRAME <epoch ms> <capture-to-drawn ms> <width>".
int runSide(const QString &side, int port, int peerPort, QSize size, int seconds, bool talk, bool processing,
            bool headless,
            Answering answering, bool alignCamera, bool timeline)
{
    const bool caller = side == QLatin1String("caller");
    QTemporaryDir dir;
    writeProfile(dir.path(), !caller);
    if (!processing)
        writeProcessingOff(dir.path());
    if (qEnvironmentVariable(PublishedVariable) == QLatin1String("1")) {
        QFile ini(dir.path() + QLatin1Char('/') + MediaFormatSettings::FileName);
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Media]\r\nPublishedFormatsOnly=True\r\n");
    }
    Program program(ProgramOptions{port, dir.path(), {}, true});
    // The program as users run it has its windows; the measuring goes through the root only.
    std::unique_ptr<WindowShell> shell;
    if (!headless)
        shell = std::make_unique<WindowShell>(program.face());
    bool tailDone = false;
    QObject::connect(&program.events(), &ProgramEvents::startupTailFinished, &program, [&] { tailDone = true; });
    if (shell)
        shell->start();
    else
        program.start();
    std::unique_ptr<TestSupport::SilentPort> silent;
    if (!caller && answering != Answering::Encrypted) {
        program.security().shutdown();
        if (answering == Answering::Silent)
            silent = std::make_unique<TestSupport::SilentPort>(port + PortPlan::EncryptedOffset);
    }
    program.parts().sounds.setMuted(true);
    setCameraPixels(program);
    program.videoEngine().setCaptureFormat(-1, size);
    // The program as a user starts it: the splash goes, the windows of last time come back.
    if (!waitFor([&] { return tailDone; }, 20000)) {
        std::printf("RESULT error=no-start\n");
        return 1;
    }

    // Sound blocks sent: the send index moves by one for each block that went.
    qint64 blocksSent = 0;
    int lastSendIndex = program.parts().audioSendQueue.audioSendIndex();
    QObject::connect(&program.parts().mediaTimer, &QTimer::timeout, &program, [&] {
        const int index = program.parts().audioSendQueue.audioSendIndex();
        if (index != lastSendIndex && program.calls().status().callState == CallState::InCall)
            ++blocksSent;
        lastSendIndex = index;
    });
    PlayedCounter played(program.audioEngine());
    // The picture each frame went at, read on the tick that sent it.
    bool measuring = false;
    std::vector<double> qualities;
    std::vector<double> widths;
    qint64 framesSentBefore = 0;
    QObject::connect(&program.parts().mediaTimer, &QTimer::timeout, &program, [&] {
        const qint64 framesSent = program.parts().mediaStats.totals().framesSent;
        if (measuring && framesSent > framesSentBefore) {
            qualities.push_back(program.mediaSession().sentPicture().quality);
            widths.push_back(program.mediaSession().sentPicture().width);
        }
        framesSentBefore = framesSent;
    });
    // Frames drawn, with their latency from the stamp the test camera put in.
    std::vector<double> latencies;
    qint64 framesDrawn = 0;
    qint64 unreadable = 0;
    // Both sides capture at `size`: the other side's frames are painted again at it.
    std::unique_ptr<TexturedScene> scene;
    if (texturedScene())
        scene = std::make_unique<TexturedScene>(size);
    std::vector<double> similarities;
    double comparingCpu = 0;
    QObject::connect(&program.videoEngine(), &VideoEngine::frameDrawn, &program, [&](const QImage &frame) {
        if (!measuring)
            return;
        ++framesDrawn;
        const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(frame);
        if (!stamp.valid) {
            ++unreadable;
            return;
        }
        const qint64 epoch = QDateTime::currentMSecsSinceEpoch();
        const quint32 now = quint32(epoch);
        latencies.push_back(double(qint32(now - stamp.msecs)));
        if (scene) {
            const double before = threadCpuSeconds();
            if (const double ssim = similarityToCaptured(*scene, frame, stamp.frameNumber); ssim >= 0)
                similarities.push_back(ssim);
            comparingCpu += threadCpuSeconds() - before;
        }
        if (timeline)
            std::printf("FRAME %lld %d %d\n", epoch, qint32(now - stamp.msecs), int(frame.width()));
    });

    // What a freeze is made of: the sender's key frames, picture width, frames sent and
    // rate estimate beside the frames the other side drew.
    QTimer traceTimer;
    if (timeline && qEnvironmentVariableIsSet(TraceVariable)) {
        QObject::connect(&traceTimer, &QTimer::timeout, &program, [&program] {
            const MediaSession &session = program.mediaSession();
            std::printf("STATE %lld %d %d %d %lld est %d\n", QDateTime::currentMSecsSinceEpoch(),
                        session.keyFramesSent(), session.keyFramesAsked(), session.sentPicture().width,
                        program.parts().mediaStats.totals().framesSent, session.rateEstimate());
        });
        traceTimer.start(TraceIntervalMs);
    }
    QElapsedTimer setup;
    setup.start();
    if (caller) {
        program.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(peerPort), 2000, 0);
    } else {
        std::printf("READY\n");
        std::fflush(stdout);
    }
    if (!waitFor([&] { return program.calls().status().callState == CallState::InCall; }, 30000)) {
        std::printf("RESULT error=no-call\n");
        return 1;
    }
    const qint64 setupMs = setup.elapsed();
    const bool encrypted = program.security().call().status().encrypted();
    if (talk)
        program.audioControl().talkPressed(Qt::RightButton); // latched talk
    if (alignCamera) {
        // The camera's clock starts again on a tick of the send loop, so every run meets
        // the ticks at the same phase.
        auto *aligned = new QObject(&program);
        QObject::connect(&program.parts().mediaTimer, &QTimer::timeout, aligned, [&program, aligned] {
            if (TestPatternCamera *camera = static_cast<TestDeviceProvider &>(program.parts().devices).patternCamera()) {
                camera->setOnDemand(true);
                camera->setOnDemand(false);
            }
            aligned->deleteLater();
        });
        runFor(200);
    }

    // Measured from the moment the call is up: the first seconds count too.
    const MediaStats::Totals start = program.parts().mediaStats.totals();
    const DatagramSession::WireBytes wireStart = program.mediaSession().datagramBytesSent();
    const qint64 blocksSent0 = blocksSent;
    const qint64 blocksPlayed0 = played.count();
    if (TestSpeaker *speaker = speakerOf(program))
        speaker->forgetGaps();
    const double cpu0 = cpuSeconds();
    QElapsedTimer window;
    window.start();
    measuring = true;
    runFor(seconds * 1000);
    measuring = false;
    const double elapsed = window.elapsed() / 1000.0;
    TestSpeaker *speaker = speakerOf(program);
    const qint64 soundGapMs = speaker ? speaker->longestGapMs() : -1;
    const bool overDatagrams = program.mediaSession().sendsOverDatagrams();
    const DatagramSession::WireBytes wireEnd = program.mediaSession().datagramBytesSent();
    const int estimateBps = program.mediaSession().rateEstimate();
    const int keyFramesSent = program.mediaSession().keyFramesSent();
    const int keyFramesAsked = program.mediaSession().keyFramesAsked();
    const double cpu = cpuSeconds() - cpu0 - comparingCpu;
    const MediaStats::Totals end = program.parts().mediaStats.totals();
    const qint64 windowBlocksSent = blocksSent - blocksSent0;
    const qint64 windowBlocksPlayed = played.count() - blocksPlayed0;

    // Talk ends; what is still on the way is played before the call ends.
    if (talk)
        program.audioControl().talkPressed(Qt::RightButton);
    runFor(3000);
    const qint64 totalSent = blocksSent;
    const qint64 totalPlayed = played.count();
    if (caller)
        program.calls().hangUp();
    waitFor([&] { return program.calls().status().callState == CallState::Idle; }, 15000);

    std::printf("RESULT side=%s seconds=%.2f framesSent=%lld framesReceived=%lld framesDrawn=%lld unreadable=%lld "
                "blocksSent=%lld blocksPlayed=%lld totalBlocksSent=%lld totalBlocksPlayed=%lld bytesSent=%lld "
                "bytesReceived=%lld framesSkipped=%lld cpu=%.3f maxrss=%ld latMedian=%.1f latP99=%.1f latencies=%zu "
                "qualityMedian=%.0f qualityLeast=%.0f qualityMost=%.0f widthMedian=%.0f widthLeast=%.0f widthMost=%.0f "
                "setupMs=%lld encrypted=%d datagrams=%d soundGapMs=%lld estimate=%d keyFramesSent=%d "
                "keyFramesAsked=%d wireBytes=%lld wirePictureBytes=%lld ssimMean=%.4f ssimFrames=%zu\n",
                qPrintable(side), elapsed, end.framesSent - start.framesSent,
                end.framesReceived - start.framesReceived, framesDrawn, unreadable, windowBlocksSent,
                windowBlocksPlayed, totalSent, totalPlayed, end.bytesSent - start.bytesSent,
                end.bytesReceived - start.bytesReceived, end.framesSkipped - start.framesSkipped, cpu, peakKilobytes(), percentile(latencies, 0.5),
                percentile(latencies, 0.99), latencies.size(), percentile(qualities, 0.5), percentile(qualities, 0),
                percentile(qualities, 1), percentile(widths, 0.5), percentile(widths, 0), percentile(widths, 1), setupMs,
                encrypted ? 1 : 0, overDatagrams ? 1 : 0, soundGapMs, estimateBps, keyFramesSent, keyFramesAsked,
                wireEnd.all - wireStart.all, wireEnd.picture - wireStart.picture,
                similarities.empty() ? -1.0
                                     : std::accumulate(similarities.begin(), similarities.end(), 0.0)
                                           / double(similarities.size()),
                similarities.size());
    std::fflush(stdout);
    program.shutdown();
    return 0;
}

// A program not in a call, as a user leaves it open: its windows of last time back, the
// self view open or closed. Prints "RESULT cpu=... rss=..." for the seconds after start-up.
int runIdle(int port, int seconds, bool selfView)
{
    QTemporaryDir dir;
    writeProfile(dir.path(), false, selfView);
    Program program(ProgramOptions{port, dir.path(), {}, true});
    WindowShell shell(program.face());
    bool tailDone = false;
    QObject::connect(&program.events(), &ProgramEvents::startupTailFinished, &program, [&] { tailDone = true; });
    shell.start();
    setCameraPixels(program);
    program.parts().sounds.setMuted(true);
    if (!waitFor([&] { return tailDone; }, 20000)) {
        std::printf("RESULT error=no-start\n");
        return 1;
    }
    runFor(1000);
    const double cpu0 = cpuSeconds();
    QElapsedTimer window;
    window.start();
    runFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    std::printf("RESULT seconds=%.2f cpu=%.4f rss=%ld maxrss=%ld\n", window.elapsed() / 1000.0, cpu,
                memoryOf(QCoreApplication::applicationPid()).residentKb, peakKilobytes());
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

struct Targets
{
    double minFps = 12.5;       // frames received per second, each way; < 0: none
    double maxMedianMs = 100;
    double maxP99Ms = -1;       // < 0: none
    double minSoundPlayed = 1.0; // share of the blocks sent that were played
    double maxCpu = -1;         // share of one core per side; < 0: none
    double maxPeakMb = -1;      // resident memory at the call's peak per side; < 0: none
    double maxSoundGapMs = -1;  // the longest the speaker ran dry while measuring; < 0: none
    int minMedianWidth = 0;     // the picture's median width sent each way; 0: none
    // The options' picture, which frames must keep throughout (quality 0: no such target).
    int optionsQuality = 0;
    int optionsWidth = 0;
};

// More for one run of a pair: arguments for both sides, what to do while the call runs
// (called every 10 ms), and what each side printed.
struct PairRun
{
    QStringList sideArguments;
    std::function<void()> whileRunning;
    QByteArray callerOut;
    QByteArray calleeOut;
};

// What one call showed, per direction: A is the caller, B the callee.
struct Outcome
{
    bool ok = false;
    double fpsAB = 0;
    double fpsBA = 0;
    double medianMs = -1;
    double p99Ms = -1;
    double soundPlayed = 1.0;
    double cpuA = -1; // share of one core
    double cpuB = -1;
    double setupMs = -1;
    bool encrypted = false;
    bool datagrams = false;
    double ssimAB = -1; // mean SSIM of the frames drawn; -1: not compared
    double ssimBA = -1;
};

Outcome runPair(const QString &self, QSize size, int seconds, bool talk, bool headless, int portFrom,
                const Targets &targets, const QString &title, Answering answering = Answering::Encrypted,
                bool alignCamera = false, bool processing = true, PairRun *run = nullptr)
{
    Outcome outcome;
    const int calleePort = freePortBlock(portFrom);
    const int callerPort = freePortBlock(calleePort + 4);
    const QString sizeText = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    QStringList common{QStringLiteral("--size"), sizeText, QStringLiteral("--seconds"), QString::number(seconds),
                       QStringLiteral("--talk"), talk ? QStringLiteral("1") : QStringLiteral("0"),
                       QStringLiteral("--processing"), processing ? QStringLiteral("1") : QStringLiteral("0"),
                       QStringLiteral("--answering"), QString::number(int(answering))};
    if (headless)
        common << QStringLiteral("--headless");
    if (run)
        common << run->sideArguments;
    const QStringList align = alignCamera ? QStringList{QStringLiteral("--align-camera")} : QStringList();

    QProcess callee;
    QProcess caller;
    callee.setProcessChannelMode(QProcess::SeparateChannels);
    caller.setProcessChannelMode(QProcess::SeparateChannels);
    callee.start(self, QStringList{QStringLiteral("--side"), QStringLiteral("callee"), QStringLiteral("--port"),
                                   QString::number(calleePort)} + common + align);
    QByteArray calleeOut;
    if (!waitFor([&] {
            calleeOut += callee.readAllStandardOutput();
            return calleeOut.contains("READY") || callee.state() == QProcess::NotRunning;
        }, 30000) || !calleeOut.contains("READY")) {
        std::printf("callee did not start: %s\n", callee.readAllStandardError().constData());
        callee.kill();
        callee.waitForFinished(3000);
        return outcome;
    }
    caller.start(self, QStringList{QStringLiteral("--side"), QStringLiteral("caller"), QStringLiteral("--port"),
                                   QString::number(callerPort), QStringLiteral("--peer-port"),
                                   QString::number(calleePort)} + common + align);
    const int limit = (seconds + 90) * 1000;
    QByteArray callerOut;
    waitFor([&] {
        calleeOut += callee.readAllStandardOutput();
        callerOut += caller.readAllStandardOutput();
        if (run && run->whileRunning)
            run->whileRunning();
        return callee.state() == QProcess::NotRunning && caller.state() == QProcess::NotRunning;
    }, limit);
    calleeOut += callee.readAllStandardOutput();
    callerOut += caller.readAllStandardOutput();
    if (run) {
        run->callerOut = callerOut;
        run->calleeOut = calleeOut;
    }
    if (qEnvironmentVariableIsSet(TraceVariable)) {
        for (const auto &[name, out] : {std::pair{"caller", &callerOut}, std::pair{"callee", &calleeOut}}) {
            QFile file(qEnvironmentVariable(TraceVariable) + QLatin1Char('-') + QLatin1String(name)
                       + QLatin1String(".txt"));
            if (file.open(QIODevice::WriteOnly))
                file.write(*out);
        }
    }
    for (QProcess *p : {&callee, &caller}) {
        if (p->state() != QProcess::NotRunning)
            p->kill();
        p->waitForFinished(3000);
    }

    const Result a = parseResult(callerOut);
    const Result b = parseResult(calleeOut);
    if (!a.contains(QStringLiteral("ok")) || !b.contains(QStringLiteral("ok"))) {
        std::printf("no result: caller said\n%s\ncallee said\n%s\n", callerOut.constData(), calleeOut.constData());
        return outcome;
    }

    auto value = [](const Result &r, const char *key) { return r.value(QString::fromLatin1(key)); };
    auto per = [&](const Result &r, const char *key) { return value(r, key) / value(r, "seconds"); };
    auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };

    outcome.setupMs = value(a, "setupMs");
    outcome.encrypted = value(a, "encrypted") > 0 && value(b, "encrypted") > 0;
    std::printf("\n== %s: %s, %s, %d s of call, %s%s ==\n", qPrintable(title), qPrintable(sizeText),
                talk ? "talk latched on both sides" : "no talk", seconds,
                outcome.encrypted ? "encrypted" : "not encrypted", processing ? "" : ", microphone processing off");
    std::printf("%-38s %10s %10s   %s\n", "each direction", "A->B", "B->A", "target");
    // Each side says whether it sends over datagrams: A's is A->B.
    outcome.datagrams = value(a, "datagrams") > 0 && value(b, "datagrams") > 0;
    std::printf("%-38s %10s %10s\n", "picture and sound over datagrams", value(a, "datagrams") > 0 ? "yes" : "no",
                value(b, "datagrams") > 0 ? "yes" : "no");
    auto row = [&](const char *label, double ab, double ba, const char *format, const QString &target) {
        char x[32];
        char y[32];
        std::snprintf(x, sizeof x, format, ab);
        std::snprintf(y, sizeof y, format, ba);
        std::printf("%-38s %10s %10s   %s\n", label, x, y, qPrintable(target));
    };
    outcome.fpsAB = per(b, "framesReceived");
    outcome.fpsBA = per(a, "framesReceived");
    row("frames sent per second", per(a, "framesSent"), per(b, "framesSent"), "%.2f", QString());
    row("frames received per second", outcome.fpsAB, outcome.fpsBA, "%.2f",
        targets.minFps < 0 ? QStringLiteral("(none on this link)")
                           : QStringLiteral(">= %1  %2").arg(targets.minFps).arg(QString::fromLatin1(verdict(
                                 std::min(outcome.fpsAB, outcome.fpsBA) >= targets.minFps))));
    row("frames skipped for a busy link per second", per(a, "framesSkipped"), per(b, "framesSkipped"), "%.2f",
        QString());
    row("frames with an unreadable stamp", value(b, "unreadable"), value(a, "unreadable"), "%.0f", QString());
    const double medAB = value(b, "latMedian");
    const double medBA = value(a, "latMedian");
    const double p99AB = value(b, "latP99");
    const double p99BA = value(a, "latP99");
    outcome.medianMs = std::max(medAB, medBA);
    outcome.p99Ms = std::max(p99AB, p99BA);
    const bool drawnBothWays = std::min(medAB, medBA) >= 0;
    row("capture->drawn median (ms)", medAB, medBA, "%.0f",
        QStringLiteral("< %1  %2").arg(targets.maxMedianMs).arg(QString::fromLatin1(
            verdict(drawnBothWays && outcome.medianMs < targets.maxMedianMs))));
    row("capture->drawn 99th percentile (ms)", p99AB, p99BA, "%.0f",
        targets.maxP99Ms < 0 ? QString()
                             : QStringLiteral("< %1  %2").arg(targets.maxP99Ms).arg(QString::fromLatin1(
                                   verdict(drawnBothWays && outcome.p99Ms < targets.maxP99Ms))));
    outcome.ssimAB = value(b, "ssimFrames") > 0 ? value(b, "ssimMean") : -1;
    outcome.ssimBA = value(a, "ssimFrames") > 0 ? value(a, "ssimMean") : -1;
    if (outcome.ssimAB >= 0 || outcome.ssimBA >= 0) {
        row("SSIM of frames drawn to those captured", outcome.ssimAB, outcome.ssimBA, "%.4f",
            QStringLiteral("(luma, below the stamp, at the size drawn)"));
        row("  frames compared", value(b, "ssimFrames"), value(a, "ssimFrames"), "%.0f", QString());
    }
    row("bytes sent per second", per(a, "bytesSent"), per(b, "bytesSent"), "%.0f", QString());
    if (value(a, "datagrams") > 0) {
        auto besides = [&](const Result &r) { return (per(r, "wireBytes") - per(r, "wirePictureBytes")) * 8 / 1000; };
        row("datagrams on the line (kbit/s)", per(a, "wireBytes") * 8 / 1000, per(b, "wireBytes") * 8 / 1000, "%.1f",
            QString());
        row("  of them sound and reports (kbit/s)", besides(a), besides(b), "%.1f", QString());
    }
    row("rate estimate at the end (kbit/s)", value(a, "estimate") / 1000, value(b, "estimate") / 1000, "%.0f",
        QString());
    row("key frames sent", value(a, "keyFramesSent"), value(b, "keyFramesSent"), "%.0f", QString());
    row("key frames asked for by the receiver", value(b, "keyFramesAsked"), value(a, "keyFramesAsked"), "%.0f",
        QString());
    // The picture frames went at: median (least-most), each way.
    auto spread = [&](const Result &r, const char *median, const char *least, const char *most, bool size) {
        auto text = [size](double v) {
            return size ? QStringLiteral("%1x%2").arg(v).arg(v * 3 / 4) : QString::number(v);
        };
        return QStringLiteral("%1 (%2-%3)").arg(text(value(r, median)), text(value(r, least)), text(value(r, most)));
    };
    // A call in today's formats sends no JPEG: then only the options' size is kept or not.
    const bool jpeg = value(a, "qualityMost") > 0 || value(b, "qualityMost") > 0;
    const bool keptOptions = (!jpeg
                              || (value(a, "qualityLeast") == targets.optionsQuality
                                  && value(b, "qualityLeast") == targets.optionsQuality))
                             && value(a, "widthLeast") == targets.optionsWidth
                             && value(b, "widthLeast") == targets.optionsWidth;
    // The quality is named only where JPEG went.
    const QString pictureTarget = targets.optionsQuality > 0
                                      ? QStringLiteral("the options' %1%2x%3 throughout  %4")
                                            .arg(jpeg ? QStringLiteral("%1 at ").arg(targets.optionsQuality) : QString())
                                            .arg(targets.optionsWidth)
                                            .arg(targets.optionsWidth * 3 / 4)
                                            .arg(QString::fromLatin1(verdict(keptOptions)))
                                      : QString();
    if (jpeg)
        std::printf("%-38s %22s %22s   %s\n", "JPEG quality sent (median, range)",
                    qPrintable(spread(a, "qualityMedian", "qualityLeast", "qualityMost", false)),
                    qPrintable(spread(b, "qualityMedian", "qualityLeast", "qualityMost", false)),
                    qPrintable(pictureTarget));
    const QString sizeTarget =
        targets.minMedianWidth > 0
            ? QStringLiteral("median %1x%2  %3")
                  .arg(targets.minMedianWidth)
                  .arg(targets.minMedianWidth * 3 / 4)
                  .arg(QString::fromLatin1(verdict(value(a, "widthMedian") >= targets.minMedianWidth
                                                   && value(b, "widthMedian") >= targets.minMedianWidth)))
            : jpeg ? QString() : pictureTarget;
    std::printf("%-38s %22s %22s   %s\n", "picture size sent (median, range)",
                qPrintable(spread(a, "widthMedian", "widthLeast", "widthMost", true)),
                qPrintable(spread(b, "widthMedian", "widthLeast", "widthMost", true)), qPrintable(sizeTarget));
    if (talk) {
        row("sound blocks sent per second", per(a, "blocksSent"), per(b, "blocksSent"), "%.2f", QString());
        row("sound blocks played per second", per(b, "blocksPlayed"), per(a, "blocksPlayed"), "%.2f", QString());
        const double sentAB = value(a, "totalBlocksSent");
        const double sentBA = value(b, "totalBlocksSent");
        const double playedAB = value(b, "totalBlocksPlayed");
        const double playedBA = value(a, "totalBlocksPlayed");
        row("sound blocks sent in the whole call", sentAB, sentBA, "%.0f", QString());
        row("sound blocks played at the other end", playedAB, playedBA, "%.0f", QString());
        auto share = [](double played, double sent) { return sent > 0 ? std::min(1.0, played / sent) : 1.0; };
        outcome.soundPlayed = std::min(share(playedAB, sentAB), share(playedBA, sentBA));
        const bool whole = targets.minSoundPlayed >= 1.0;
        const double gapAB = value(b, "soundGapMs");
        const double gapBA = value(a, "soundGapMs");
        row("longest sound gap (ms)", gapAB, gapBA, "%.0f",
            targets.maxSoundGapMs < 0
                ? QString()
                : QStringLiteral("< %1  %2").arg(targets.maxSoundGapMs).arg(QString::fromLatin1(
                      verdict(std::max(gapAB, gapBA) < targets.maxSoundGapMs && std::min(gapAB, gapBA) >= 0))));
        row("sound blocks played of those sent (%)", 100 * share(playedAB, sentAB), 100 * share(playedBA, sentBA),
            "%.1f",
            QStringLiteral("%1  %2")
                .arg(whole ? QStringLiteral("none lost") : QStringLiteral(">= %1").arg(100 * targets.minSoundPlayed))
                .arg(QString::fromLatin1(verdict(whole ? (playedAB >= sentAB && playedBA >= sentBA)
                                                       : outcome.soundPlayed >= targets.minSoundPlayed))));
    }
    std::printf("%-38s %10s %10s\n", "each side", "A", "B");
    const double cpuA = per(a, "cpu");
    const double cpuB = per(b, "cpu");
    outcome.cpuA = cpuA;
    outcome.cpuB = cpuB;
    row("CPU (% of one core)", 100 * cpuA, 100 * cpuB, "%.1f",
        targets.maxCpu < 0 ? QString()
                           : QStringLiteral("< %1  %2").arg(100 * targets.maxCpu).arg(QString::fromLatin1(
                                 verdict(std::max(cpuA, cpuB) < targets.maxCpu))));
    const double peakMb = std::max(value(a, "maxrss"), value(b, "maxrss")) / 1024.0;
    row("peak memory (MB)", value(a, "maxrss") / 1024.0, value(b, "maxrss") / 1024.0, "%.1f",
        targets.maxPeakMb < 0 ? QString()
                              : QStringLiteral("< %1  %2").arg(targets.maxPeakMb).arg(QString::fromLatin1(
                                    verdict(peakMb < targets.maxPeakMb))));
    std::fflush(stdout);
    outcome.cpuA = cpuA;
    outcome.cpuB = cpuB;
    outcome.ok = true;
    return outcome;
}


// Starts a program and times it until its listening socket shows in the kernel's table
// (looking there connects to nothing). -1 when it did not listen within 10 s. The program
// is left running.
double startToListening(QProcess &program, const QString &path, const QStringList &arguments, int port)
{
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QByteArray hexPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    const QByteArray local6 = ":" + hexPort + " 00000000000000000000000000000000:0000 0A";
    const QByteArray local4 = ":" + hexPort + " 00000000:0000 0A";
    QElapsedTimer clock;
    clock.start();
    program.start(path, arguments);
    bool listening = false;
    while (!listening && clock.elapsed() < 10000 && program.state() != QProcess::NotRunning) {
        for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
            QFile f(QString::fromLatin1(table));
            if (f.open(QIODevice::ReadOnly)) {
                const QByteArray text = f.readAll();
                listening = listening || text.contains(local6) || text.contains(local4);
            }
        }
        if (!listening)
            usleep(500);
    }
    return listening ? double(clock.nsecsElapsed()) / 1e6 : -1;
}

// The memory of a running program once everything started after its window has settled.
ProcessMemory settledMemory(QProcess &program, int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(std::min(seconds, 10) * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return memoryOf(program.processId());
}

// Idle programs (self view open, then closed) and how long the program takes from its start
// to listening for calls: seven starts of the program users run, median and range.
bool measureIdle(const QString &self, int seconds)
{
    auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };
    Result open;
    Result closed;
    for (const bool selfView : {true, false}) {
        QProcess side;
        side.start(self, QStringList{QStringLiteral("--side"), QStringLiteral("idle"), QStringLiteral("--port"),
                                     QString::number(freePortBlock(27500)), QStringLiteral("--seconds"),
                                     QString::number(seconds), QStringLiteral("--self-view"),
                                     selfView ? QStringLiteral("1") : QStringLiteral("0")});
        side.waitForFinished((seconds + 60) * 1000);
        (selfView ? open : closed) = parseResult(side.readAllStandardOutput());
    }
    const QString zelmo = QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo");
    const QString bare = QCoreApplication::applicationDirPath() + QStringLiteral("/bare_listener");
    // The first start in a new profile makes the user's key; every later start reads it.
    // The first is timed on its own, the usual start is the median of the next seven, each
    // beside a start of the bare program so both see the same machine.
    QTemporaryDir profile;
    writeProfile(profile.path(), false);
    double firstStart = -1;
    std::vector<double> starts;
    std::vector<double> bareStarts;
    ProcessMemory zelmoMemory;
    ProcessMemory bareMemory;
    for (int i = 0; i < 8 && QFile::exists(zelmo) && QFile::exists(bare); ++i) {
        const bool last = i == 7;
        const int port = freePortBlock(27600);
        QProcess program;
        const double ms = startToListening(program, zelmo,
                                           QStringList{QStringLiteral("--test-devices"), QStringLiteral("--port"),
                                                       QString::number(port), QStringLiteral("--profile"),
                                                       profile.path()},
                                           port);
        if (ms >= 0 && i == 0)
            firstStart = ms;
        else if (ms >= 0)
            starts.push_back(ms);
        if (last && ms >= 0)
            zelmoMemory = settledMemory(program, seconds);
        program.kill();
        program.waitForFinished(3000);
        if (i == 0)
            continue;
        QProcess yardstick;
        const int barePort = freePortBlock(27700);
        const double bareMs = startToListening(
            yardstick, bare, QStringList{QStringLiteral("--port"), QString::number(barePort)}, barePort);
        if (bareMs >= 0)
            bareStarts.push_back(bareMs);
        if (last && bareMs >= 0)
            bareMemory = settledMemory(yardstick, seconds);
        yardstick.kill();
        yardstick.waitForFinished(3000);
    }
    std::printf("\n== not in a call: one program with its windows (%s), %d s after start-up; start-up of the "
                "program (--test-devices) ==\n",
                cameraText(), seconds);
    std::printf("%-46s %10s   %s\n", "", "", "target");
    const double cpuOpen = open.contains(QStringLiteral("ok")) ? 100 * open.value(QStringLiteral("cpu")) / open.value(QStringLiteral("seconds")) : -1;
    const double cpuClosed = closed.contains(QStringLiteral("ok")) ? 100 * closed.value(QStringLiteral("cpu")) / closed.value(QStringLiteral("seconds")) : -1;
    std::printf("%-46s %10.2f   < 0.5  %s\n", "CPU, self view open (% of one core)", cpuOpen,
                verdict(cpuOpen >= 0 && cpuOpen < 0.5));
    std::printf("%-46s %10.2f   < 0.1  %s\n", "CPU, self view closed (% of one core)", cpuClosed,
                verdict(cpuClosed >= 0 && cpuClosed < 0.1));
    std::printf("%-46s %10.1f\n", "resident memory idle, self view open (MB)", open.value(QStringLiteral("rss")) / 1024.0);
    std::printf("%-46s %10.1f\n", "resident memory idle, self view closed (MB)",
                closed.value(QStringLiteral("rss")) / 1024.0);
    if (firstStart >= 0)
        std::printf("%-46s %10.1f\n", "first start to listening, making the key (ms)", firstStart);
    if (starts.empty() || bareStarts.empty()) {
        std::printf("%-46s %10s   NOT met (%s or %s did not listen)\n", "start to listening, median of 7 (ms)", "-",
                    qPrintable(zelmo), qPrintable(bare));
        std::fflush(stdout);
        return false;
    }
    const double median = percentile(starts, 0.5);
    const double bareMedian = percentile(bareStarts, 0.5);
    std::printf("\n== ZELMO beside the bare program (one window, listening), the same run ==\n");
    std::printf("%-46s %10s %10s   %s\n", "", "ZELMO", "bare", "target");
    std::printf("%-46s %10.1f %10.1f   <= 1.2 x bare  %s   (ZELMO %.0f-%.0f, bare %.0f-%.0f)\n",
                "start to listening, median of 7 (ms)", median, bareMedian, verdict(median <= 1.2 * bareMedian),
                percentile(starts, 0), percentile(starts, 1), percentile(bareStarts, 0), percentile(bareStarts, 1));
    const double zelmoRss = zelmoMemory.residentKb / 1024.0;
    const double bareRss = bareMemory.residentKb / 1024.0;
    std::printf("%-46s %10.1f %10.1f   <= 1.5 x bare  %s\n", "resident memory idle (MB)", zelmoRss, bareRss,
                verdict(zelmoRss > 0 && bareRss > 0 && zelmoRss <= 1.5 * bareRss));
    const double zelmoOwn = zelmoMemory.anonymousKb / 1024.0;
    std::printf("%-46s %10.1f %10.1f   < 8  %s\n", "own (anonymous) memory idle (MB)", zelmoOwn,
                bareMemory.anonymousKb / 1024.0, verdict(zelmoMemory.anonymousKb > 0 && zelmoOwn < 8));
    std::printf("%-46s %10d %10d\n", "shared libraries mapped idle", zelmoMemory.libraries, bareMemory.libraries);
    std::fflush(stdout);
    return open.contains(QStringLiteral("ok")) && closed.contains(QStringLiteral("ok"));
}

// A voice that is not a tone: the speech synthesiser's when it is there, else a buzz with
// a wandering pitch in syllables.
std::vector<qint16> voice(const QString &text, const QString &speaker, int seconds)
{
    std::vector<qint16> samples = TestSupport::spokenPhrase(text, speaker);
    if (samples.empty()) {
        samples.resize(size_t(seconds) * SoundTimeline::Rate);
        double phase = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = double(i) / SoundTimeline::Rate;
            phase += 2 * M_PI * (120 + 40 * std::sin(2 * M_PI * 0.7 * t)) / SoundTimeline::Rate;
            const double syllable = std::max(0.0, std::sin(2 * M_PI * 3 * t));
            samples[i] = qint16(6000 * syllable * (std::sin(phase) + 0.5 * std::sin(3 * phase)));
        }
    }
    while (samples.size() < size_t(seconds) * SoundTimeline::Rate)
        samples.insert(samples.end(), samples.begin(), samples.begin() + std::min(samples.size(), size_t(seconds) * SoundTimeline::Rate - samples.size()));
    samples.resize(size_t(seconds) * SoundTimeline::Rate);
    return samples;
}

// The processing on one process's own sound, as the engine runs it on each 80 ms block: a
// far voice played and heard back 100 ms later, a near voice over it and a steady noise.
// Prints its CPU per second of sound and the delay it adds: the time it takes per block,
// and how much later the sound comes out (found by cross-correlating what went in with
// what came out).
void measureProcessing(int seconds)
{
    const int rate = SoundTimeline::Rate;
    const int block = AudioEngine::BlockSamples;
    const std::vector<qint16> far = voice(QStringLiteral("Good morning. I am calling about the meeting on Thursday, "
                                                         "could you bring the plans and the figures?"),
                                          QStringLiteral("en"), seconds);
    const std::vector<qint16> near = voice(QStringLiteral("Hello, yes, I can hear you. Let me check my calendar."),
                                           QStringLiteral("en-us+f3"), seconds);
    const int echoDelay = rate / 10;
    std::vector<qint16> microphone(far.size());
    quint32 noise = 24;
    for (size_t i = 0; i < microphone.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (double(noise >> 16) / 32768.0 - 1.0) * 300;
        const double echo = i >= size_t(echoDelay) ? 0.5 * far[i - size_t(echoDelay)] : 0.0;
        microphone[i] = qint16(std::clamp(echo + 0.7 * near[i] + hiss, -32768.0, 32767.0));
    }

    EchoReference reference;
    VoiceModule module;
    VoiceProcessor processor(reference, module);
    processor.setOptions({true, true, true});
    std::vector<qint16> out(microphone.size());
    double worstBlockMs = 0;
    const double cpu0 = threadCpuSeconds();
    for (size_t at = 0; at + size_t(block) <= microphone.size(); at += size_t(block)) {
        const double blockStart = threadCpuSeconds();
        reference.place(far.data() + at, block, qint64(at));
        std::copy_n(microphone.data() + at, block, out.data() + at);
        processor.process(out.data() + at, block, qint64(at));
        worstBlockMs = std::max(worstBlockMs, (threadCpuSeconds() - blockStart) * 1000);
    }
    const double cpu = threadCpuSeconds() - cpu0;

    // The delay: the near voice alone, noise suppression and level only (echo
    // cancellation would take out what it correlates with), in against out.
    VoiceProcessor alone(reference, module);
    alone.setOptions({false, true, true});
    std::vector<qint16> nearOut(near);
    for (size_t at = 0; at + size_t(block) <= nearOut.size(); at += size_t(block))
        alone.process(nearOut.data() + at, block, qint64(at));
    int bestLag = 0;
    double best = -1;
    const size_t from = size_t(rate); // after the level has settled
    for (int lag = 0; lag <= rate / 20; ++lag) {
        double sum = 0;
        for (size_t i = from; i + size_t(lag) < nearOut.size(); ++i)
            sum += double(near[i]) * nearOut[i + size_t(lag)];
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    std::printf("\n== the microphone's processing on %d s of sound (echo 100 ms late, a voice over it, noise), "
                "80 ms blocks ==\n",
                seconds);
    std::printf("%-46s %10.2f   < 1  %s\n", "CPU per side (% of one core)", 100 * cpu / seconds,
                100 * cpu / seconds < 1 ? "met" : "NOT met");
    std::printf("%-46s %10.2f\n", "longest block (ms of CPU)", worstBlockMs);
    std::printf("%-46s %10.2f\n", "sound comes out later by (ms)", 1000.0 * bestLag / rate);
    std::printf("%-46s %10.2f   <= 10  %s\n", "added delay (ms)", 1000.0 * bestLag / rate + worstBlockMs,
                1000.0 * bestLag / rate + worstBlockMs <= 10 ? "met" : "NOT met");
    std::fflush(stdout);
}

// Whole calls with the processing on and off, and what it costs on its own.
bool compareProcessing(const QString &self, int seconds, int rounds, bool headless, int portFrom, Outcome on)
{
    std::vector<double> offA, offB, onA, onB;
    if (on.ok) {
        onA.push_back(on.cpuA);
        onB.push_back(on.cpuB);
    }
    bool ok = true;
    for (int round = 0; round < rounds; ++round) {
        for (const bool processing : {false, true}) {
            if (processing && on.ok && round == 0)
                continue;
            const Outcome o = runPair(self, QSize(320, 240), seconds, true, headless, portFrom, Targets{},
                                      headless ? QStringLiteral("loopback, headless") : QStringLiteral("loopback"),
                                      Answering::Encrypted, false, processing);
            portFrom += 40;
            ok = ok && o.ok;
            if (o.ok) {
                (processing ? onA : offA).push_back(o.cpuA);
                (processing ? onB : offB).push_back(o.cpuB);
            }
        }
    }
    auto mean = [](const std::vector<double> &v) {
        double sum = 0;
        for (double x : v)
            sum += x;
        return v.empty() ? -1.0 : 100 * sum / double(v.size());
    };
    std::printf("\n== the microphone's processing in whole calls: 320x240, talk latched, %d s, mean of %zu ==\n",
                seconds, std::min(offA.size(), onA.size()));
    std::printf("%-38s %10s %10s   %s\n", "CPU (% of one core)", "A", "B", "target");
    const double moreA = mean(onA) - mean(offA);
    const double moreB = mean(onB) - mean(offB);
    std::printf("%-38s %10.1f %10.1f\n", "processing off", mean(offA), mean(offB));
    std::printf("%-38s %10.1f %10.1f\n", "processing on (the default)", mean(onA), mean(onB));
    std::printf("%-38s %10.1f %10.1f   <= 1  %s\n", "more with it on (percentage points)", moreA, moreB,
                std::max(moreA, moreB) <= 1 ? "met" : "NOT met");
    std::fflush(stdout);
    measureProcessing(std::max(seconds, 10));
    return ok;
}

// The same call encrypted and plain, one after the other, and the encrypted run's figures
// beside the plain run's with the margins it may differ by; then how much later a call to an
// older program starts when its encrypted port is refused or silently dropped.
//
// The test camera's clock starts on a tick of the send loop in both runs: left alone, its
// frames meet the ticks at a phase that differs from run to run and moves the median
// latency by up to half a frame interval, which would drown the difference looked for.
bool compareSecure(const QString &self, QSize size, int seconds, const Targets &targets, const QString &where)
{
    const Outcome secure = runPair(self, size, seconds, true, false, 27300, targets, where + QStringLiteral(", encrypted"),
                                   Answering::Encrypted, true);
    const Outcome plain = runPair(self, size, seconds, true, false, 27340, targets, where + QStringLiteral(", plain"),
                                  Answering::Refused, true);
    const Outcome silent = runPair(self, size, 3, true, false, 27380, targets,
                                   where + QStringLiteral(", plain, the encrypted port dropped silently"),
                                   Answering::Silent, true);
    if (!secure.ok || !plain.ok)
        return false;
    auto verdict = [](bool ok) { return ok ? "met" : "NOT met"; };
    const double fpsSecure = std::min(secure.fpsAB, secure.fpsBA);
    const double fpsPlain = std::min(plain.fpsAB, plain.fpsBA);
    const double cpuDelta = 100 * std::max(secure.cpuA - plain.cpuA, secure.cpuB - plain.cpuB);
    std::printf("\n== encrypted beside plain (%s) ==\n", qPrintable(where));
    std::printf("%-40s %10s %10s   %s\n", "", "encrypted", "plain", "target");
    std::printf("%-40s %10s %10s\n", "the call was encrypted", secure.encrypted ? "yes" : "NO",
                plain.encrypted ? "YES" : "no");
    std::printf("%-40s %10.2f %10.2f   no fewer than plain - 0.5  %s\n", "frames received per second (lower way)",
                fpsSecure, fpsPlain, verdict(fpsSecure >= fpsPlain - 0.5));
    std::printf("%-40s %10.0f %10.0f   within 5 ms of plain  %s\n", "capture->drawn median (ms, worse way)",
                secure.medianMs, plain.medianMs, verdict(secure.medianMs <= plain.medianMs + 5));
    std::printf("%-40s %10.1f %10.1f\n", "CPU caller (% of one core)", 100 * secure.cpuA, 100 * plain.cpuA);
    std::printf("%-40s %10.1f %10.1f   within 0.5 points of plain  %s\n", "CPU callee (% of one core)",
                100 * secure.cpuB, 100 * plain.cpuB, verdict(cpuDelta <= 0.5));
    std::printf("%-40s %10.1f %10.1f\n", "sound blocks played of those sent (%)", 100 * secure.soundPlayed,
                100 * plain.soundPlayed);
    std::printf("%-40s %10.0f %10.0f\n", "call set up, caller's view (ms)", secure.setupMs, plain.setupMs);
    if (silent.ok)
        std::printf("%-40s %10s %10.0f   at most plain + 500 ms  %s\n",
                    "call set up, encrypted port dropped (ms)", "", silent.setupMs,
                    verdict(silent.setupMs <= plain.setupMs + 500));
    std::printf("\nsecure %s: fps %.1f vs %.1f, median %.0f vs %.0f ms, CPU %+.2f points, set-up %.0f / %.0f / %.0f ms\n",
                qPrintable(where), fpsSecure, fpsPlain, secure.medianMs, plain.medianMs, cpuDelta, secure.setupMs,
                plain.setupMs, silent.setupMs);
    std::fflush(stdout);
    return secure.encrypted && !plain.encrypted;
}

// A frame drawn, as a side's timeline gives it.
struct DrawnFrame
{
    qint64 atMs;
    double latencyMs;
    int width;
};

std::vector<DrawnFrame> timelineOf(const QByteArray &output)
{
    std::vector<DrawnFrame> frames;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("FRAME "))
            continue;
        const QList<QByteArray> f = line.split(' ');
        if (f.size() >= 4)
            frames.push_back({f[1].toLongLong(), f[2].toDouble(), f[3].toInt()});
    }
    return frames;
}

// The median delay of the frames drawn in the second up to each frame.
std::vector<double> secondMedians(const std::vector<DrawnFrame> &frames)
{
    std::vector<double> medians;
    size_t first = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        while (frames[first].atMs < frames[i].atMs - 1000)
            ++first;
        std::vector<double> window;
        for (size_t k = first; k <= i; ++k)
            window.push_back(frames[k].latencyMs);
        medians.push_back(percentile(window, 0.5));
    }
    return medians;
}

// Frames drawn in the second up to frame i.
double rateAt(const std::vector<DrawnFrame> &frames, size_t i)
{
    double n = 0;
    for (size_t k = i + 1; k-- > 0 && frames[k].atMs > frames[i].atMs - 1000;)
        ++n;
    return n;
}

// The longest time between two frames drawn from `fromMs` on (to the end when untilMs < 0);
// `beganMs`, when given, gets when it began.
qint64 longestFreeze(const std::vector<DrawnFrame> &frames, qint64 fromMs, qint64 untilMs, qint64 *beganMs = nullptr)
{
    qint64 longest = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        if (frames[i - 1].atMs >= fromMs && (untilMs < 0 || frames[i].atMs <= untilMs)
            && frames[i].atMs - frames[i - 1].atMs > longest) {
            longest = frames[i].atMs - frames[i - 1].atMs;
            if (beganMs)
                *beganMs = frames[i - 1].atMs;
        }
    }
    return longest;
}

// What one direction of a call whose link changed showed.
struct LinkRecovery
{
    double delayBackS = -1;  // from the drop until the second's median delay stays under 200 ms
    double worstMedianMs = 0; // the highest second's median between the drop and the rise
    double pictureBackS = -1; // from the rise until size and rate are those before the drop
    int widthBefore = 0;
    double fpsBefore = 0;
    int widthLow = 0;
    double fpsLow = 0;
    qint64 freezeMs = 0;
};

LinkRecovery recoveryOf(const std::vector<DrawnFrame> &frames, qint64 dropMs, qint64 riseMs)
{
    LinkRecovery r;
    const std::vector<double> medians = secondMedians(frames);
    std::vector<double> widthsBefore;
    std::vector<double> fpsBefore;
    std::vector<double> widthsLow;
    std::vector<double> fpsLow;
    for (size_t i = 0; i < frames.size(); ++i) {
        const qint64 t = frames[i].atMs;
        if (t > dropMs - 5000 && t <= dropMs) {
            widthsBefore.push_back(frames[i].width);
            fpsBefore.push_back(rateAt(frames, i));
        }
        if (t > riseMs - 5000 && t <= riseMs) {
            widthsLow.push_back(frames[i].width);
            fpsLow.push_back(rateAt(frames, i));
        }
    }
    r.widthBefore = int(percentile(widthsBefore, 0.5));
    r.fpsBefore = percentile(fpsBefore, 0.5);
    r.widthLow = int(percentile(widthsLow, 0.5));
    r.fpsLow = percentile(fpsLow, 0.5);
    // The delay: the last frame before the rise whose second's median was 200 ms or more.
    qint64 lastHigh = -1;
    bool any = false;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].atMs <= dropMs || frames[i].atMs > riseMs)
            continue;
        any = true;
        r.worstMedianMs = std::max(r.worstMedianMs, medians[i]);
        if (medians[i] >= 200)
            lastHigh = frames[i].atMs;
    }
    if (any)
        r.delayBackS = lastHigh < 0 ? 0 : (lastHigh - dropMs) / 1000.0;
    // The picture: the first frame after the rise at the size from before the drop, in a
    // second with at least nine tenths of the rate from before.
    for (size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].atMs <= riseMs)
            continue;
        if (frames[i].width >= r.widthBefore && rateAt(frames, i) >= 0.9 * r.fpsBefore) {
            r.pictureBackS = (frames[i].atMs - riseMs) / 1000.0;
            break;
        }
    }
    r.freezeMs = longestFreeze(frames, dropMs - 5000, -1);
    return r;
}

// The picture's quality on a line, on the textured scene: a call of this version (VP8 and
// Opus) and one in the published formats only (JPEG and GSM), one after the other on the
// same line, each side comparing every frame it draws against the frame captured.
bool compareQuality(const QString &self, QSize size, int seconds, int kbit, bool headless)
{
    qputenv(SceneVariable, "textured");
    Targets targets;
    targets.minFps = -1;
    targets.maxMedianMs = 1500;
    const QString title = QStringLiteral("link %1 kbit/s, textured scene").arg(kbit);
    qputenv(PublishedVariable, "0");
    const Outcome today = runPair(self, size, seconds, true, headless, 2000, targets, title + QStringLiteral(", VP8 and Opus"));
    qputenv(PublishedVariable, "1");
    const Outcome published =
        runPair(self, size, seconds, true, headless, 2100, targets, title + QStringLiteral(", published formats only"));
    qunsetenv(PublishedVariable);
    if (!today.ok || !published.ok || today.ssimAB < 0 || today.ssimBA < 0 || published.ssimAB < 0
        || published.ssimBA < 0) {
        std::printf("\nquality: a call drew no frame to compare\n");
        return false;
    }
    auto met = [](bool ok) { return ok ? "met" : "NOT met"; };
    std::printf("\n== picture quality on a %d kbit/s line, textured scene with sensor noise, %dx%d captured ==\n",
                kbit, size.width(), size.height());
    std::printf("%-46s %10s %10s   %s\n", "each direction", "A->B", "B->A", "target");
    std::printf("%-46s %10.4f %10.4f\n", "mean SSIM, VP8", today.ssimAB, today.ssimBA);
    std::printf("%-46s %10.4f %10.4f\n", "mean SSIM, JPEG", published.ssimAB, published.ssimBA);
    std::printf("%-46s %10.2f %10.2f\n", "frames received per second, VP8", today.fpsAB, today.fpsBA);
    std::printf("%-46s %10.2f %10.2f\n", "frames received per second, JPEG", published.fpsAB, published.fpsBA);
    const bool sharper = today.ssimAB > published.ssimAB && today.ssimBA > published.ssimBA;
    // "About twice": at least 1.8 times JPEG's rate each way.
    const double fpsRatio = std::min(today.fpsAB / std::max(0.01, published.fpsAB),
                                     today.fpsBA / std::max(0.01, published.fpsBA));
    std::printf("%-46s %10s %10s   higher  %s\n", "SSIM, VP8 against JPEG", "", "", met(sharper));
    std::printf("%-46s %10.2f %10s   about twice (>= 1.8)  %s\n", "frame rate, VP8 against JPEG (least)", fpsRatio,
                "", met(fpsRatio >= 1.8));
    std::fflush(stdout);
    return true;
}

// A call on a link that drops from `highKbit` to `lowKbit` and comes back, each side's
// frames followed as they are drawn. lowKbit 0: the link stays as it is (the loss alone).
bool linkChange(const QString &self, QSize size, int highKbit, int lowKbit, double lossPercent, bool headless)
{
    constexpr int DropAtS = 12;
    constexpr int RiseAtS = 27;
    const int seconds = lowKbit > 0 ? 45 : 30;
    PairRun run;
    run.sideArguments << QStringLiteral("--timeline");
    QElapsedTimer clock;
    qint64 dropMs = -1;
    qint64 riseMs = -1;
    const auto setRate = [&](int kbit) {
        QProcess::execute(QStringLiteral("tc"), QStringList{QStringLiteral("qdisc"), QStringLiteral("change"),
                                                            QStringLiteral("dev"), QStringLiteral("lo")}
                                                    + QStringList{QStringLiteral("root")} + bucketWords(kbit));
        return QDateTime::currentMSecsSinceEpoch();
    };
    if (lowKbit > 0) {
        run.whileRunning = [&] {
            if (!clock.isValid())
                clock.start();
            if (dropMs < 0 && clock.elapsed() >= DropAtS * 1000)
                dropMs = setRate(lowKbit);
            if (dropMs >= 0 && riseMs < 0 && clock.elapsed() >= RiseAtS * 1000)
                riseMs = setRate(highKbit);
        };
    }
    Targets targets;
    targets.minFps = -1;
    targets.maxMedianMs = lowKbit > 0 ? 1500 : 200;
    if (lowKbit <= 0 && lossPercent > 0) {
        targets.maxSoundGapMs = 60;
        targets.minSoundPlayed = 0; // lost sound is concealed; the gap says how well
    }
    const QString title = lowKbit > 0 ? QStringLiteral("link %1 -> %2 -> %1 kbit/s").arg(highKbit).arg(lowKbit)
                                      : QStringLiteral("link %1 kbit/s").arg(highKbit);
    const Outcome o = runPair(self, size, seconds, true, headless, 2000, targets,
                              title + (lossPercent > 0 ? QStringLiteral(", %1 % lost").arg(lossPercent) : QString()),
                              Answering::Encrypted, false, true, &run);
    if (!o.ok)
        return false;
    // The caller draws what the callee sent: B->A; the callee A->B.
    const std::vector<DrawnFrame> ab = timelineOf(run.calleeOut);
    const std::vector<DrawnFrame> ba = timelineOf(run.callerOut);
    auto met = [](bool ok) { return ok ? "met" : "NOT met"; };
    if (lowKbit <= 0) {
        qint64 beganAB = 0;
        qint64 beganBA = 0;
        const qint64 freezeAB = longestFreeze(ab, 0, -1, &beganAB);
        const qint64 freezeBA = longestFreeze(ba, 0, -1, &beganBA);
        std::printf("%-46s %10lld %10lld   < 500  %s\n", "longest picture freeze (ms)", freezeAB, freezeBA,
                    met(std::max(freezeAB, freezeBA) < 500));
        // A freeze in the first seconds is the start's; later ones, the line's.
        const auto secondsIn = [](const std::vector<DrawnFrame> &frames, qint64 atMs) {
            return frames.empty() ? 0.0 : (atMs - frames.front().atMs) / 1000.0;
        };
        std::printf("%-46s %10.1f %10.1f\n", "  it began (s after the first frame)", secondsIn(ab, beganAB),
                    secondsIn(ba, beganBA));
        // A freeze across a change of size is the new size's key frame, not a loss.
        const auto widthsAround = [](const std::vector<DrawnFrame> &frames, qint64 beganMs) {
            for (size_t i = 1; i < frames.size(); ++i) {
                if (frames[i - 1].atMs == beganMs)
                    return QStringLiteral("%1->%2").arg(frames[i - 1].width).arg(frames[i].width);
            }
            return QStringLiteral("-");
        };
        std::printf("%-46s %10s %10s\n", "  width before and after it", qPrintable(widthsAround(ab, beganAB)),
                    qPrintable(widthsAround(ba, beganBA)));
        std::fflush(stdout);
        return true;
    }
    if (dropMs < 0 || riseMs < 0) {
        std::printf("the call ended before the link came back; nothing to say about recovery\n");
        return false;
    }
    const LinkRecovery rab = recoveryOf(ab, dropMs, riseMs);
    const LinkRecovery rba = recoveryOf(ba, dropMs, riseMs);
    std::printf("\n== the link drops from %d to %d kbit/s %d s after the caller starts and comes back %d s later ==\n",
                highKbit, lowKbit, DropAtS, RiseAtS - DropAtS);
    std::printf("%-46s %10s %10s   %s\n", "each direction", "A->B", "B->A", "target");
    std::printf("%-46s %6dx%-3d %6dx%-3d\n", "picture before the drop (median width)", rab.widthBefore,
                rab.widthBefore * 3 / 4, rba.widthBefore, rba.widthBefore * 3 / 4);
    std::printf("%-46s %10.1f %10.1f\n", "frames a second before the drop", rab.fpsBefore, rba.fpsBefore);
    std::printf("%-46s %6dx%-3d %6dx%-3d\n", "picture on the low link (last 5 s)", rab.widthLow, rab.widthLow * 3 / 4,
                rba.widthLow, rba.widthLow * 3 / 4);
    std::printf("%-46s %10.1f %10.1f\n", "frames a second on the low link", rab.fpsLow, rba.fpsLow);
    std::printf("%-46s %10.0f %10.0f\n", "worst second's median delay on it (ms)", rab.worstMedianMs,
                rba.worstMedianMs);
    // A picture that stopped on the low link has no delay to show: that is no recovery.
    const bool delayMet = rab.delayBackS >= 0 && rba.delayBackS >= 0 && std::max(rab.delayBackS, rba.delayBackS) < 5
                          && rab.fpsLow > 0 && rba.fpsLow > 0;
    std::printf("%-46s %10.1f %10.1f   < 5  %s\n", "delay under 200 ms again after the drop (s)", rab.delayBackS,
                rba.delayBackS, met(delayMet));
    const bool pictureMet =
        rab.pictureBackS >= 0 && rba.pictureBackS >= 0 && std::max(rab.pictureBackS, rba.pictureBackS) < 10;
    std::printf("%-46s %10.1f %10.1f   < 10  %s\n", "picture back after the rise (s)", rab.pictureBackS,
                rba.pictureBackS, met(pictureMet));
    std::printf("%-46s %10lld %10lld\n", "longest picture freeze from 5 s before the drop", rab.freezeMs,
                rba.freezeMs);
    std::fflush(stdout);
    return true;
}

QSize parseSize(const QString &text)
{
    const QStringList wh = text.split(QLatin1Char('x'));
    const QSize size(wh.value(0).toInt(), wh.value(1).toInt());
    return VideoEngine::captureSizes().contains(size) ? size : QSize();
}

// Restarts this benchmark inside a fresh network namespace whose loopback is the slow link,
// with lossPercent of its packets dropped at random (nftables' numgen random, in tenths of a
// per cent) as they leave, datagrams and TCP alike.
int enterLink(int kbit, double lossPercent, const QStringList &arguments)
{
    if (geteuid() != 0) {
        std::printf("bench_call --link needs root: it makes a network namespace (unshare -n), limits its "
                    "loopback with tc and loses packets with nft. Run it as root, or without --link.\n");
        return 2;
    }
    const QString loss = lossPercent > 0
                             ? QStringLiteral("nft add table inet benchloss && nft add chain inet benchloss out "
                                              "'{ type filter hook output priority 0; }' && nft add rule inet "
                                              "benchloss out numgen random mod 1000 '<' %1 drop && ")
                                   .arg(qRound(lossPercent * 10))
                             : QString();
    const QString script = QStringLiteral("ip link set lo up && ip link set lo mtu 1500 && %1"
                                          "tc qdisc add dev lo root %2 && exec \"$0\" \"$@\"")
                               .arg(loss, bucketWords(kbit).join(QLatin1Char(' ')));
    std::vector<QByteArray> args{"unshare", "-n", "--", "/bin/sh", "-c", script.toUtf8()};
    for (const QString &a : arguments)
        args.push_back(a.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    qputenv(InsideLinkVariable, "1");
    std::fflush(stdout);
    execvp("unshare", argv.data());
    std::printf("bench_call --link: could not start unshare (util-linux); nothing was measured.\n");
    return 2;
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
    parser.addOption({QStringLiteral("size"), QStringLiteral("capture size, 320x240 or 640x480"), QStringLiteral("WxH")});
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("seconds of call per run"), QStringLiteral("n"),
                      QStringLiteral("20")});
    parser.addOption({QStringLiteral("talk"), QStringLiteral("talk latched (1) or not (0)"), QStringLiteral("0|1"),
                      QStringLiteral("0")});
    parser.addOption({QStringLiteral("link"), QStringLiteral("a slow link of KBIT kbit/s shared by both directions"),
                      QStringLiteral("KBIT")});
    parser.addOption({QStringLiteral("processing"), QStringLiteral("the microphone's processing on (1) or off (0)"),
                      QStringLiteral("0|1"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("idle"), QStringLiteral("only the figures out of a call and the start-up")});
    parser.addOption({QStringLiteral("self-view"), QStringLiteral("the idle side's self view open (1) or closed (0)"),
                      QStringLiteral("0|1"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("voice"), QStringLiteral("only the microphone processing's figures")});
    parser.addOption({QStringLiteral("headless"), QStringLiteral("the programs without their windows")});
    parser.addOption({QStringLiteral("secure"), QStringLiteral("an encrypted call beside a plain one")});
    parser.addOption({QStringLiteral("answering"), QStringLiteral("how the callee answers (one side only)"),
                      QStringLiteral("0|1|2"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("camera"), QStringLiteral("the test camera's pixels: yuv (default) or rgb"),
                      QStringLiteral("yuv|rgb"), QStringLiteral("yuv")});
    parser.addOption({QStringLiteral("drop"), QStringLiteral("with --link: the rate the link drops to for a while"),
                      QStringLiteral("KBIT")});
    parser.addOption({QStringLiteral("loss"), QStringLiteral("with --link: packets dropped at random, in per cent"),
                      QStringLiteral("PCT")});
    parser.addOption({QStringLiteral("camera-fps"), QStringLiteral("the test camera's frames a second"),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("quality"),
                      QStringLiteral("with --link: the picture's SSIM on a textured scene, VP8 against JPEG")});
    parser.addOption({QStringLiteral("timeline"), QStringLiteral("each frame drawn printed (one side only)")});
    parser.addOption({QStringLiteral("trace"),
                      QStringLiteral("with --link: each side's output, with its state every 50 ms, in PREFIX-caller.txt "
                                     "and PREFIX-callee.txt"),
                      QStringLiteral("PREFIX")});
    parser.addOption({QStringLiteral("align-camera"),
                      QStringLiteral("the test camera's clock starts on a tick (one side only)")});
    parser.process(app);
    if (parser.isSet(QStringLiteral("camera")))
        qputenv(CameraVariable, parser.value(QStringLiteral("camera")).toLatin1());
    if (parser.isSet(QStringLiteral("camera-fps")))
        qputenv(CameraRateVariable, parser.value(QStringLiteral("camera-fps")).toLatin1());
    if (parser.isSet(QStringLiteral("trace")))
        qputenv(TraceVariable, parser.value(QStringLiteral("trace")).toLocal8Bit());
    const int seconds = std::max(1, parser.value(QStringLiteral("seconds")).toInt());
    const QString sizeOption = parser.value(QStringLiteral("size"));
    const QSize onlySize = parseSize(sizeOption);
    if (!sizeOption.isEmpty() && !onlySize.isValid()) {
        std::printf("bench_call: --size takes 160x120, 320x240 or 640x480\n");
        return 2;
    }

    if (parser.value(QStringLiteral("side")) == QLatin1String("idle"))
        return runIdle(parser.value(QStringLiteral("port")).toInt(), seconds,
                       parser.value(QStringLiteral("self-view")) != QLatin1String("0"));
    if (parser.isSet(QStringLiteral("side"))) {
        return runSide(parser.value(QStringLiteral("side")), parser.value(QStringLiteral("port")).toInt(),
                       parser.value(QStringLiteral("peer-port")).toInt(), onlySize.isValid() ? onlySize : QSize(320, 240),
                       seconds, parser.value(QStringLiteral("talk")) == QLatin1String("1"),
                       parser.value(QStringLiteral("processing")) != QLatin1String("0"),
                       parser.isSet(QStringLiteral("headless")),
                       Answering(std::clamp(parser.value(QStringLiteral("answering")).toInt(), 0, 2)),
                       parser.isSet(QStringLiteral("align-camera")), parser.isSet(QStringLiteral("timeline")));
    }

    const QString self = QCoreApplication::applicationFilePath();
    const bool headless = parser.isSet(QStringLiteral("headless"));
    if (parser.isSet(QStringLiteral("idle")))
        return measureIdle(self, seconds) ? 0 : 1;
    if (parser.isSet(QStringLiteral("voice"))) {
        std::printf("bench_call: two programs with test devices in two processes, default settings; the "
                    "microphone's processing off and on\n");
        return compareProcessing(self, seconds, 2, headless, 27100, Outcome{}) ? 0 : 1;
    }
    if (parser.isSet(QStringLiteral("link"))) {
        const int kbit = parser.value(QStringLiteral("link")).toInt();
        if (kbit <= 0) {
            std::printf("bench_call: --link takes a rate in kbit/s, for example --link 512\n");
            return 2;
        }
        const double loss = std::clamp(parser.value(QStringLiteral("loss")).toDouble(), 0.0, 50.0);
        const int drop = parser.value(QStringLiteral("drop")).toInt();
        if (qEnvironmentVariableIsEmpty(InsideLinkVariable)) {
            if (!parser.isSet(QStringLiteral("camera-fps")))
                qputenv(CameraRateVariable, "30");
            return enterLink(kbit, loss, QCoreApplication::arguments());
        }
        // Without --size, the picture the targets pair with the rate: 640 x 480 from 1024 kbit/s.
        const QSize size = onlySize.isValid() ? onlySize : kbit >= 1024 ? QSize(640, 480) : QSize(320, 240);
        // What a user needs from a link of this rate for the picture to keep moving.
        Targets targets;
        targets.minFps = -1;
        targets.maxMedianMs = 1500;
        if (kbit >= 1024 && size.width() >= 640) {
            targets.minFps = 12;
            targets.maxMedianMs = 100;
        } else if (kbit >= 512 && size.width() >= 640) {
            // Today's formats on a modest line: a moving picture at a camera's rate.
            targets.minFps = 25;
            targets.minMedianWidth = 640;
            targets.maxMedianMs = 150;
            targets.maxP99Ms = 300;
        } else if (kbit >= 512) {
            targets.minFps = 12;
            targets.maxMedianMs = 80;
            targets.maxP99Ms = 150;
        } else if (kbit >= 160) {
            targets.minFps = 6;
            targets.maxMedianMs = 300;
        }
        std::printf("bench_call: a %d kbit/s link shared by both directions (tbf, burst %d bytes, queue %d ms), "
                    "two programs in two processes, defaults, talk latched on both sides\n",
                    kbit, LinkBurstBytes, LinkQueueMs);
        if (drop > 0 || loss > 0) {
            std::printf("bench_call: a %d kbit/s link%s%s; over datagrams a lost packet is repaired or concealed, "
                        "on the TLS connection TCP sends it again and it shows as delay\n",
                        kbit, drop > 0 ? qPrintable(QStringLiteral(" dropping to %1 kbit/s").arg(drop)) : "",
                        loss > 0 ? qPrintable(QStringLiteral(", %1 % of packets lost").arg(loss)) : "");
            return linkChange(self, size, kbit, drop, loss, headless) ? 0 : 1;
        }
        if (parser.isSet(QStringLiteral("quality")))
            return compareQuality(self, onlySize.isValid() ? onlySize : QSize(640, 480), seconds, kbit, headless) ? 0 : 1;
        if (parser.isSet(QStringLiteral("secure")))
            return compareSecure(self, size, seconds, targets, QStringLiteral("link %1 kbit/s").arg(kbit)) ? 0 : 1;
        const Outcome o = runPair(self, size, seconds, true, headless, 2000, targets,
                                  QStringLiteral("link %1 kbit/s").arg(kbit));
        if (!o.ok)
            return 1;
        std::printf("\nlink %d: median %.0f ms, p99 %.0f ms, sound played %.1f %%\n", kbit, o.medianMs, o.p99Ms,
                    100 * o.soundPlayed);
        return 0;
    }

    if (parser.isSet(QStringLiteral("secure"))) {
        std::printf("bench_call --secure: two programs with test devices in two processes, default settings (self "
                    "view open, data-rates window open on B); A calls B, talk latched on both sides\n");
        Targets targets;
        targets.maxCpu = 0.05;
        return compareSecure(self, onlySize.isValid() ? onlySize : QSize(320, 240), seconds, targets,
                             QStringLiteral("loopback"))
                   ? 0
                   : 1;
    }
    if (headless)
        std::printf("bench_call: two programs with test devices in two processes, without their windows; A calls B\n");
    else
        std::printf("bench_call: two programs with test devices in two processes, default settings (self view open, "
                    "data-rates window open on B), %s; A calls B\n",
                    cameraText());
    QList<QSize> sizes{QSize(320, 240), QSize(640, 480)};
    if (onlySize.isValid())
        sizes = {onlySize};
    bool ok = true;
    Outcome quiet320;
    Outcome talk320;
    int portFrom = 27100;
    for (const QSize &size : sizes) {
        for (const bool talk : {false, true}) {
            Targets targets;
            targets.maxCpu = size.width() <= 320 ? 0.02 : size.width() <= 640 ? 0.04 : -1;
            targets.maxPeakMb = size.width() <= 320 ? 45 : -1;
            // Both are ZELMO: a 640 x 480 picture goes whole, three steps lower in quality.
            targets.optionsQuality = size.width() >= 640 ? 27 : 30;
            targets.optionsWidth = size.width();
            const Outcome o = runPair(self, size, seconds, talk, headless, portFrom, targets,
                                      headless ? QStringLiteral("loopback, headless") : QStringLiteral("loopback"));
            portFrom += 40;
            ok = ok && o.ok;
            if (size.width() == 320)
                (talk ? talk320 : quiet320) = o;
        }
    }
    if (quiet320.ok || talk320.ok) {
        // The lower of the two runs at 320 x 240, with and without talk.
        const Outcome &a = quiet320.ok ? quiet320 : talk320;
        const Outcome &b = talk320.ok ? talk320 : quiet320;
        std::printf("\nframes/s received (320x240, defaults): A->B %.1f, B->A %.1f\n", std::min(a.fpsAB, b.fpsAB),
                    std::min(a.fpsBA, b.fpsBA));
    }
    if (!onlySize.isValid() || onlySize.width() == 320)
        ok = compareProcessing(self, seconds, 1, headless, portFrom, talk320) && ok;
    if (!headless)
        ok = measureIdle(self, seconds) && ok;
    return ok ? 0 : 1;
}
