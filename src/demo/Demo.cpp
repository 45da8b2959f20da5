#include "Demo.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <tuple>

namespace {

// Bounds for what a loaded two-core machine may take; the demo moves on as soon as a
// step is seen to have happened.
constexpr int StartMs = 30000;
constexpr int StepMs = 20000;
constexpr int TalkHoldMs = 2500;
// Enough to tell a stream from a stray frame: about two seconds of test-pattern video.
constexpr qint64 WantedFrames = 20;
// A speaker that got this many 80 ms blocks played most of a 2.5 s turn of talk.
constexpr qint64 WantedSoundBlocks = 15;

const QString AnnName = QStringLiteral("Ann Demo");
const QString BobName = QStringLiteral("Bob Demo");
const QString AnnWelcome = QStringLiteral("Hello from Ann");
const QString BobWelcome = QStringLiteral("Hello from Bob");
const QString AnnLine = QStringLiteral("Hi Bob, I can see your test pattern.");
const QString BobLine = QStringLiteral("Hi Ann, and I heard you talk.");
const QString AnnNote = QStringLiteral("Ann here: call me back after lunch.");
const QString BobNote = QStringLiteral("Bob here: I will, talk to you at two.");

void print(const QString &text)
{
    std::fprintf(stdout, "%s\n", qPrintable(text));
    std::fflush(stdout);
}

bool portFree(int port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::Any, quint16(port));
}

// Incoming video, not an empty or frozen field: two grabs taken frames apart differ, and no
// one colour covers nearly all of it. A count of colours alone cannot tell a small, cleanly
// coded test pattern from the empty view's gradient; motion can.
bool looksLikeVideo(const QString &first, const QString &second, QString *why)
{
    const QImage a(first);
    const QImage b(second);
    if (a.isNull() || b.isNull() || a.size() != b.size()) {
        *why = QStringLiteral("no picture");
        return false;
    }
    QHash<QRgb, int> counts;
    int samples = 0;
    int changed = 0;
    for (int y = 0; y < a.height(); y += 4) {
        for (int x = 0; x < a.width(); x += 4) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            ++counts[p & 0xF0F0F0];
            ++samples;
            // Coding noise moves a channel a little; motion moves it a lot.
            if (std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) > 48)
                ++changed;
        }
    }
    int largest = 0;
    for (int n : counts)
        largest = qMax(largest, n);
    samples = qMax(1, samples);
    *why = QStringLiteral("%1 in 1000 points moved between two grabs; the commonest colour on %2%")
               .arg(1000 * changed / samples)
               .arg(100 * largest / samples);
    return changed * 200 >= samples && largest < samples * 9 / 10;
}

} // namespace

Demo::Demo(Options options)
    : m_options(std::move(options))
{
}

Demo::~Demo() = default;

Demo::Step &Demo::step(const QString &title)
{
    m_steps.push_back(Step{title, Outcome::NotReached, {}});
    return m_steps.back();
}

bool Demo::pass(Step &s, const QString &detail)
{
    s.outcome = Outcome::Passed;
    if (!detail.isEmpty())
        s.details << detail;
    return true;
}

bool Demo::fail(Step &s, const QString &detail)
{
    s.outcome = Outcome::Failed;
    s.details << detail;
    return false;
}

void Demo::writeProfile(const QString &folder, const QString &name, const QString &email, const QString &location,
                        const QString &directoryHost, const QString &welcome, int left)
{
    // The settings a user would have typed into the Options dialog on a first run.
    QDir().mkpath(folder);
    QSaveFile file(folder + QStringLiteral("/zelmo.ini"));
    file.open(QIODevice::WriteOnly);
    QTextStream out(&file);
    out << "[Personal]\r\nName=" << name << "\r\nEMail=" << email << "\r\nLocation=" << location
        << "\r\nComment=trying ZELMO\r\nDirAddress=" << directoryHost << "\r\nDirPort=" << m_directoryPort << "\r\n"
        << "[Calling]\r\nAutoAccept=False\r\nSendWelcome=True\r\nWelcomeMsg=" << welcome << "\r\n"
        << "[Windows]\r\nSaveWinPos=True\r\nWinPosLeft=" << left * 15 << "\r\nWinPosTop=600\r\n";
    out.flush();
    file.commit();
}

