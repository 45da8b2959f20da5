// How long a call between two homes takes to set up, as a person sees it: two homes
// behind routers that forward nothing (network namespaces, as the two-homes scenarios
// build them), the directory server and the relay on the internet between them, and two
// programs driven through their windows. For each kind of home the homes, the server and
// both programs are made once; then Bob calls Ann by her e-mail address several times in a
// row (Enter in the directory window, Ann takes the call, Bob hangs up). Prints each call's
// time from Bob's Enter until both are in the call, the median, least and most beside the
// target, and how long each path took to be given up after the call. With --hold, one more
// relayed call is held that long and recorded on the internet machine: what the relay
// carried per second of call, and the frames and sound each side got. With --shape, each
// home's line carries KBIT kbit/s each way (the routers' token buckets, both directions),
// and the held call is held in every kind of homes, so that a call through the routers and
// a relayed one on the same line compare.
//
//   bench_pathsetup [--calls N] [--hold SECONDS] [--shape KBIT] [--keep]
//
// Needs root (network namespaces), coturn and tcpdump, as the two-homes scenarios do.
// Exit code 0 when every call connected the expected way and every target was met.

#include "support/DirectoryProcess.h"
#include "support/HomesScene.h"
#include "support/NetworkLab.h"
#include "support/PacketCapture.h"
#include "support/TestSupport.h"
#include "support/TwoHomes.h"
#include "support/ZelmoProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int StepMs = HomesScene::StepMs;
// A path a call ran over is kept 10 s after the call so its last words get through; then
// the relay's allocations for it are released. Well past that, a path still held is a fault.
constexpr int GiveUpMs = 40000;
// Questions to a program this far apart: the set-up time is read to within a few tens of
// milliseconds, where the scenarios' 200 ms spacing would blur it.
constexpr int QuestionGapMs = 20;

struct HomeKind
{
    const char *name;
    TwoHomes::Kind ann;
    TwoHomes::Kind bob;
    QString way;
    double targetMs;
};

struct CallResult
{
    bool connected = false;
    qint64 setUpMs = 0;
    QString way;
    // From the hang-up until the relay had released every allocation; -1 when it never did.
    qint64 givenUpMs = -1;
    QString failure;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// One kind of homes with the relay, the server and both programs, made once for all calls.
class Homes
{
public:
    Homes(const HomeKind &kind, const QString &folder, const QString &binDir)
        : m_kind(kind)
        , m_scene(folder, binDir, QStringLiteral("pathbench"))
    {
    }

    bool start(QString *why) { return m_scene.start(m_kind.ann, m_kind.bob, why); }

    // Each home's line carries `kbit` kbit/s each way: the router's bucket on its way out to
    // the internet and on its way in to the home.
    bool shape(int kbit, QString *why)
    {
        for (TwoHomes::Machine router : {TwoHomes::RouterA, TwoHomes::RouterB}) {
            for (const char *device : {"outside", "inside"}) {
                QString output;
                if (!m_scene.homes().run(router,
                                         {QStringLiteral("tc"), QStringLiteral("qdisc"), QStringLiteral("replace"),
                                          QStringLiteral("dev"), QString::fromLatin1(device), QStringLiteral("root"),
                                          QStringLiteral("tbf"), QStringLiteral("rate"), QStringLiteral("%1kbit").arg(kbit),
                                          QStringLiteral("burst"), QStringLiteral("3000"), QStringLiteral("latency"),
                                          QStringLiteral("200ms")},
                                         &output)) {
                    *why = QStringLiteral("tc on %1 %2: %3").arg(m_scene.homes().name(router), QString::fromLatin1(device), output);
                    return false;
                }
            }
        }
        return true;
    }

    // One call: Bob presses Enter on Ann's address, she takes it, both are in the call,
    // Bob hangs up; then what the next call waits for (see waitUntilGivenUp).
    CallResult call()
    {
        CallResult r = connect();
        if (!r.connected)
            return r;
        QString why;
        if (!m_scene.hangUp(&why, QuestionGapMs)) {
            r.failure = why;
            return r;
        }
        r.givenUpMs = waitUntilGivenUp();
        return r;
    }

