#include "media/CallClock.h"
#include "media/MediaClock.h"
#include "media/MediaStats.h"

#include "support/TestSupport.h"

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
    void streamRatesEveryTenSecondsOfACallWithEarlyFiguresBefore()
    {
        Loop loop(100.0);
        MediaStats &stats = loop.stats;
        loop.run(30.0, false);
        // Outside a call nothing is evaluated or reset, but the capture rate goes on.
        QCOMPARE(loop.streams, 0);
        QVERIFY(loop.captures >= 6);
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("10.0"));

        // The call's first tick starts its early figures; one second later the window reads
        // what the first second carried, the next second what the first two did.
        QVERIFY(!(stats.tick(true) & (MediaStats::StreamRates | MediaStats::EarlyStreamRates)));
        for (int i = 0; i < 48; ++i)
            stats.addFrameSent();
        stats.addFrameReceived();
        stats.addBytesReceived(12345);
        stats.addBytesSent(2500);
        loop.clock.advance(0.5);
        QVERIFY(!stats.tick(true));
        QCOMPARE(stats.fpsOutText(), QStringLiteral("0.0"));
        loop.clock.advance(0.5);
        QCOMPARE(stats.tick(true), MediaStats::Figures(MediaStats::EarlyStreamRates));
        QCOMPARE(stats.fpsOutText(), QStringLiteral("48.0"));
        QCOMPARE(stats.fpsInText(), QStringLiteral("1.0"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("98760"));
        QCOMPARE(stats.throughputOutText(), QStringLiteral("20000"));
        loop.clock.advance(1.0);
        QVERIFY(stats.tick(true).testFlag(MediaStats::EarlyStreamRates));
        QCOMPARE(stats.fpsOutText(), QStringLiteral("24.0"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("49380"));

        // The first full period still counts ten seconds from the call's start.
        loop.run(7.8, true);
        QCOMPARE(loop.streams, 0);
        loop.run(0.7, true);
        QCOMPARE(loop.streams, 1);
        QCOMPARE(stats.fpsOutText(), QStringLiteral("4.8"));
        QCOMPARE(stats.fpsInText(), QStringLiteral("0.1"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("9876"));
        QCOMPARE(stats.throughputOutText(), QStringLiteral("2000"));

        // From then on only the full periods show, each with its own traffic; bytes x 8
        // may exceed 32 bits.
        stats.addBytesReceived(300'000'000);
        int full = 0;
        for (int i = 0; i < 10; ++i) {
            loop.clock.advance(1.0);
            const MediaStats::Figures figures = stats.tick(true);
            QVERIFY(!figures.testFlag(MediaStats::EarlyStreamRates));
            full += figures.testFlag(MediaStats::StreamRates);
        }
        QCOMPARE(full, 1);
        QCOMPARE(stats.fpsOutText(), QStringLiteral("0.0"));
        QCOMPARE(stats.throughputInText(), QStringLiteral("240000000"));
        QCOMPARE(stats.throughputOutText(), QStringLiteral("0"));

        // The end of the call shows zeros; the next call has early figures again.
        stats.addFrameSent();
        stats.reset();
        QCOMPARE(stats.framesSent(), 0);
        QCOMPARE(stats.throughputInText(), QStringLiteral("0.0"));
        QCOMPARE(stats.fpsInText(), QStringLiteral("0.0"));
        loop.run(3.0, false);
        QCOMPARE(stats.fpsInText(), QStringLiteral("0.0"));
        stats.tick(true);
        stats.addFrameReceived();
        loop.clock.advance(1.0);
        QVERIFY(stats.tick(true).testFlag(MediaStats::EarlyStreamRates));
        QCOMPARE(stats.fpsInText(), QStringLiteral("1.0"));
    }

    void captureCounterWrapsAt4096()
    {
        MediaClock clock;
        clock.setManual(50.0);
        int frameNumber = 4090;
        MediaStats stats(clock, [&frameNumber] { return frameNumber; });
        QVERIFY(stats.tick(false).testFlag(MediaStats::CaptureRate)); // primes
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("0.0"));
        // Before the first five seconds are over, the rate so far shows once a second.
        frameNumber = 4094;
        clock.advance(0.9);
        QVERIFY(!stats.tick(false));
        clock.advance(0.1);
        QCOMPARE(stats.tick(false), MediaStats::Figures(MediaStats::EarlyCaptureRate));
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("4.0"));
        frameNumber = 10;
        clock.advance(3.9);
        QCOMPARE(stats.tick(false), MediaStats::Figures(MediaStats::EarlyCaptureRate));
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("3.3")); // 16 frames in 4.9 seconds
        clock.advance(0.2);
        QCOMPARE(stats.tick(false), MediaStats::Figures(MediaStats::CaptureRate));
        QCOMPARE(stats.capturedFpsText(), QStringLiteral("3.2"));
        frameNumber = 5;
        for (int i = 0; i < 5; ++i) {
            clock.advance(1.02);
            QVERIFY(!stats.tick(false).testFlag(MediaStats::EarlyCaptureRate));
        }
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