bool Demo::setUp(QString *error)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        *error = QStringLiteral("there is no display: run scripts/demo.sh, which starts a virtual one");
        return false;
    }
    for (const char *exe : {"zelmo", "zelmo-directory"}) {
        if (!QFile::exists(m_options.binDir + QLatin1Char('/') + QLatin1String(exe))) {
            *error = QStringLiteral("%1/%2 is not built").arg(m_options.binDir, QLatin1String(exe));
            return false;
        }
    }
    m_work = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/zelmo-demo-XXXXXX"));
    m_work->setAutoRemove(!m_options.keepProfiles);
    if (!m_work->isValid() || !QDir().mkpath(m_options.outDir)) {
        *error = QStringLiteral("cannot make the demo's folders");
        return false;
    }
    // Without a runtime folder every program would complain about it on standard error.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = m_work->filePath(QStringLiteral("runtime"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
    }
    // Screenshots and logs of an earlier run would read as this run's.
    QDir out(m_options.outDir);
    for (const QString &old : out.entryList({QStringLiteral("*.png"), QStringLiteral("*.log")}, QDir::Files))
        out.remove(old);

    if (m_options.twoMachines) {
        m_machines = std::make_unique<TwoMachines>(QStringLiteral("demo"));
        QString why;
        if (!m_machines->create(&why)) {
            *error = QStringLiteral("cannot make the two machines: ") + why;
            return false;
        }
    }
    QList<int> ports;
    if (m_machines) {
        // Fresh machines: every port is free, and each program has its default.
    } else if (m_options.portBase > 0) {
        m_directoryPort = m_options.portBase;
        m_palPort = m_options.portBase + 5;
        m_annPort = m_options.portBase + 20;
        m_bobPort = m_options.portBase + 40;
        ports = {m_directoryPort, m_palPort};
        for (int i = 0; i < 4; ++i)
            ports << m_annPort + i << m_bobPort + i;
    } else {
        // Both programs on their default port: the second moves on to 2004, as on any
        // machine where two run.
        ports = {m_directoryPort, m_palPort};
        for (int i = 0; i < 8; ++i)
            ports << 2000 + i;
    }
    for (int port : std::as_const(ports)) {
        if (!portFree(port)) {
            *error = QStringLiteral("port %1 is in use (another ZELMO or directory server?); give the demo "
                                    "--port-base with a free block of 50 ports")
                         .arg(port);
            return false;
        }
    }
    m_annProfile = m_work->filePath(QStringLiteral("ann"));
    m_bobProfile = m_work->filePath(QStringLiteral("bob"));
    // Ann is on the directory server's machine, so it is "localhost" to her, as to anyone
    // who runs it with scripts/run.sh; Bob names that machine when there are two.
    const QString bobsDirectory = m_machines ? TwoMachines::address(TwoMachines::A) : QStringLiteral("localhost");
    writeProfile(m_annProfile, AnnName, QStringLiteral("ann@demo.example"), QStringLiteral("Oslo"),
                 QStringLiteral("localhost"), AnnWelcome, 40);
    writeProfile(m_bobProfile, BobName, QStringLiteral("bob@demo.example"), QStringLiteral("Lima"), bobsDirectory,
                 BobWelcome, 640);
    return true;
}

QStringList Demo::command(TwoMachines::Machine machine, const QString &program, const QStringList &arguments) const
{
    const QString path = m_options.binDir + QLatin1Char('/') + program;
    return m_machines ? m_machines->command(machine, path, arguments) : QStringList{path} + arguments;
}

bool Demo::startDirectory(Step &s)
{
    QStringList arguments{QStringLiteral("--directory-port"), QString::number(m_directoryPort),
                          QStringLiteral("--pal-port"), QString::number(m_palPort), QStringLiteral("--data"),
                          m_work->filePath(QStringLiteral("directory")), QStringLiteral("--notice"),
                          QStringLiteral("Welcome to the ZELMO demo")};
    // On one machine it stays out of the network's reach; on two, Bob must reach it.
    if (!m_machines)
        arguments << QStringLiteral("--listen") << QStringLiteral("127.0.0.1");
    arguments << startRelay(s);
    QString why;
    const QString log = m_options.outDir + QStringLiteral("/directory.log");
    if (!m_directory.start(command(TwoMachines::A, QStringLiteral("zelmo-directory"), arguments), log, StartMs, &why))
        return fail(s, why);
    s.details << m_directory.log().value(0);
    return true;
}

