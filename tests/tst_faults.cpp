// Faults around a running program: a directory server that takes the connection and never
// answers, a pal server that answers "busy" to every connection, and a profile folder that
// cannot be written at exit (read-only, or a disk that is full).

#include "core/RefuseList.h"
#include "support/DirectoryKit.h"

#include <QRegularExpression>
#include <QScopeGuard>

#include <csignal>
#include <cstring>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace DirectoryKit;
namespace Proto = DirectoryProtocol;

namespace {

// A pal server that answers every connection with "BSY", sending it to `target` (itself
// unless told otherwise), and counts the connections.
struct BusyPalServer
{
    QTcpServer listener;
    int connections = 0;
    int targetPort = 0;

    BusyPalServer()
    {
        if (!listener.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock(TestSupport::BareServerPortSpan))))
            qFatal("the busy pal server could not listen");
        targetPort = listener.serverPort();
        QObject::connect(&listener, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = listener.nextPendingConnection()) {
                ++connections;
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    if (hangUpOnTls(s)) {
                        --connections;
                        return;
                    }
                    s->readAll();
                    s->write(Proto::palBusy({QStringLiteral("127.0.0.1"), targetPort, {}}));
                });
            }
        });
    }
    int port() const { return listener.serverPort(); }
};

// Every file of a profile folder and its bytes.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        files.insert(name, TestSupport::readBytes(dir.filePath(name)));
    return files;
}

// The texts of the message boxes shown until the program has finished; each is answered
// with OK, as a user would.
struct BoxAnswerer
{
    QStringList texts;
    QTimer poll;

    BoxAnswerer()
    {
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        poll.start();
    }
    bool shown(const QString &prefix) const
    {
        return std::any_of(texts.begin(), texts.end(), [&](const QString &t) {
            return t.startsWith(prefix) && t.contains(QStringLiteral(" : "));
        });
    }
};

// Root writes wherever it likes; a test that needs a folder it cannot write takes that
// power away from this thread while it runs (the files are written on this thread).
class WithoutWritePower
{
public:
    WithoutWritePower()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, m_saved, sizeof reduced);
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_FOWNER})
            reduced[cap / 32].effective &= ~(1u << (cap % 32));
        m_dropped = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutWritePower()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (m_dropped)
            syscall(SYS_capset, &header, m_saved);
    }

private:
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

// A disk that takes no more bytes: every write that would grow a file fails.
class FullDisk
{
public:
    FullDisk()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        const rlimit none{0, m_saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~FullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_DFL);
    }

private:
    rlimit m_saved{};
};

bool canWriteIn(const QString &folder)
{
    QFile probe(QDir(folder).filePath(QStringLiteral("probe")));
    const bool written = probe.open(QIODevice::WriteOnly) && probe.write("x", 1) == 1 && probe.flush();
    probe.close();
    probe.remove();
    return written;
}

