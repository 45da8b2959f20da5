#include "support/RunningProgram.h"
#include "core/PalList.h"
#include "core/LineFile.h"
#include "core/RefuseList.h"

#include <QLocale>

namespace {

using TestSupport::readBytes;
using TestSupport::writeBytes;

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

private slots:
    void logLineIsStampedAndSingleLine()
    {
        ActivityLog log;
        const QDateTime when(QDate(2024, 3, 9), QTime(14, 5, 30));
        log.setClock([when] { return when; });
        QSignalSpy added(&log, &ActivityLog::lineAdded);
        log.logLine("Placed call to 10.0.0.2\r\nforged line");
        const QString expected = QLocale::system().toString(when, QLocale::ShortFormat)
                                 + ": Placed call to 10.0.0.2  forged line";
        QCOMPARE(log.lines(), QStringList{expected});
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.at(0).at(0).toString(), expected);
    }

    // A log read and saved keeps its lines, but for control characters, which never show.
    void logRoundTripKeepsLinesUnchanged()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("zelmo.log");
        writeBytes(path, "first\r\n\r\nthird with ünïcode\nFrom \x1b]0;owned\x07" "Eve\tx\r\nlast without end");
        ActivityLog log;
        log.logLine("Power Up");
        const QString stamped = log.lines().first();
        QSignalSpy reset(&log, &ActivityLog::reset);
        log.load(path);
        QCOMPARE(reset.size(), 1);
        QCOMPARE(log.lines(),
                 QStringList({stamped, "first", "", "third with ünïcode", "From  ]0;owned Eve x", "last without end"}));
        QVERIFY(!log.save(path));
        QCOMPARE(readBytes(path),
                 (stamped + "\r\nfirst\r\n\r\nthird with ünïcode\r\nFrom  ]0;owned Eve x\r\nlast without end\r\n").toUtf8());

        // A missing file leaves the log alone; clearing empties what is saved.
        log.load(dir.filePath("missing.log"));
        QCOMPARE(log.lines().size(), 6);
        log.clear();
        QCOMPARE(reset.size(), 2);
        QVERIFY(!log.save(path));
        QCOMPARE(readBytes(path), QByteArray());
    }

    void logKeepsTheNewestLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("zelmo.log");
        QByteArray big;
        for (int i = 1; i <= 12000; ++i)
            big += "line " + QByteArray::number(i) + "\r\n";
        writeBytes(path, big);
        ActivityLog log;
        log.load(path);
        QCOMPARE(log.lines().size(), ActivityLog::MaxLines);
        QCOMPARE(log.lines().first(), QStringLiteral("line 2001"));
        QCOMPARE(log.lines().last(), QStringLiteral("line 12000"));

        QSignalSpy added(&log, &ActivityLog::lineAdded);
        QSignalSpy dropped(&log, &ActivityLog::oldestDropped);
        log.logLine("newest");
        QCOMPARE(log.lines().size(), ActivityLog::MaxLines);
        QCOMPARE(log.lines().first(), QStringLiteral("line 2002"));
        QVERIFY(log.lines().last().endsWith(": newest"));
        // The window drops one item and adds one instead of rebuilding ten thousand.
        QCOMPARE(dropped.size(), 1);
        QCOMPARE(dropped[0][0].toInt(), 1);
        QCOMPARE(added.size(), 1);

        // Of a huge file only the end is read, starting at a whole line.
        const QByteArray filler(1000, '.');
        QByteArray huge;
        for (int i = 1; i <= 9000; ++i)
            huge += QByteArray::number(100000 + i) + filler + "\r\n";
        writeBytes(path, huge);
        ActivityLog tail;
        tail.load(path);
        QVERIFY(tail.lines().size() > 8000);
        QVERIFY(tail.lines().size() < 9000);
        for (const QString &line : {tail.lines().first(), tail.lines().last()})
            QCOMPARE(line.size(), 1006);
        QVERIFY(tail.lines().last().startsWith("109000"));

        // Saving into a directory fails and keeps every line.
        QVERIFY(QDir(dir.path()).mkdir("blocked.log"));
        const FileError error = log.save(dir.filePath("blocked.log"));
        QVERIFY(error.code != 0 && !error.description.isEmpty());
        QCOMPARE(log.lines().size(), ActivityLog::MaxLines);
    }

    // A link where a data file should be is never written or read through: what it points
    // at stays as it was, the link is set aside, and a file of its own takes the place,
    // with the mode the old file had or the owner's alone for keys.
    void aLinkInAFilesPlaceIsNeitherReadNorWrittenThrough()
    {
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const QString outside = elsewhere.filePath("precious.txt");
        writeBytes(outside, "someone else's\n");
        QVERIFY(QFile::setPermissions(outside, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                   | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        const QString path = dir.filePath("pals.dat");
        QVERIFY(QFile::link(outside, path));
        QVERIFY(!LineFile::read(path, 1000));
        QVERIFY(!LineFile::readBytes(path, 1000));

        QVERIFY(!LineFile::write(path, {"Ann", "ann@x"}));
        QCOMPARE(readBytes(outside), QByteArray("someone else's\n"));
        QCOMPARE(QFile::permissions(outside) & QFileDevice::ReadOther, QFileDevice::ReadOther);
        QVERIFY(!LineFile::isLink(path));
        QVERIFY(LineFile::isLink(path + LineFile::LinkSuffix));
        QCOMPARE(LineFile::read(path, 1000).value_or(QByteArrayList()), QByteArrayList({"Ann", "ann@x"}));

        QVERIFY(QFile::link(outside, dir.filePath("key")));
        QVERIFY(!LineFile::writeBytes(dir.filePath("key"), "secret", LineFile::Access::OwnerOnly));
        QCOMPARE(readBytes(outside), QByteArray("someone else's\n"));
        QCOMPARE(QFile::permissions(dir.filePath("key")),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        // A file rewritten keeps its mode; nothing of the writing is left beside it.
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QVERIFY(!LineFile::write(path, {"Bob"}));
        QCOMPARE(QFile::permissions(path),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser
                     | QFileDevice::ReadGroup);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 4);
    }

    void refuseFileFormAndBlanksAroundNumbers()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("refuse.dat");
        writeBytes(path, "  1234  \r\nAnn\r\nann@x.org\r\n-7\nBob\nbob@y.org\n");
        RefuseList list;
        list.load(path);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.entry(1).userNumber, 1234);
        QCOMPARE(list.entry(2).name, QStringLiteral("Bob"));
        QVERIFY(list.isRefused(1234));
        QVERIFY(list.isRefused(-7));
        QVERIFY(!list.isRefused(0));
        QVERIFY(!list.save(path));
        QCOMPARE(readBytes(path), QByteArray(" 1234 \r\nAnn\r\nann@x.org\r\n-7 \r\nBob\r\nbob@y.org\r\n"));

        // Out of range removes nothing; removing entry 1 leaves the former entry 2.
        QVERIFY(!list.remove(path, 0));
        QVERIFY(!list.remove(path, 3));
        QCOMPARE(list.count(), 2);
        QVERIFY(!list.remove(path, 1));
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.entry(1).userNumber, -7);
        QCOMPARE(readBytes(path), QByteArray("-7 \r\nBob\r\nbob@y.org\r\n"));
        QVERIFY(!list.isRefused(1234));
        // The last entry can go too.
        QVERIFY(!list.remove(path, 1));
        QCOMPARE(list.count(), 0);
    }

    void refuseListStopsAtItsCapacity()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("refuse.dat");
        QByteArray bytes;
        for (int i = 1; i <= 250; ++i)
            bytes += QByteArray::number(i) + "\r\nname " + QByteArray::number(i) + "\r\nmail\r\n";
        writeBytes(path, bytes);
        RefuseList list;
        list.load(path);
        QCOMPARE(list.count(), RefuseList::Capacity);
        QCOMPARE(list.entry(200).name, QStringLiteral("name 200"));
        QVERIFY(!list.isRefused(201));

        QVERIFY(!list.save(path));
        const QByteArray saved = readBytes(path);
        QVERIFY(!list.add(path, 999, "late", "late@x"));
        QCOMPARE(list.count(), RefuseList::Capacity);
        QVERIFY(!list.isRefused(999));
        QCOMPARE(readBytes(path), saved);
    }

    void hostileRefuseEntriesStayInTheirLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("refuse.dat");
        RefuseList list;
        list.load(path);
        QCOMPARE(list.count(), 0);
        QVERIFY(!list.add(path, 5, "Eve\r\n666\r\nevil", "e@x\n77"));
        QCOMPARE(readBytes(path).count('\n'), 3);
        RefuseList reread;
        reread.load(path);
        QCOMPARE(reread.count(), 1);
        QCOMPARE(reread.entry(1).name, QStringLiteral("Eve  666  evil"));
        QCOMPARE(reread.entry(1).email, QStringLiteral("e@x 77"));
        QVERIFY(!reread.isRefused(666));

        // A failed save reports why and keeps the entry for the save at exit.
        QVERIFY(QDir(dir.path()).mkdir("blocked.dat"));
        const FileError error = reread.add(dir.filePath("blocked.dat"), 6, "Sam", "s@x");
        QVERIFY(error.code != 0);
        QVERIFY(reread.isRefused(6));
    }

    void palAddKeepsCapitalsInNameOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("zelmo.pal");
        PalList pals;
        QVERIFY(!pals.add(path, "Ann.Lee@Example.COM"));
        QCOMPARE(pals.count(), 1);
        QCOMPARE(pals.pal(1).Name, QStringLiteral("Ann.Lee@Example.COM"));
        QCOMPARE(pals.pal(1).EMail, QStringLiteral("ann.lee@example.com"));
        QCOMPARE(readBytes(path), QByteArray("Ann.Lee@Example.COM\r\nann.lee@example.com\r\n"));

        // A reload after the next add resets Status but keeps what the server reported.
        pals.pal(1).Address = "10.1.2.3";
        pals.pal(1).Port = 2004;
        pals.pal(1).Status = 2;
        QVERIFY(!pals.add(path, "bob@x.org"));
        QCOMPARE(pals.count(), 2);
        QCOMPARE(pals.checkPosition, 2);
        QCOMPARE(pals.pal(1).Address, QStringLiteral("10.1.2.3"));
        QCOMPARE(pals.pal(1).Port, qint16(2004));
        QCOMPARE(pals.pal(1).Status, qint16(1));

        // A failed save keeps the new pal in memory instead of reloading the old file.
        QVERIFY(QDir(dir.path()).mkdir("blocked.pal"));
        QVERIFY(pals.add(dir.filePath("blocked.pal"), "Cy@x.org"));
        QCOMPARE(pals.count(), 3);
        QCOMPARE(pals.pal(3).EMail, QStringLiteral("cy@x.org"));
    }

    void palRemoveMovesTheRestUp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("zelmo.pal");
        writeBytes(path, "A\r\na@x\r\nB\r\nb@x\r\nC\r\nc@x\r\n");
        PalList pals;
        pals.load(path);
        QCOMPARE(pals.checkPosition, 3);
        QVERIFY(!pals.remove(path, 4));
        QVERIFY(!pals.remove(path, 1));
        QCOMPARE(pals.count(), 2);
        QCOMPARE(pals.pal(1).Name, QStringLiteral("B"));
        QCOMPARE(pals.pal(2).EMail, QStringLiteral("c@x"));
        QCOMPARE(pals.checkPosition, 2);
        QCOMPARE(readBytes(path), QByteArray("B\r\nb@x\r\nC\r\nc@x\r\n"));
    }

    void palFilesOfOddShapes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("zelmo.pal");
        PalList pals;
        writeBytes(path, "A\na@x\nLonely\n");
        pals.load(path);
        QCOMPARE(pals.count(), 2);
        QCOMPARE(pals.pal(2).Name, QStringLiteral("Lonely"));
        QCOMPARE(pals.pal(2).EMail, QString());

        // A missing file leaves the table; an empty one empties it.
        pals.load(dir.filePath("missing.pal"));
        QCOMPARE(pals.count(), 2);
        writeBytes(path, "");
        pals.load(path);
        QCOMPARE(pals.count(), 0);
        QCOMPARE(pals.checkPosition, 0);

        QByteArray many;
        for (int i = 1; i <= 230; ++i)
            many += "P" + QByteArray::number(i) + "\r\np" + QByteArray::number(i) + "@x\r\n";
        writeBytes(path, many);
        pals.load(path);
        QCOMPARE(pals.count(), PalList::Capacity);
        QCOMPARE(pals.pal(200).Name, QStringLiteral("P200"));
        QVERIFY(!pals.add(path, "full@x"));
        QCOMPARE(pals.count(), PalList::Capacity);
        QCOMPARE(readBytes(path), many);
    }
};

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