QStringList Demo::startRelay(Step &s)
{
    const QString turnserver = QStandardPaths::findExecutable(QStringLiteral("turnserver"));
    if (turnserver.isEmpty()) {
        s.details << QStringLiteral("no relay: turnserver is not installed (Debian package coturn)");
        return {};
    }
    // Its own port on a block of the demo's, else the relay's usual one; the range it
    // relays through is coturn's own.
    const int port = m_options.portBase > 0 && !m_machines ? m_options.portBase + 10 : 3478;
    if (!m_machines && !portFree(port)) {
        s.details << QStringLiteral("no relay: port %1 is in use (another relay?)").arg(port);
        return {};
    }
    const QString data = m_work->filePath(QStringLiteral("directory"));
    const QString script = QStringLiteral(ZELMO_SOURCE_DIR "/packaging/zelmo-relay");
    const QStringList arguments{data, m_machines ? QString() : QStringLiteral("127.0.0.1"), QString::number(port)};
    QString why;
    const QStringList line = m_machines ? m_machines->command(TwoMachines::A, script, arguments)
                                        : QStringList{script} + arguments;
    if (!m_relay.start(line, m_options.outDir + QStringLiteral("/relay.log"), StartMs, &why,
                       QStringLiteral("listener opened on"))) {
        s.details << QStringLiteral("no relay: ") + why.left(300);
        // One that came up in part is not left behind.
        if (m_relay.isRunning())
            m_relay.stop(StepMs);
        return {};
    }
    s.details << QStringLiteral("the relay (turnserver, by zelmo-relay) listens on port %1, sharing a secret with "
                                "zelmo-directory")
                     .arg(port);
    return {QStringLiteral("--relay"), QStringLiteral("0.0.0.0:%1").arg(port), QStringLiteral("--relay-secret-file"),
            data + QStringLiteral("/relay.secret")};
}

bool Demo::startPeer(ZelmoProcess &peer, TwoMachines::Machine machine, const QString &profile, int port, Step &s)
{
    QStringList arguments{QStringLiteral("--profile"), profile, QStringLiteral("--test-devices"),
                          QStringLiteral("--test-hook")};
    if (port > 0)
        arguments << QStringLiteral("--port") << QString::number(port);
    QString error;
    const QString errors = m_options.outDir + QLatin1Char('/') + peer.name().toLower() + QStringLiteral("-stderr.log");
    if (!peer.start(command(machine, QStringLiteral("zelmo"), arguments), errors, &error))
        return fail(s, error);
    // The main window shows at the end of the start-up, about five seconds in.
    QString windows;
    if (!peer.waitForMainWindow(StartMs, &windows))
        return fail(s, QStringLiteral("%1's main window did not show (%2)").arg(peer.name(), windows));
    const QString where = m_machines ? QStringLiteral(" on machine %1 (%2)")
                                           .arg(machine == TwoMachines::A ? QLatin1Char('A') : QLatin1Char('B'))
                                           .arg(TwoMachines::address(machine))
                                     : QString();
    s.details << QStringLiteral("%1: zelmo --profile %2 --test-devices%3%4 shows %5")
                     .arg(peer.name(), profile, port > 0 ? QStringLiteral(" --port %1").arg(port) : QString(), where,
                          windows);
    return true;
}

bool Demo::screenshot(ZelmoProcess &peer, const QString &window, const QString &file, Step &s)
{
    const QString path = m_options.outDir + QLatin1Char('/') + file;
    QString answer;
    if (!peer.ask(QStringLiteral("grab %1 - %2").arg(window, path), &answer)) {
        s.details << QStringLiteral("no screenshot of %1's %2: %3").arg(peer.name(), window, answer);
        return false;
    }
    m_screenshots << file;
    return true;
}

bool Demo::listed(Step &s)
{
    QString rows;
    // Bob opens his directory, which logs him in, then Ann opens hers.
    if (!m_bob.ask(QStringLiteral("click frmMain cmdtoolbar1"), &rows))
        return fail(s, QStringLiteral("Bob cannot open the directory: ") + rows);
    const auto lists = [](const QStringList &names) {
        return [names](const QString &text) {
            for (const QString &n : names) {
                if (!text.contains(n))
                    return false;
            }
            return true;
        };
    };
    if (!m_bob.askUntil(QStringLiteral("text frmDirectory lstGlobal"), lists({BobName}), StepMs, &rows))
        return fail(s, QStringLiteral("Bob's directory does not list him: \"%1\"").arg(rows));
    if (!m_ann.ask(QStringLiteral("click frmMain cmdtoolbar1"), &rows))
        return fail(s, QStringLiteral("Ann cannot open the directory: ") + rows);
    if (!m_ann.askUntil(QStringLiteral("text frmDirectory lstGlobal"), lists({AnnName, BobName}), StepMs, &rows)) {
        // A person whose list is not there yet presses Refresh.
        m_ann.ask(QStringLiteral("click frmDirectory cmdRefresh"));
        if (!m_ann.askUntil(QStringLiteral("text frmDirectory lstGlobal"), lists({AnnName, BobName}), StepMs, &rows))
            return fail(s, QStringLiteral("Ann's directory does not list both: \"%1\"").arg(rows));
    }
    QString counts;
    m_ann.ask(QStringLiteral("text frmDirectory barStatusPanel3"), &counts);
    // Bob's list came before Ann logged in: he presses Refresh to see her.
    QString bobsRows;
    m_bob.ask(QStringLiteral("click frmDirectory cmdRefresh"));
    if (!m_bob.askUntil(QStringLiteral("text frmDirectory lstGlobal"), lists({AnnName, BobName}), StepMs, &bobsRows))
        return fail(s, QStringLiteral("Bob's directory does not list both after Refresh: \"%1\"").arg(bobsRows));
    // Pointing at a name shows where the server says that user is.
    QString bobAt;
    QString annAt;
    m_ann.ask(QStringLiteral("tip frmDirectory lstGlobal ") + BobName, &bobAt);
    m_bob.ask(QStringLiteral("tip frmDirectory lstGlobal ") + AnnName, &annAt);
    s.details << QStringLiteral("Ann's list has Bob at %1; Bob's list has Ann at %2").arg(bobAt, annAt);
    if (m_machines && (!bobAt.startsWith(TwoMachines::address(TwoMachines::B) + QLatin1Char(':'))
                       || !annAt.startsWith(TwoMachines::address(TwoMachines::A) + QLatin1Char(':'))))
        return fail(s, QStringLiteral("the lists do not give the machines' addresses"));
    screenshot(m_ann, QStringLiteral("frmDirectory"), QStringLiteral("1-directory.png"), s);
    return pass(s, QStringLiteral("Ann's directory window: %1; %2").arg(rows.replace(QLatin1Char('\n'), QStringLiteral(" | ")).replace(QLatin1Char('\t'), QStringLiteral(", ")), counts));
}