// A profile folder left by an earlier run: settings, two pals, a refused caller, a log and
// a user number.
void earlierRun(const QString &folder)
{
    Server server;
    User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), folder, 4321);
    ann.pals().addPal(QStringLiteral("bob@example.org"));
    ann.pals().addPal(QStringLiteral("carol@example.org"));
    ann->parts().refuseList.add(ann.program->profilePath(QStringLiteral("refuse.dat")), 77, QStringLiteral("Eve"),
                               QStringLiteral("eve@example.org"));
    ann.program->logLine(QStringLiteral("An earlier line"));
    ann.program->shutdown();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void aDirectoryThatNeverAnswersIsGivenUpAndTriedAgain()
    {
        RawServer directory;
        Server pals;
        User ann(QStringLiteral("Ann"), directory.port(), pals.palPort());
        ann.directory().setAnswerWait(800);
        auto *answerWait = ann.directory().findChild<QTimer *>(QStringLiteral("tmrDirectoryAnswer"));
        QVERIFY(answerWait);
        auto *status = control<QLabel>(ann.window(), "barStatusPanel2");
        QVERIFY(status);
        // A timer of the same event loop (the media loop rests out of a call) turns while the
        // answer is awaited; on a busy machine perhaps only once.
        QTimer alive;
        int ticksWhileWaiting = 0;
        connect(&alive, &QTimer::timeout, [&] {
            if (answerWait->isActive())
                ++ticksWhileWaiting;
        });
        alive.start(75);

        // The server takes the login and the notice request and stays silent. On a busy
        // machine the wait may run out before the test looks, so the order of what was shown
        // is what counts.
        QSignalSpy shownStatus(&ann.directory(), &DirectoryService::statusChanged);
        ann.openDirectory();
        QTRY_VERIFY(directory.received.contains("INT<ET>"));
        QTRY_COMPARE(ann.directory().statusText(), QStringLiteral("Unable to contact Directory Server"));
        QStringList statuses;
        for (const QList<QVariant> &change : shownStatus)
            statuses << change.at(0).toString();
        QCOMPARE(statuses.mid(statuses.lastIndexOf(QStringLiteral("Connected to Directory Server"))),
                 QStringList({QStringLiteral("Connected to Directory Server"),
                              QStringLiteral("Unable to contact Directory Server")}));
        QVERIFY(!ann.directory().ippServer().isConnected());
        QTRY_VERIFY(!directory.client || directory.client->state() == QAbstractSocket::UnconnectedState);
        // The program went on meanwhile: its event loop kept running.
        QVERIFY(ticksWhileWaiting >= 1);
        QCOMPARE(status->text(), QStringLiteral("Unable to contact Directory Server"));

        // Opening the window again connects again; this time the server answers, and once
        // everything asked for has come nothing more is awaited.
        directory.received.clear();
        ann.openDirectory();
        QTRY_VERIFY(directory.received.contains("INT<ET>"));
        QCOMPARE(directory.connections, 2);
        directory.send(Proto::notice("INT", QString()));
        QTRY_VERIFY(directory.received.endsWith("LS1<ET>"));
        QVERIFY(answerWait->isActive());
        directory.send(Proto::userList(1, 1, {{7, QStringLiteral("Bob"), QStringLiteral("Bergen"), QString(),
                                                QStringLiteral("127.0.0.1"), 2004, 0, true, true, 1}}));
        QTRY_COMPARE(ann.directory().statusText(), QStringLiteral("Select User for Connection"));
        QCOMPARE(ann.directory().entries().size(), 1);
        QVERIFY(!answerWait->isActive());
        QVERIFY(ann.directory().ippServer().isConnected());

        // A call to an e-mail address whose lookup is never answered ends as not answered,
        // and the progress window says so.
        directory.received.clear();
        ann.calls().placeCall(QStringLiteral("carol@example.org"), 2000, 0);
        QCOMPARE(ann.call().ConnectState, ConnectState::LookingUpEmail);
        QTRY_COMPARE(directory.received, QByteArray("GEM;carol@example.org;<ET>"));
        QTRY_COMPARE(ann.call().ConnectState, ConnectState::DidNotAnswer);
        QCOMPARE(ann.directory().statusText(), QStringLiteral("Unable to contact Directory Server"));
        QTRY_COMPARE(shown(ann.windowOf<frmConStatus>(), "pnlConStatus"), QStringLiteral("Did Not Answer"));
    }

    void aPalServerThatAnswersBusyIsAskedAgainOnlyAtItsChecks()
    {
        Server directory;
        BusyPalServer first;
        BusyPalServer second;
        // Each sends the program to the other.
        first.targetPort = second.port();
        second.targetPort = first.port();
        User ann(QStringLiteral("Ann"), directory.directoryPort(), first.port());
        ann.pals().addPal(QStringLiteral("bob@example.org"));
        QTimer *check = ann.pals().tmrCheckPal();
        check->setInterval(50);
        QSignalSpy checks(check, &QTimer::timeout);

        ann.openDirectory();
        QTRY_VERIFY_WITH_TIMEOUT(checks.count() >= 20, 10000);
        const int ticks = int(checks.count());
        const int connections = first.connections + second.connections;
        qInfo("%d pal checks, %d connections to the busy pal servers", ticks, connections);
        // It goes on trying, at most once per check (and once when the window opened).
        QVERIFY(first.connections >= 2 && second.connections >= 2);
        QVERIFY2(connections <= ticks + 2, "the pal server was called again without waiting for a check");
        // The directory itself is unaffected.
        QTRY_COMPARE(ann.directory().statusText(), QStringLiteral("Select User for Connection"));
        QVERIFY(ann.pals().palServerPort() == first.port() || ann.pals().palServerPort() == second.port());
        QCOMPARE(ann.pals().list().count(), 1);
    }

    void aProfileFolderThatCannotBeWrittenAtExitKeepsEveryFile_data()
    {
        QTest::addColumn<bool>("full");
        QTest::newRow("read-only") << false;
        QTest::newRow("full") << true;
    }

    void aProfileFolderThatCannotBeWrittenAtExitKeepsEveryFile()
    {
        QFETCH(bool, full);
        QTemporaryDir profile;
        earlierRun(profile.path());
        const QMap<QString, QByteArray> before = contents(profile.path());
        QCOMPARE(before.keys(),
                 QStringList({"identity.key", "refuse.dat", "zelmo.ini", "zelmo.log", "zelmo.num", "zelmo.pal"}));

        RawServer directory;
        RawServer pals;
        // The user number on disk is not one the server gives, so it asks for a new one.
        TestSupport::writeBytes(profile.filePath(QStringLiteral("zelmo.num")), "0\r\n");
        const QMap<QString, QByteArray> atStart = contents(profile.path());
        User ann(QStringLiteral("Ann"), directory.port(), pals.port(), profile.path());
        QCOMPARE(ann->parts().palList.count(), 2);
        ann.settings().Name = QStringLiteral("Ann Changed");
        ann.program->logLine(QStringLiteral("A line of this run"));

        std::unique_ptr<WithoutWritePower> noPower;
        std::unique_ptr<FullDisk> fullDisk;
        QFile::Permissions permissions = QFile::permissions(profile.path());
        if (full) {
            fullDisk = std::make_unique<FullDisk>();
        } else {
            QFile::setPermissions(profile.path(), QFile::ReadOwner | QFile::ExeOwner);
            noPower = std::make_unique<WithoutWritePower>();
        }
        const auto giveBack = [&] {
            noPower.reset();
            fullDisk.reset();
            QFile::setPermissions(profile.path(), permissions);
        };
        auto restore = qScopeGuard(giveBack);
        if (canWriteIn(profile.path()))
            QSKIP("this machine lets the test write in the folder all the same");

        // The pal server hands out a number the program cannot store: it says so and keeps
        // the number for this run.
        ann.pals().connectPalServer();
        QTRY_COMPARE(pals.received, QByteArray("RSN;<ET>"));
        pals.send(Proto::newNumber(5678));
        QTRY_COMPARE(ann.pals().userNumber(), 5678);
        QTRY_VERIFY(ann.windowOf<frmMessage>() && ann.windowOf<frmMessage>()->isVisible());
        QVERIFY(ann.windowOf<frmMessage>()->text().startsWith(QStringLiteral("Could not save the user number, ")));
        // A pal added now cannot be stored either, and is kept for this run.
        ann.pals().addPal(QStringLiteral("dave@example.org"));
        QCOMPARE(ann->parts().palList.count(), 3);
        auto *box = control<QMessageBox>(ann.window(), "MessageBox");
        QVERIFY(box && box->text().startsWith(QStringLiteral("Could not save Pal File, ")));

        // The user quits: one message for each file that could not be written, the settings
        // complaint on the terminal, and every file as it was.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("could not write the settings")));
        BoxAnswerer boxes;
        QVERIFY(ann.program->requestClose());
        QVERIFY2(boxes.shown(QStringLiteral("Could not save Pal File, ")), qPrintable(boxes.texts.join('|')));
        QVERIFY(boxes.shown(QStringLiteral("Could not save Refuse List data File, ")));
        QVERIFY(boxes.shown(QStringLiteral("Could not save Log File, ")));
        restore.dismiss();
        giveBack();
        // Nothing half-written and nothing left behind.
        QCOMPARE(contents(profile.path()), atStart);
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
