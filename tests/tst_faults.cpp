// A fault around a running program: a profile folder that cannot be written at exit
// (read-only, or a disk that is full).

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
    ann.program->activityLog().logLine(QStringLiteral("An earlier line"));
    ann.program->shutdown();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
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
        ann.program->activityLog().logLine(QStringLiteral("A line of this run"));

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