bool Demo::call(Step &s)
{
    QString answer;
    if (!m_ann.ask(QStringLiteral("activate frmDirectory lstGlobal ") + BobName, &answer))
        return fail(s, QStringLiteral("Ann cannot double-click Bob: ") + answer);
    s.details << QStringLiteral("Ann double-clicked \"%1\" in her directory").arg(BobName);
    if (!m_bob.askUntil(QStringLiteral("text frmCallIn pnlUserName"), [](const QString &t) { return !t.isEmpty(); },
                        StepMs, &answer))
        return fail(s, QStringLiteral("Bob was not offered the call: ") + answer);
    QString where;
    m_bob.ask(QStringLiteral("text frmCallIn pnlUserLocation"), &where);
    s.details << QStringLiteral("Bob's prompt: call from %1, %2").arg(answer, where);
    screenshot(m_ann, QStringLiteral("frmConStatus"), QStringLiteral("2-ann-calling.png"), s);
    screenshot(m_bob, QStringLiteral("frmCallIn"), QStringLiteral("3-bob-incoming-call.png"), s);
    if (!m_bob.ask(QStringLiteral("click frmCallIn cmdCallYes"), &answer))
        return fail(s, QStringLiteral("Bob cannot answer: ") + answer);
    s.details << QStringLiteral("Bob clicked Yes");
    const auto hangUpShown = [](const QString &caption) { return caption == QLatin1String("HangUp"); };
    QString annCaption;
    QString bobCaption;
    const bool ann = m_ann.askUntil(QStringLiteral("text frmMain lblcmd0"), hangUpShown, StepMs, &annCaption);
    const bool bob = m_bob.askUntil(QStringLiteral("text frmMain lblcmd0"), hangUpShown, StepMs, &bobCaption);
    if (!ann || !bob)
        return fail(s, QStringLiteral("not in a call: Ann's first button reads \"%1\", Bob's \"%2\"").arg(annCaption, bobCaption));
    return pass(s, QStringLiteral("both main windows show \"HangUp\""));
}

bool Demo::encrypted(Step &s)
{
    // Both main windows show the closed lock and the short code; the two users read the
    // words to each other, and Bob, hearing the same ones, marks Ann as verified.
    const auto words = [](const QString &t) { return t.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() >= 4; };
    QString annCode;
    QString bobCode;
    if (!m_ann.askUntil(QStringLiteral("text frmMain lblShortCode"), words, StepMs, &annCode)
        || !m_bob.askUntil(QStringLiteral("text frmMain lblShortCode"), words, StepMs, &bobCode))
        return fail(s, QStringLiteral("no short code: Ann's window shows \"%1\", Bob's \"%2\"").arg(annCode, bobCode));
    if (annCode != bobCode)
        return fail(s, QStringLiteral("the codes differ: Ann reads \"%1\", Bob \"%2\"").arg(annCode, bobCode));
    s.details << QStringLiteral("both main windows show the closed lock and \"%1\"").arg(annCode);
    QString answer;
    if (!m_bob.ask(QStringLiteral("click frmMain cmdVerified"), &answer))
        return fail(s, QStringLiteral("Bob cannot mark Ann as verified: ") + answer);
    const auto verified = [](const QString &t) { return t.endsWith(QLatin1String("(verified)")); };
    if (!m_bob.askUntil(QStringLiteral("text frmMain lblShortCode"), verified, StepMs, &bobCode))
        return fail(s, QStringLiteral("Bob's window does not say verified: \"%1\"").arg(bobCode));
    return pass(s, QStringLiteral("Bob marked Ann as verified: \"%1\"").arg(bobCode));
}