    // Bob presses Enter on Ann's address and she takes the call: both are in it, and say
    // which way it took.
    CallResult connect()
    {
        CallResult r;
        if (!m_scene.call(&r.setUpMs, &r.failure, QuestionGapMs)) {
            hangUpIfNeeded();
            return r;
        }
        QString annWay;
        QString bobWay;
        const auto named = [](const QString &t) { return !t.isEmpty(); };
        m_ann.askUntil(QStringLiteral("text frmMain lblCallWay"), named, StepMs, &annWay, QuestionGapMs);
        m_bob.askUntil(QStringLiteral("text frmMain lblCallWay"), named, StepMs, &bobWay, QuestionGapMs);
        r.way = annWay == bobWay ? annWay : QStringLiteral("Ann: %1, Bob: %2").arg(annWay, bobWay);
        r.connected = true;
        if (r.way != m_kind.way)
            r.failure = QStringLiteral("the call went \"%1\", not \"%2\"").arg(r.way, m_kind.way);
        return r;
    }

    // One more call held `seconds` while the internet machine records: what went to and
    // came from the relay, and the frames and sound each side got meanwhile.
    bool holdCall(int seconds)
    {
        const CallResult r = connect();
        if (!r.connected || !r.failure.isEmpty()) {
            std::printf("the held call did not connect: %s\n", qPrintable(r.failure));
            return false;
        }
        // Both hold their talk button down for the whole call, so sound goes both ways.
        for (ZelmoProcess *peer : {&m_ann, &m_bob})
            peer->ask(QStringLiteral("press frmMain cmdtoolbar4"));
        const qint64 annFrames = m_ann.counter(QStringLiteral("framesDrawn"));
        const qint64 bobFrames = m_bob.counter(QStringLiteral("framesDrawn"));
        const qint64 annSamples = m_ann.counter(QStringLiteral("speakerSamples"));
        const qint64 bobSamples = m_bob.counter(QStringLiteral("speakerSamples"));
        PacketCapture capture;
        QString why;
        const QString file = QDir(m_scene.folder()).filePath(QStringLiteral("held-call.pcap"));
        if (!capture.start(m_scene.homes().on(TwoHomes::Internet), QStringLiteral("ip and (udp or tcp)"), file, &why)) {
            std::printf("no recording of the held call: %s\n", qPrintable(why));
            QString ignored;
            m_scene.hangUp(&ignored, QuestionGapMs);
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        QThread::msleep(ulong(seconds) * 1000); // the call runs on in the programs; this is its length
        capture.stop();
        const double heldS = double(clock.elapsed()) / 1000;
        const double annFps = double(m_ann.counter(QStringLiteral("framesDrawn")) - annFrames) / heldS;
        const double bobFps = double(m_bob.counter(QStringLiteral("framesDrawn")) - bobFrames) / heldS;
        const double annSound = double(m_ann.counter(QStringLiteral("speakerSamples")) - annSamples) / heldS;
        const double bobSound = double(m_bob.counter(QStringLiteral("speakerSamples")) - bobSamples) / heldS;
        for (ZelmoProcess *peer : {&m_ann, &m_bob})
            peer->ask(QStringLiteral("release frmMain cmdtoolbar4"));
        QString ignored;
        m_scene.hangUp(&ignored, QuestionGapMs);
        waitUntilGivenUp();

        QList<PacketCapture::Flow> flows;
        if (!capture.flows(&flows, &why)) {
            std::printf("the recording of the held call cannot be read: %s\n", qPrintable(why));
            return false;
        }
        // "proto A:port > B:port": to the relay where B is its port, from it where A is.
        const QRegularExpression ends(QStringLiteral("^\\S+ ([\\d.]+):(\\d+) > ([\\d.]+):(\\d+)$"));
        const auto relayPort = [](int port) {
            return port == TurnRelay::Port || (port >= TurnRelay::FirstRelayPort && port <= TurnRelay::LastRelayPort);
        };
        qint64 toRelay = 0;
        qint64 fromRelay = 0;
        for (const PacketCapture::Flow &flow : std::as_const(flows)) {
            const QRegularExpressionMatch m = ends.match(flow.key);
            if (!m.hasMatch())
                continue;
            if (m.captured(3) == TwoHomes::InternetAddress && relayPort(m.captured(4).toInt()))
                toRelay += flow.payload.size();
            else if (m.captured(1) == TwoHomes::InternetAddress && relayPort(m.captured(2).toInt()))
                fromRelay += flow.payload.size();
        }
        std::printf("\n== a call %s (%s) held %.1f s, recorded on the internet machine ==\n", qPrintable(r.way),
                    m_kind.name, heldS);
        std::printf("%-44s %12.0f  (%.0f kbit/s)\n", "bytes a second into the relay (both homes)", toRelay / heldS,
                    8 * toRelay / heldS / 1000);
        std::printf("%-44s %12.0f  (%.0f kbit/s)\n", "bytes a second out of the relay (both homes)", fromRelay / heldS,
                    8 * fromRelay / heldS / 1000);
        std::printf("%-44s %12.1f\n", "frames drawn a second, Ann", annFps);
        std::printf("%-44s %12.1f\n", "frames drawn a second, Bob", bobFps);
        std::printf("%-44s %12.0f\n", "sound samples played a second, Ann", annSound);
        std::printf("%-44s %12.0f\n", "sound samples played a second, Bob", bobSound);
        std::fflush(stdout);
        return m_kind.way != QLatin1String("relayed") || (toRelay > 0 && fromRelay > 0);
    }

    // Quits both programs (they write their logs when they end) and returns their logs'
    // last lines, for a finding's report.
    QString quitAndReadLogs(int lastLines) { return m_scene.quitAndReadLogs(lastLines); }

    TurnRelay::Usage relayUsage() { return m_scene.homes().relay().usage(); }
    // The relay's allocations that its log shows made and not yet closed, by session.
    QSet<QString> openAllocations()
    {
        static const QRegularExpression session(QStringLiteral("session (\\d+): (new,|closed)"));
        QSet<QString> open;
        for (const QString &line : DirectoryProcess::fileLines(m_scene.homes().relay().logFile())) {
            const QRegularExpressionMatch m = session.match(line);
            if (!m.hasMatch())
                continue;
            if (m.captured(2) == QLatin1String("new,"))
                open.insert(m.captured(1));
            else
                open.remove(m.captured(1));
        }
        return open;
    }
    bool running() const { return m_ann.isRunning() && m_bob.isRunning(); }
    QString folder() const { return m_scene.folder(); }

private:
    void hangUpIfNeeded()
    {
        QString answer;
        if (m_bob.ask(QStringLiteral("text frmMain lblcmd0"), &answer) && answer == QLatin1String("HangUp"))
            m_scene.hangUp(&answer, QuestionGapMs);
        else if (m_ann.ask(QStringLiteral("text frmMain lblcmd0"), &answer) && answer == QLatin1String("HangUp"))
            m_ann.ask(QStringLiteral("click frmMain cmdtoolbar0"));
    }

    // What the next call waits for: both windows out of the call (no way shown beside the
    // lock), and the path of this one given up, which the relay shows as every allocation
    // it made closed. Milliseconds from now until the relay said so; -1 when it did not.
    qint64 waitUntilGivenUp()
    {
        QElapsedTimer clock;
        clock.start();
        for (ZelmoProcess *peer : {&m_ann, &m_bob}) {
            // Out of a call the way is not shown at all.
            QString answer;
            const QDeadlineTimer deadline(StepMs);
            while (!deadline.hasExpired() && peer->isRunning()
                   && (peer->ask(QStringLiteral("text frmMain lblCallWay"), &answer) || !answer.endsWith(QLatin1String("is not shown"))))
                QThread::msleep(QuestionGapMs);
        }
        for (;;) {
            if (openAllocations().isEmpty())
                return clock.elapsed();
            if (clock.hasExpired(GiveUpMs))
                return -1;
            QThread::msleep(100);
        }
    }

    HomeKind m_kind;
    HomesScene m_scene;
    ZelmoProcess &m_ann = m_scene.ann;
    ZelmoProcess &m_bob = m_scene.bob;
};

// Places the calls in one kind of homes and prints them; whether the target was met.
bool measure(const HomeKind &kind, int calls, int holdSeconds, int shapeKbit, const QString &folder, const QString &binDir)
{
    std::printf("\n== %s (%s): %d calls in a row ==\n", kind.name, qPrintable(kind.way), calls);
    std::fflush(stdout);
    Homes homes(kind, folder, binDir);
    QString why;
    if (!homes.start(&why) || (shapeKbit > 0 && !homes.shape(shapeKbit, &why))) {
        std::printf("the homes could not be set up: %s\n", qPrintable(why));
        return false;
    }
    if (shapeKbit > 0)
        std::printf("each home's line carries %d kbit/s each way\n", shapeKbit);
    std::vector<double> times;
    std::vector<double> givenUp;
    int faults = 0;
    for (int i = 1; i <= calls; ++i) {
        const CallResult r = homes.call();
        const TurnRelay::Usage usage = homes.relayUsage();
        if (r.connected) {
            times.push_back(double(r.setUpMs));
            std::printf("call %2d: %6lld ms  %-20s", i, r.setUpMs, qPrintable(r.way));
        } else {
            std::printf("call %2d: did not connect", i);
        }
        if (r.givenUpMs >= 0) {
            givenUp.push_back(double(r.givenUpMs));
            std::printf("  path given up %.1f s after the call", double(r.givenUpMs) / 1000);
        }
        const int open = int(homes.openAllocations().size());
        std::printf("  (relay: %d allocations, %d open)\n", usage.allocations, open);
        if (!r.failure.isEmpty() || (r.connected && r.givenUpMs < 0)) {
            ++faults;
            std::printf("         FAULT: %s\n", qPrintable(r.failure.isEmpty()
                                                             ? QStringLiteral("the relay still held %1 of %2 allocations "
                                                                              "%3 s after the call")
                                                                   .arg(open)
                                                                   .arg(usage.allocations)
                                                                   .arg(GiveUpMs / 1000)
                                                             : r.failure));
        }
        std::fflush(stdout);
        if (!homes.running()) {
            std::printf("         a program ended: no more calls\n");
            break;
        }
    }
    bool held = true;
    if (holdSeconds > 0 && (shapeKbit > 0 || kind.way == QLatin1String("relayed")))
        held = homes.holdCall(holdSeconds);

    const double med = median(times);
    const bool all = int(times.size()) == calls && faults == 0;
    const bool met = all && med < kind.targetMs;
    std::printf("\n%-16s %-20s %7s %8s %8s %8s   %s\n", "homes", "way", "calls", "median", "min", "max", "target (ms)");
    std::printf("%-16s %-20s %3zu/%-3d %8.0f %8.0f %8.0f   median < %.0f  %s\n", kind.name, qPrintable(kind.way),
                times.size(), calls, med, times.empty() ? 0 : *std::min_element(times.begin(), times.end()),
                times.empty() ? 0 : *std::max_element(times.begin(), times.end()), kind.targetMs,
                met ? "met" : (all ? "NOT met" : "NOT met (calls failed)"));
    if (!givenUp.empty())
        std::printf("%-16s paths given up after the call: median %.1f s, most %.1f s\n", "", median(givenUp) / 1000,
                    *std::max_element(givenUp.begin(), givenUp.end()) / 1000);
    if (faults > 0 || !held)
        std::printf("%s", qPrintable(homes.quitAndReadLogs(25)));
    std::fflush(stdout);
    return met && held;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("How long a call between two homes takes to set up."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("calls"), QStringLiteral("calls in a row per kind of homes"), QStringLiteral("n"),
                      QStringLiteral("10")});
    parser.addOption({QStringLiteral("hold"), QStringLiteral("seconds to hold one more relayed call (0: none)"),
                      QStringLiteral("s"), QStringLiteral("10")});
    parser.addOption({QStringLiteral("shape"), QStringLiteral("each home's line carries KBIT kbit/s each way (0: unshaped)"),
                      QStringLiteral("KBIT"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("keep"), QStringLiteral("keep the logs, profiles and recordings")});
    parser.process(app);
    const int calls = std::max(1, parser.value(QStringLiteral("calls")).toInt());
    const int hold = std::max(0, parser.value(QStringLiteral("hold")).toInt());
    const int shape = std::max(0, parser.value(QStringLiteral("shape")).toInt());

    if (const QString obstacle = NetworkLab::obstacle(); !obstacle.isEmpty()) {
        std::printf("bench_pathsetup: no network namespaces to make homes of (%s); nothing was measured.\n",
                    qPrintable(obstacle));
        return 2;
    }
    if (TurnRelay::program().isEmpty()) {
        std::printf("bench_pathsetup: coturn's turnserver is not installed; nothing was measured.\n");
        return 2;
    }
    QTemporaryDir work;
    TestSupport::useOwnRuntimeFolder(work.path());
    const QString binDir = QCoreApplication::applicationDirPath() + QStringLiteral("/..");

    const HomeKind kinds[] = {
        {"cone-cone", TwoHomes::Kind::Cone, TwoHomes::Kind::Cone, QStringLiteral("through the routers"), 3000},
        // The symmetric router sends from a new port to every destination: only the relay serves.
        {"cone-symmetric", TwoHomes::Kind::Cone, TwoHomes::Kind::Symmetric, QStringLiteral("relayed"), 5000},
    };
    std::printf("Call set-up between two homes: from Bob's Enter until both are in the call\n");
    bool met = true;
    for (const HomeKind &kind : kinds)
        met = measure(kind, calls, hold, shape, QDir(work.path()).filePath(QString::fromLatin1(kind.name)), binDir) && met;
    if (parser.isSet(QStringLiteral("keep")) || !met) {
        work.setAutoRemove(false);
        std::printf("\nlogs, profiles and recordings kept in %s\n", qPrintable(work.path()));
    }
    return met ? 0 : 1;
}
