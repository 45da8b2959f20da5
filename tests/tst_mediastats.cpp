#include "media/CallClock.h"
#include "media/MediaClock.h"
#include "media/MediaStats.h"

#include <QTest>

namespace {

// Drives the stats one 75 ms media-loop tick at a time, counting the evaluations.
struct Loop
{
    MediaClock clock;
    MediaStats stats{clock, [this] { return int(qint64(clock.now() * 10.0) % 4096); }}; // 10 fps
    int captures = 0;
    int streams = 0;

    explicit Loop(double start) { clock.setManual(start); }
    void run(double seconds, bool inCall)
    {
        for (const double end = clock.now() + seconds; clock.now() < end;) {
            clock.advance(0.075);
            const MediaStats::Figures figures = stats.tick(inCall);
            captures += figures.testFlag(MediaStats::CaptureRate);
            streams += figures.testFlag(MediaStats::StreamRates);
        }
    }
};

} // namespace

class TestMediaStats : public QObject
{
    Q_OBJECT

private slots:
    void streamRatesEveryTenSecondsOfACall()
    {
        Loop loop(100.0);
        MediaStats &stats = loop.stats;
        loop.run(30.0, false);
        for (int i = 0; i < 48; ++i)
            stats.addFrameSent();
        stats.addFrameReceived();
        stats.addBytesReceived(12345);
        stats.addBytesSent(2500);
        // Outside a call nothing is evaluated or reset, but the capture rate goes on.
        QCOMPARE(loop.streams, 0);
        QVERIFY(loop.captures >= 6);
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("10.0"));

        loop.run(9.9, true);
        QCOMPARE(loop.streams, 0);
        QCOMPARE(stats.fpsOutText(), QStringLiteral("0.0"));
        loop.run(0.7, true);
        QCOMPARE(loop.streams, 1);
        QCOMPARE(stats.fpsOutText(), QStringLiteral("4.8"));
        QCOMPARE(stats.fpsInText(), QStringLiteral("0.1"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("9876"));
        QCOMPARE(stats.throughputOutText(), QStringLiteral("2000"));

        // Each period counts only its own traffic; bytes x 8 may exceed 32 bits.
        stats.addBytesReceived(300'000'000);
        loop.run(10.0, true);
        QCOMPARE(loop.streams, 2);
        QCOMPARE(stats.fpsOutText(), QStringLiteral("0.0"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("240000000"));
        QCOMPARE(stats.throughputOutText(), QStringLiteral("0"));

        stats.addFrameSent();
        stats.reset();
        QCOMPARE(stats.framesSent(), 0);
        QCOMPARE(stats.throughputInText(), QStringLiteral("0.0"));
        QCOMPARE(stats.fpsInText(), QStringLiteral("0.0"));
    }

    void captureCounterWrapsAt4096()
    {
        MediaClock clock;
        clock.setManual(50.0);
        int frameNumber = 4090;
        MediaStats stats(clock, [&frameNumber] { return frameNumber; });
        QVERIFY(stats.tick(false).testFlag(MediaStats::CaptureRate)); // primes
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("0.0"));
        frameNumber = 10;
        clock.advance(4.9);
        QVERIFY(!stats.tick(false));
        clock.advance(0.2);
        QVERIFY(stats.tick(false).testFlag(MediaStats::CaptureRate));
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("3.2"));
        frameNumber = 5;
        clock.advance(5.1);
        stats.tick(false);
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("818.2")); // 4091 frames
    }

    void marksKeepTickingAtAnyClockValue()
    {
        // Across the old day boundary, and past what 32-bit seconds can hold.
        for (const double start : {86399.5, 4294967290.0}) {
            Loop loop(start);
            loop.run(0.1, false);
            loop.run(21.0, true);
            QVERIFY(loop.captures >= 4);
            QCOMPARE(loop.streams, 2);
            QCOMPARE(loop.stats.capturedFpsText(), QStringLiteral("10.0"));
        }
    }

    void callClockWrapsAndRedrawsOnlyChangedDigits()
    {
        using Changed = std::array<bool, 4>;
        CallClock clock;
        QCOMPARE(clock.digits().changed, (Changed{true, true, true, true}));
        clock.tickCallClock(1);
        QCOMPARE(clock.digits().changed, (Changed{false, false, false, true}));
        QCOMPARE(clock.digits().changed, (Changed{false, false, false, false}));
        while (clock.text() != QStringLiteral("09:59"))
            clock.tickCallClock(1);
        clock.digits();
        clock.tickCallClock(1);
        QCOMPARE(clock.digits().value, (std::array<int, 4>{1, 0, 0, 0}));
        for (int i = 0; i < 50 * 60 - 1; ++i)
            clock.tickCallClock(1);
        QCOMPARE(clock.text(), QStringLiteral("59:59"));
        clock.digits();
        clock.tickCallClock(1);
        QCOMPARE(clock.text(), QStringLiteral("00:00"));
        QCOMPARE(clock.digits().changed, (Changed{true, true, true, true}));
        for (int i = 0; i < 75; ++i)
            clock.tickCallClock(1);
        clock.digits();
        clock.tickCallClock(0); // from 01:15
        QCOMPARE(clock.digits().changed, (Changed{false, true, true, true}));
    }
};

QTEST_GUILESS_MAIN(TestMediaStats)
#include "tst_mediastats.moc"