bool Demo::video(Step &s)
{
    // Each side counts the frames it received and drew; the other side sent them.
    const qint64 ann = m_ann.counterUntil(QStringLiteral("framesDrawn"), WantedFrames, StepMs * 2);
    const qint64 bob = m_bob.counterUntil(QStringLiteral("framesDrawn"), WantedFrames, StepMs * 2);
    s.details << QStringLiteral("Ann drew %1 frames from Bob, Bob drew %2 frames from Ann").arg(ann).arg(bob);
    screenshot(m_ann, QStringLiteral("frmMain"), QStringLiteral("4-ann-main.png"), s);
    screenshot(m_bob, QStringLiteral("frmMain"), QStringLiteral("5-bob-main.png"), s);
    bool ok = ann >= WantedFrames && bob >= WantedFrames;
    if (!ok)
        s.details << QStringLiteral("wanted at least %1 each way").arg(WantedFrames);
    for (ZelmoProcess *peer : {&m_ann, &m_bob}) {
        const QString first = m_work->filePath(peer->name() + QStringLiteral("-video-1.png"));
        const QString second = m_work->filePath(peer->name() + QStringLiteral("-video-2.png"));
        QString why;
        const qint64 drawn = peer->counter(QStringLiteral("framesDrawn"));
        bool grabbed = peer->ask(QStringLiteral("grab frmMain imgVidIn %1").arg(first), &why);
        if (grabbed && peer->counterUntil(QStringLiteral("framesDrawn"), drawn + 5, StepMs) < drawn + 5) {
            why = QStringLiteral("no new frames drawn");
            grabbed = false;
        }
        grabbed = grabbed && peer->ask(QStringLiteral("grab frmMain imgVidIn %1").arg(second), &why);
        if (!grabbed || !looksLikeVideo(first, second, &why)) {
            s.details << QStringLiteral("%1's incoming video area shows no picture (%2)").arg(peer->name(), why);
            ok = false;
        } else {
            s.details << QStringLiteral("%1's incoming video area shows a picture (%2)").arg(peer->name(), why);
        }
    }
    return ok ? pass(s) : fail(s, QStringLiteral("video did not flow both ways"));
}

bool Demo::talk(ZelmoProcess &talker, ZelmoProcess &listener, Step &s)
{
    const qint64 before = listener.counter(QStringLiteral("speakerBlocks"));
    QString answer;
    if (!talker.ask(QStringLiteral("press frmMain cmdtoolbar4"), &answer))
        return fail(s, QStringLiteral("%1 cannot press Talk: %2").arg(talker.name(), answer));
    // The person holds the button while talking.
    QThread::msleep(TalkHoldMs);
    talker.ask(QStringLiteral("release frmMain cmdtoolbar4"));
    const qint64 after = listener.counterUntil(QStringLiteral("speakerBlocks"), before + WantedSoundBlocks, StepMs);
    const QString line = QStringLiteral("%1 held Talk for %2 s: %3's speaker played %4 sound blocks of 80 ms")
                             .arg(talker.name())
                             .arg(TalkHoldMs / 1000.0)
                             .arg(listener.name())
                             .arg(after - before);
    if (before < 0 || after - before < WantedSoundBlocks)
        return fail(s, line + QStringLiteral(" (wanted at least %1)").arg(WantedSoundBlocks));
    s.details << line;
    return true;
}

bool Demo::sound(Step &s)
{
    const bool annTalked = talk(m_ann, m_bob, s);
    const bool bobTalked = talk(m_bob, m_ann, s);
    return annTalked && bobTalked ? pass(s) : fail(s, QStringLiteral("sound did not reach both sides"));
}

bool Demo::chat(Step &s)
{
    QString answer;
    for (ZelmoProcess *peer : {&m_ann, &m_bob}) {
        if (!peer->ask(QStringLiteral("click frmMain cmdtoolbar3"), &answer))
            return fail(s, QStringLiteral("%1 cannot open the chat: %2").arg(peer->name(), answer));
    }
    const auto contains = [](const QString &text) { return [text](const QString &shown) { return shown.contains(text); }; };
    bool ok = true;
    // The welcome texts went out on the media channel when the call began.
    for (const auto &[reader, writer, welcome] : {std::tuple{&m_ann, &m_bob, BobWelcome}, std::tuple{&m_bob, &m_ann, AnnWelcome}}) {
        if (reader->askUntil(QStringLiteral("text frmNewChat txtIn"), contains(welcome), StepMs, &answer))
            s.details << QStringLiteral("%1's chat shows %2's welcome text \"%3\"").arg(reader->name(), writer->name(), welcome);
        else
            ok = fail(s, QStringLiteral("%1's chat lacks %2's welcome text: \"%3\"").arg(reader->name(), writer->name(), answer));
    }

    const auto typeAndSee = [&](ZelmoProcess &writer, ZelmoProcess &reader, const QString &line) {
        QString a;
        if (!writer.ask(QStringLiteral("type frmNewChat txtOut %1\\n").arg(line), &a))
            return fail(s, QStringLiteral("%1 cannot type: %2").arg(writer.name(), a));
        if (!reader.askUntil(QStringLiteral("text frmNewChat txtIn"), contains(line), StepMs, &a))
            return fail(s, QStringLiteral("%1 typed \"%2\", %3's chat shows \"%4\"").arg(writer.name(), line, reader.name(), a));
        s.details << QStringLiteral("%1 typed \"%2\" and %3's chat shows it").arg(writer.name(), line, reader.name());
        return true;
    };
    ok = typeAndSee(m_ann, m_bob, AnnLine) && ok;
    ok = typeAndSee(m_bob, m_ann, BobLine) && ok;
    screenshot(m_ann, QStringLiteral("frmNewChat"), QStringLiteral("6-ann-chat.png"), s);
    screenshot(m_bob, QStringLiteral("frmNewChat"), QStringLiteral("7-bob-chat.png"), s);
    return ok ? pass(s) : false;
}

bool Demo::leaveMessage(ZelmoProcess &writer, ZelmoProcess &reader, const QString &readerName, const QString &writerName,
                        const QString &note, const QString &shotOut, const QString &shotIn, Step &s)
{
    const auto fails = [&](const QString &why) {
        s.details << why;
        return false;
    };
    const auto windowShown = [](const QString &name) {
        return [name](const QString &shown) { return shown.split(QLatin1Char(' ')).contains(name); };
    };
    QString answer;
    // The directory window went away when the call began; the toolbar brings it back and
    // asks for the list again. A window still open gets its list by Refresh. One request at
    // a time: a second list coming in would clear the row picked from the first.
    const bool open = writer.ask(QStringLiteral("windows"), &answer) && windowShown(QStringLiteral("frmDirectory"))(answer);
    const QString reopen = open ? QStringLiteral("click frmDirectory cmdRefresh") : QStringLiteral("click frmMain cmdtoolbar1");
    if (!writer.ask(reopen, &answer))
        return fails(QStringLiteral("%1 cannot open or refresh the directory: %2").arg(writer.name(), answer));
    const QString ready = QStringLiteral("Select User for Connection");
    if (!writer.askUntil(QStringLiteral("text frmDirectory barStatusPanel2"), [&](const QString &t) { return t == ready; },
                         StepMs, &answer))
        return fails(QStringLiteral("%1's directory list did not come in: \"%2\"").arg(writer.name(), answer));
    if (!writer.ask(QStringLiteral("select frmDirectory lstGlobal ") + readerName, &answer))
        return fails(QStringLiteral("%1 cannot pick %2 in the directory: %3").arg(writer.name(), readerName, answer));
    if (!writer.ask(QStringLiteral("click frmDirectory cmdSendMsg"), &answer))
        return fails(QStringLiteral("%1 cannot press Send Message: %2").arg(writer.name(), answer));
    QString box;
    if (writer.ask(QStringLiteral("text MessageBox qt_msgbox_label"), &box))
        return fails(QStringLiteral("%1 pressed Send Message and was told \"%2\"").arg(writer.name(), box));
    if (!writer.askUntil(QStringLiteral("windows"), windowShown(QStringLiteral("frmMsgOut")), StepMs, &answer))
        return fails(QStringLiteral("%1's Send Message window did not open (%2)").arg(writer.name(), answer));
    QString to;
    writer.ask(QStringLiteral("text frmMsgOut pnlUserName"), &to);
    if (!writer.ask(QStringLiteral("type frmMsgOut txtMessageOut ") + note, &answer))
        return fails(QStringLiteral("%1 cannot type the message: %2").arg(writer.name(), answer));
    QString size;
    writer.ask(QStringLiteral("text frmMsgOut pnlStatus"), &size);
    screenshot(writer, QStringLiteral("frmMsgOut"), shotOut, s);

    const qint64 before = reader.counter(QStringLiteral("messagesReceived"));
    if (!writer.ask(QStringLiteral("click frmMsgOut cmdSend"), &answer))
        return fails(QStringLiteral("%1 cannot press Send: %2").arg(writer.name(), answer));
    // The window closes itself once the reader's program has taken the whole message.
    if (!writer.askUntil(QStringLiteral("windows"), [](const QString &shown) { return !shown.contains(QLatin1String("frmMsgOut")); },
                         StepMs, &answer)) {
        QString status;
        writer.ask(QStringLiteral("text frmMsgOut pnlStatus"), &status);
        return fails(QStringLiteral("%1's message to %2 was not delivered: the window says \"%3\"").arg(writer.name(), to, status));
    }
    s.details << QStringLiteral("%1 sent \"%2\" to %3 (%4); the Send Message window closed on delivery")
                     .arg(writer.name(), note, to, size);

    const qint64 after = reader.counterUntil(QStringLiteral("messagesReceived"), before + 1, StepMs);
    const qint64 waiting = reader.counter(QStringLiteral("messagesWaiting"));
    if (before < 0 || after <= before)
        return fails(QStringLiteral("%1's ZELMO counted no message received").arg(reader.name()));
    s.details << QStringLiteral("%1's ZELMO counted %2 message(s) received, %3 waiting to be read")
                     .arg(reader.name())
                     .arg(after - before)
                     .arg(waiting);

    // The reader double-clicks the message lamp on the main window.
    if (!reader.ask(QStringLiteral("doubleclick frmMain imgMsgIn"), &answer))
        return fails(QStringLiteral("%1 cannot open the waiting message: %2").arg(reader.name(), answer));
    if (!reader.askUntil(QStringLiteral("windows"), windowShown(QStringLiteral("frmMsgIn")), StepMs, &answer))
        return fails(QStringLiteral("%1's Incoming Message window did not open (%2)").arg(reader.name(), answer));
    QString from;
    QString text;
    QString how;
    reader.ask(QStringLiteral("text frmMsgIn pnlUserName"), &from);
    reader.ask(QStringLiteral("text frmMsgIn txtMessageIn"), &text);
    reader.ask(QStringLiteral("text frmMsgIn pnlSecurity"), &how);
    screenshot(reader, QStringLiteral("frmMsgIn"), shotIn, s);
    if (from != writerName || !text.contains(note))
        return fails(QStringLiteral("%1's Incoming Message window shows \"%2\" from \"%3\"").arg(reader.name(), text, from));
    s.details << QStringLiteral("%1's Incoming Message window shows \"%2\" from %3, \"%4\"")
                     .arg(reader.name(), text, from, how);
    if (!reader.ask(QStringLiteral("click frmMsgIn cmdClose"), &answer))
        s.details << QStringLiteral("%1 cannot close the message: %2").arg(reader.name(), answer);
    return true;
}

bool Demo::quickMessage(Step &s)
{
    const bool annWrote = leaveMessage(m_ann, m_bob, BobName, AnnName, AnnNote, QStringLiteral("8-ann-message-out.png"),
                                       QStringLiteral("9-bob-message-in.png"), s);
    const bool bobWrote = leaveMessage(m_bob, m_ann, AnnName, BobName, BobNote, QStringLiteral("10-bob-message-out.png"),
                                       QStringLiteral("11-ann-message-in.png"), s);
    return annWrote && bobWrote ? pass(s) : fail(s, QStringLiteral("a quick message did not arrive"));
}

bool Demo::hangUp(Step &s)
{
    QString answer;
    if (!m_ann.ask(QStringLiteral("click frmMain cmdtoolbar0"), &answer))
        return fail(s, QStringLiteral("Ann cannot click HangUp: ") + answer);
    const auto callShown = [](const QString &caption) { return caption == QLatin1String("Call"); };
    QString ann;
    QString bob;
    const bool annIdle = m_ann.askUntil(QStringLiteral("text frmMain lblcmd0"), callShown, StepMs, &ann);
    const bool bobIdle = m_bob.askUntil(QStringLiteral("text frmMain lblcmd0"), callShown, StepMs, &bob);
    if (!annIdle || !bobIdle)
        return fail(s, QStringLiteral("the call did not end: Ann's first button reads \"%1\", Bob's \"%2\"").arg(ann, bob));
    QString transcript;
    if (m_bob.ask(QStringLiteral("text frmNewChat txtIn"), &transcript) && transcript.contains(QLatin1String("<End of Connection>")))
        s.details << QStringLiteral("Bob's chat ends with \"<End of Connection>\"");
    return pass(s, QStringLiteral("both main windows show \"Call\" again"));
}

bool Demo::quit(Step &s)
{
    bool ok = true;
    for (ZelmoProcess *peer : {&m_ann, &m_bob}) {
        if (!peer->wasStarted())
            continue;
        QString why;
        if (!peer->quit(StepMs, &why))
            ok = fail(s, why);
    }
    if (m_directory.isRunning() && !m_directory.stop(StepMs))
        ok = fail(s, QStringLiteral("zelmo-directory did not stop cleanly on SIGTERM"));
    // The relay is the operator's own server: it is stopped, whatever it answers with.
    if (m_relay.isRunning() && !m_relay.stop(StepMs))
        s.details << QStringLiteral("the relay ended with a status of its own on SIGTERM");
    return ok ? pass(s, QStringLiteral("both ZELMOs quit with File, Quit; zelmo-directory stopped on SIGTERM")) : false;
}

int Demo::run()
{
    QString error;
    if (!setUp(&error)) {
        print(QStringLiteral("demo: ") + error);
        return 2;
    }
    print(QStringLiteral("ZELMO two-party demo: a zelmo-directory and two ZELMOs with test devices (Ann and Bob),\n"
                         "driven through their windows. Profiles under %1")
              .arg(m_work->path()));
    if (m_machines) {
        print(QStringLiteral("Two machines made of network namespaces: A (%1, %2) runs zelmo-directory and Ann,\n"
                             "B (%3, %4) runs Bob.")
                  .arg(m_machines->name(TwoMachines::A), TwoMachines::address(TwoMachines::A),
                       m_machines->name(TwoMachines::B), TwoMachines::address(TwoMachines::B)));
    }
    print(QStringLiteral("Screenshots and logs go to %1\n").arg(QDir(m_options.outDir).absolutePath()));

    Step &started = step(m_machines ? QStringLiteral("zelmo-directory and Ann start on machine A, Bob on machine B")
                                    : QStringLiteral("zelmo-directory and two ZELMOs start"));
    bool up = startDirectory(started);
    up = up && startPeer(m_ann, TwoMachines::A, m_annProfile, m_annPort, started);
    up = up && startPeer(m_bob, TwoMachines::B, m_bobProfile, m_bobPort, started);
    if (up)
        pass(started);

    Step &listing = step(QStringLiteral("the directory lists both users"));
    const bool found = up && listed(listing);
    Step &calling = step(QStringLiteral("Ann calls Bob from her directory, Bob answers"));
    const bool inCall = found && call(calling);
    Step &pictures = step(QStringLiteral("test-pattern video flows both ways"));
    Step &locked = step(QStringLiteral("the call is encrypted: the same short code on both sides"));
    Step &talking = step(QStringLiteral("push-to-talk sound reaches the other side"));
    Step &chatting = step(QStringLiteral("text chat both ways"));
    Step &message = step(QStringLiteral("a quick message each way"));
    Step &hanging = step(QStringLiteral("Ann hangs up"));
    if (inCall) {
        encrypted(locked);
        video(pictures);
        sound(talking);
        chat(chatting);
        quickMessage(message);
        hangUp(hanging);
    }
    Step &ending = step(QStringLiteral("both quit, the directory stops"));
    quit(ending);

    report();
    for (const Step &s : m_steps) {
        if (s.outcome == Outcome::Failed || s.outcome == Outcome::NotReached)
            return 1;
    }
    return 0;
}

void Demo::report() const
{
    int passed = 0;
    int failed = 0;
    for (const Step &s : m_steps) {
        QString mark;
        switch (s.outcome) {
        case Outcome::Passed: mark = QStringLiteral("[ok]    "); ++passed; break;
        case Outcome::Failed: mark = QStringLiteral("[FAILED]"); ++failed; break;
        case Outcome::NotReached: mark = QStringLiteral("[not reached]"); ++failed; break;
        }
        print(mark + QLatin1Char(' ') + s.title);
        for (const QString &d : s.details)
            print(QStringLiteral("           ") + d);
    }

    const auto excerpt = [](const QString &title, const QString &path) {
        const QStringList lines = DirectoryProcess::fileLines(path);
        if (lines.isEmpty())
            return;
        print(QStringLiteral("\n%1 (%2):").arg(title, path));
        for (const QString &line : lines)
            print(QStringLiteral("  ") + line);
    };
    // The activity logs are written when the programs exit; keep them with the pictures.
    for (const auto &[name, profile] : {std::pair{QStringLiteral("ann"), m_annProfile}, std::pair{QStringLiteral("bob"), m_bobProfile}}) {
        const QString copy = m_options.outDir + QLatin1Char('/') + name + QStringLiteral("-zelmo.log");
        QFile::remove(copy);
        QFile::copy(profile + QStringLiteral("/zelmo.log"), copy);
    }
    excerpt(QStringLiteral("Ann's activity log"), m_options.outDir + QStringLiteral("/ann-zelmo.log"));
    excerpt(QStringLiteral("Bob's activity log"), m_options.outDir + QStringLiteral("/bob-zelmo.log"));
    excerpt(QStringLiteral("zelmo-directory's log"), m_options.outDir + QStringLiteral("/directory.log"));
    excerpt(QStringLiteral("Ann's standard error"), m_options.outDir + QStringLiteral("/ann-stderr.log"));
    excerpt(QStringLiteral("Bob's standard error"), m_options.outDir + QStringLiteral("/bob-stderr.log"));

    print(QStringLiteral("\nScreenshots in %1: %2").arg(QDir(m_options.outDir).absolutePath(), m_screenshots.join(QStringLiteral(", "))));
    print(QStringLiteral("demo: %1 passed, %2 failed").arg(passed).arg(failed));
}
