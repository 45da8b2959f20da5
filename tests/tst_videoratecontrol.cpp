#include "media/VideoRateControl.h"
#include "media/picture/Vp8Encoder.h"
#include "support/LinkModel.h"

#include <QTest>

#include <algorithm>
#include <random>

using LinkKit::LinkModel;

namespace {

// A call's coded video over the modelled link: each tick the frame is as large as the
// rate control's share of a tick, as a real-time encoder makes it.
struct ControlledLink
{
    LinkModel link;
    VideoRateControl control;
    // The rate at each tick, bits a second.
    std::vector<int> targets;

    ControlledLink(double kbit, int roundTripMs) : link(kbit * 1000 / 8, roundTripMs)
    {
        link.onTick = [this](double now) {
            control.update(link.pacer.queueDelayMs(), link.pacer.drainRate(), qint64(now));
            targets.push_back(control.targetBps());
        };
        link.makeFrame = [this] { return qint64(control.targetBps()) * LinkModel::TickMs / 8000; };
    }
    void setLine(double kbit) { link.rate = kbit * 1000 / 8; }
    // The worst capture-to-arrival delay of frames sent from `fromSeconds` on.
    double worstDelayFrom(double fromSeconds) const
    {
        double worst = 0;
        for (size_t i = 0; i < link.frameDelays.size(); ++i) {
            if (link.frameTicks[i] * LinkModel::TickMs >= fromSeconds * 1000)
                worst = std::max(worst, link.frameDelays[i]);
        }
        return worst;
    }
    // The mean rate from `fromSeconds` on.
    double meanTargetFrom(double fromSeconds) const
    {
        const size_t from = size_t(fromSeconds * 1000 / LinkModel::TickMs);
        double sum = 0;
        for (size_t i = from; i < targets.size(); ++i)
            sum += targets[i];
        return targets.size() > from ? sum / double(targets.size() - from) : 0;
    }
};

// Both ends of a call over datagrams on one line whose buffer both directions share, as a
// modest line's do: a bottleneck of `kbit` that sends in order and holds at most queueMs of
// it, dropping what does not fit, and losing `randomLoss` of the packets besides. Every
// StepMs each end puts its rate control's rate on the line in packets (the picture, its
// sound and reports alike); every ReportMs it hears from the peer as RTCP would tell it:
// the round trip's growth (the queue, out and back) and the share of its packets lost.
struct SharedDatagramLine
{
    static constexpr int StepMs = 20;
    static constexpr int ReportMs = 100;
    static constexpr int PacketBytes = 1200;

    struct End
    {
        VideoRateControl control;
        qint64 wireBytes = 0;
        double owed = 0;
        int sent = 0;
        int lost = 0;
        // The line loses all of this end's packets until then (ms).
        double outageUntil = 0;
        std::vector<int> targets;
    };

    double bytesPerMs;
    double randomLoss;
    int queueMs = 200;
    // The reports tell of the queue as it stood when they left the peer, and they wait
    // behind it on their way back, as real reports do.
    bool lateReports = false;
    std::mt19937 random{2024};
    double now = 0;
    double emptyAt = 0;
    End ends[2];
    // The queue's delay at each step; the packets lost by the full queue.
    std::vector<double> delays;
    int sentTotal = 0;
    int droppedTotal = 0;

    SharedDatagramLine(double kbit, double loss) : bytesPerMs(kbit / 8), randomLoss(loss) {}
    void setLine(double kbit) { bytesPerMs = kbit / 8; }

    void offer(End &end, int bytes)
    {
        end.wireBytes += bytes;
        ++end.sent;
        ++sentTotal;
        const bool full = emptyAt - now > queueMs;
        droppedTotal += full ? 1 : 0;
        if (full || now < end.outageUntil || std::uniform_real_distribution<double>(0, 1)(random) < randomLoss) {
            ++end.lost;
            return;
        }
        emptyAt = std::max(emptyAt, now) + bytes / bytesPerMs;
    }

    void run(int seconds)
    {
        for (const double until = now + seconds * 1000.0; now < until; now += StepMs) {
            for (End &end : ends) {
                end.owed += end.control.targetBps() / 8000.0 * StepMs;
                while (end.owed >= PacketBytes) {
                    offer(end, PacketBytes);
                    end.owed -= PacketBytes;
                }
            }
            const double queue = std::max(0.0, emptyAt - now);
            delays.push_back(queue);
            if (qint64(now) % ReportMs == 0) {
                for (End &end : ends) {
                    const double lost = end.sent > 0 ? double(end.lost) / end.sent : 0;
                    const size_t lag = lateReports ? size_t((queue + ReportMs) / StepMs) : 0;
                    const double told = delays[delays.size() - 1 - std::min(lag, delays.size() - 1)];
                    end.control.updateFromReports(int(2 * told), lost, end.wireBytes, end.wireBytes, qint64(now));
                    end.targets.push_back(end.control.targetBps());
                    end.sent = end.lost = 0;
                }
            }
        }
    }
    double worstDelayFrom(double seconds) const
    {
        double worst = 0;
        for (size_t i = size_t(seconds * 1000 / StepMs); i < delays.size(); ++i)
            worst = std::max(worst, delays[i]);
        return worst;
    }
    // The least of both ends' mean rates from `seconds` on.
    double meanTargetFrom(double seconds) const
    {
        double least = 1e12;
        for (const End &end : ends) {
            const size_t from = size_t(seconds * 1000 / ReportMs);
            double sum = 0;
            for (size_t i = from; i < end.targets.size(); ++i)
                sum += end.targets[i];
            least = std::min(least, end.targets.size() > from ? sum / double(end.targets.size() - from) : 0);
        }
        return least;
    }
};

} // namespace

class tst_VideoRateControl : public QObject
{
    Q_OBJECT

private slots:
    void settlesBelowWhatTheLineCarries();
    void aWorseLineIsFollowedWithinFiveSeconds();
    void aBetterLineIsUsedAgainWithinTenSeconds();
    void picturesShrinkWithTheRateAndComeBackWithMargin();
    void aPictureTheRateCannotCodeWellShrinksUntilItCan();
    void overDatagramsHeavyLossTakesTheSmallerPictureAtOnce();
    void overDatagramsBothEndsShareTheLineWithoutFillingIt();
    void overDatagramsAnEndCutHardAtTheStartWinsItsShareBack();
    void overDatagramsRandomLossDoesNotStarveThePicture();
    void overDatagramsLateReportsLeaveEachEndItsPart();
    void overDatagramsTheStartLeavesASharedLineItsQueue();
    void overDatagramsAWorseLineIsFollowedAndABetterOneUsed();
    void overDatagramsTheEncoderIsToldLessForASecondAfterACut();
    void overDatagramsNothingMovesBeforeAReport();
    void overDatagramsThePictureGetsWhatSoundAndReportsLeave();
    void overDatagramsAShallowBufferShowsOveruseAsLoss();
};

void tst_VideoRateControl::settlesBelowWhatTheLineCarries()
{
    // 512 kbit/s, of which the sound takes about 15.
    ControlledLink line(512, 40);
    line.link.run(30);
    const int settled = line.control.targetBps();
    QVERIFY2(settled > 300000 && settled < 540000, qPrintable(QString::number(settled)));
    QVERIFY2(line.worstDelayFrom(10) < 200, qPrintable(QString::number(line.worstDelayFrom(10))));
    // The link keeps taking a frame nearly every tick: the rate, not the pacer, decides.
    QVERIFY2(line.link.frameRate(10) > 11, qPrintable(QString::number(line.link.frameRate(10))));
}

void tst_VideoRateControl::aWorseLineIsFollowedWithinFiveSeconds()
{
    ControlledLink line(1024, 40);
    line.link.run(20);
    QVERIFY(line.control.targetBps() > 600000);
    line.setLine(256);
    line.link.run(15);
    QVERIFY2(line.worstDelayFrom(25) < 200, qPrintable(QString::number(line.worstDelayFrom(25))));
    // Probing above the line now and then, but not on the whole.
    QVERIFY2(line.meanTargetFrom(25) < 256000, qPrintable(QString::number(line.meanTargetFrom(25))));
    QVERIFY2(line.meanTargetFrom(25) > 150000, qPrintable(QString::number(line.meanTargetFrom(25))));
}

void tst_VideoRateControl::aBetterLineIsUsedAgainWithinTenSeconds()
{
    ControlledLink line(256, 40);
    line.link.run(20);
    QVERIFY(line.control.targetBps() < 256000);
    line.setLine(1024);
    line.link.run(10);
    QVERIFY2(line.control.targetBps() > 500000, qPrintable(QString::number(line.control.targetBps())));
    QVERIFY(line.worstDelayFrom(20) < 200);
}

void tst_VideoRateControl::picturesShrinkWithTheRateAndComeBackWithMargin()
{
    VideoRateControl control;
    qint64 now = 0;
    const auto later = [&](int ms) {
        now += ms;
        control.update(0, 0, now);
    };
    later(0);
    const QSize wanted(640, 480);
    QCOMPARE(control.pictureFor(wanted, 400000), wanted);
    // A moment a little short keeps the size; staying short does not.
    QCOMPARE(control.pictureFor(wanted, 100000), wanted);
    later(VideoRateControl::ShrinkAfterMs / 2);
    QCOMPARE(control.pictureFor(wanted, 400000), wanted);
    QCOMPARE(control.pictureFor(wanted, 100000), wanted);
    later(VideoRateControl::ShrinkAfterMs);
    QCOMPARE(control.pictureFor(wanted, 100000), QSize(320, 240));
    // Just above what the larger picture needs is not enough to go back to it.
    later(VideoRateControl::GrowHoldMs);
    QCOMPARE(control.pictureFor(wanted, 160000), QSize(320, 240));
    // Far short: at once.
    QCOMPARE(control.pictureFor(wanted, 15000), QSize(160, 120));
    QCOMPARE(control.pictureFor(wanted, 5000), QSize(160, 120));
    // Soon after a shrink the rate alone does not bring the size back.
    later(VideoRateControl::GrowHoldMs / 2);
    QCOMPARE(control.pictureFor(wanted, 100000), QSize(160, 120));
    later(VideoRateControl::GrowHoldMs / 2);
    QCOMPARE(control.pictureFor(wanted, 100000), QSize(320, 240));
    // One size at a time.
    QCOMPARE(control.pictureFor(wanted, 300000), wanted);
    // Never below the smallest capture size.
    VideoRateControl small;
    QCOMPARE(small.pictureFor(QSize(160, 120), 1000), QSize(160, 120));
    QCOMPARE(small.pictureFor(QSize(320, 240), 1000), QSize(160, 120));
}

void tst_VideoRateControl::aPictureTheRateCannotCodeWellShrinksUntilItCan()
{
    // A rate ample for the full picture by the table, but a detailed, noisy picture that the
    // encoder codes only at its coarsest: it shrinks one size at a time while it stays so.
    VideoRateControl control;
    qint64 now = 0;
    const QSize wanted(640, 480);
    const auto frames = [&](int ms, int quantizer) {
        QSize size;
        for (int t = 0; t < ms; t += 40) {
            now += 40;
            control.update(0, 0, now);
            size = control.pictureFor(wanted, 400000);
            control.pictureCoded(quantizer);
        }
        return size;
    };
    // A moment of motion coded coarsely changes nothing.
    QCOMPARE(frames(VideoRateControl::ShrinkAfterMs / 2, Vp8Encoder::MaxQuantizer), wanted);
    QCOMPARE(frames(VideoRateControl::ShrinkAfterMs, 20), wanted);
    QCOMPARE(frames(VideoRateControl::ShrinkAfterMs + 1500, Vp8Encoder::MaxQuantizer), QSize(320, 240));
    QCOMPARE(frames(VideoRateControl::ShrinkAfterMs + 1500, Vp8Encoder::MaxQuantizer), QSize(160, 120));
    // Coded finely at the small size, it grows once the hold is over; coded coarsely at a
    // size just fit, it does not.
    QCOMPARE(frames(VideoRateControl::GrowHoldMs / 2, VideoRateControl::EasyQuantizer + 6), QSize(160, 120));
    QCOMPARE(frames(VideoRateControl::GrowHoldMs, VideoRateControl::EasyQuantizer + 6), QSize(160, 120));
    // One size at a time: the next only once this one is seen to code finely too.
    QCOMPARE(frames(500, 20), QSize(320, 240));
    QCOMPARE(frames(1500, 20), wanted);
}

void tst_VideoRateControl::overDatagramsHeavyLossTakesTheSmallerPictureAtOnce()
{
    // Half a second of reports at a rate a little short of the full picture: where a third
    // of the packets is lost the line's queue is full and the smaller picture comes at once;
    // where a few are lost it waits, as on a clean line.
    const QSize wanted(640, 480);
    const auto picture = [&](double lostShare) {
        VideoRateControl control;
        qint64 bytes = 0;
        for (qint64 now = 0; now <= 500; now += 100) {
            bytes += 1250;
            control.updateFromReports(0, now > 0 ? lostShare : 0, bytes, bytes, now);
        }
        return control.pictureFor(wanted, 100000);
    };
    QCOMPARE(picture(0.3), QSize(320, 240));
    QCOMPARE(picture(0.03), wanted);
}

void tst_VideoRateControl::overDatagramsBothEndsShareTheLineWithoutFillingIt()
{
    // Both ends start at the same rate, together more than the line carries.
    SharedDatagramLine line(512, 0);
    line.run(30);
    const QString figures = QStringLiteral("worst queue %1 ms, least mean rate %2")
                                .arg(line.worstDelayFrom(10))
                                .arg(line.meanTargetFrom(10));
    QVERIFY2(line.worstDelayFrom(10) < 120, qPrintable(figures));
    // Each end keeps a fair part of the line: enough for a moving picture.
    QVERIFY2(line.meanTargetFrom(10) > 150000, qPrintable(figures));
}

void tst_VideoRateControl::overDatagramsAnEndCutHardAtTheStartWinsItsShareBack()
{
    // One direction loses everything for its first second (its first key frame filled the
    // queue): that end falls to the least rate while the other takes the line.
    SharedDatagramLine line(512, 0);
    line.ends[1].outageUntil = 1000;
    line.run(40);
    const auto meanFrom = [&](const SharedDatagramLine::End &end, double seconds) {
        const size_t from = size_t(seconds * 1000 / SharedDatagramLine::ReportMs);
        double sum = 0;
        for (size_t i = from; i < end.targets.size(); ++i)
            sum += end.targets[i];
        return sum / double(end.targets.size() - from);
    };
    const double first = meanFrom(line.ends[0], 25);
    const double second = meanFrom(line.ends[1], 25);
    const QString figures = QStringLiteral("mean rates from 25 s: %1 and %2").arg(first).arg(second);
    qInfo("%s", qPrintable(figures));
    // The same steps up for both ends bring them together: within half a minute the end
    // cut at the start has at least three fifths of the other's rate.
    QVERIFY2(second > 0.6 * first && first > 0.6 * second, qPrintable(figures));
    QVERIFY2(line.worstDelayFrom(25) < 150, qPrintable(figures));
}

void tst_VideoRateControl::overDatagramsRandomLossDoesNotStarveThePicture()
{
    SharedDatagramLine line(512, 0.03);
    line.run(30);
    const QString figures = QStringLiteral("worst queue %1 ms, least mean rate %2")
                                .arg(line.worstDelayFrom(10))
                                .arg(line.meanTargetFrom(10));
    qInfo("%s", qPrintable(figures));
    // Each end's fair part is half the line. A cut goes deep, so that the queue drains
    // before resent copies fall behind it, but it is not followed by more while the queue
    // no longer grows: each end keeps four fifths of its part.
    QVERIFY2(line.meanTargetFrom(10) > 210000, qPrintable(figures));
    QVERIFY2(line.worstDelayFrom(10) < 90, qPrintable(figures));
}

void tst_VideoRateControl::overDatagramsLateReportsLeaveEachEndItsPart()
{
    // The reports tell of the queue late, so the cuts of one overuse can come more than two
    // holds apart. The rate the line was overfilled at is still the one before the first: the
    // slow climb near it then sits where the line is full, and each end keeps most of its part.
    SharedDatagramLine line(512, 0.03);
    line.lateReports = true;
    line.run(40);
    const QString figures = QStringLiteral("worst queue %1 ms, least mean rate %2")
                                .arg(line.worstDelayFrom(10))
                                .arg(line.meanTargetFrom(10));
    qInfo("%s", qPrintable(figures));
    QVERIFY2(line.worstDelayFrom(10) < 150, qPrintable(figures));
    QVERIFY2(line.meanTargetFrom(10) > 180000, qPrintable(figures));
}

void tst_VideoRateControl::overDatagramsTheStartLeavesASharedLineItsQueue()
{
    // Both ends move their picture to datagrams on a line they share; nothing is known of it.
    SharedDatagramLine line(512, 0);
    for (SharedDatagramLine::End &end : line.ends)
        end.control.startOverDatagrams();
    line.run(4);
    const QString figures = QStringLiteral("worst queue %1 ms").arg(line.worstDelayFrom(0));
    qInfo("%s", qPrintable(figures));
    QVERIFY2(line.worstDelayFrom(0) < 60, qPrintable(figures));
}

void tst_VideoRateControl::overDatagramsAWorseLineIsFollowedAndABetterOneUsed()
{
    SharedDatagramLine line(1024, 0);
    line.run(15);
    QVERIFY(line.meanTargetFrom(10) > 300000);
    line.setLine(256);
    line.run(15);
    // Within five seconds of the drop the line's queue leaves room for coding and drawing in
    // 200 ms from capture to screen.
    qInfo("queue from 5 s after the drop %.0f ms at worst, mean rate on the low line %.0f", line.worstDelayFrom(20),
          line.meanTargetFrom(25));
    QVERIFY2(line.worstDelayFrom(20) < 150, qPrintable(QString::number(line.worstDelayFrom(20))));
    QVERIFY2(line.meanTargetFrom(25) > 45000 && line.meanTargetFrom(25) < 140000,
             qPrintable(QString::number(line.meanTargetFrom(25))));
    line.setLine(1024);
    line.run(10);
    // The line is used again; the end that grew first may keep more of it for a while.
    QVERIFY2(line.ends[0].control.targetBps() + line.ends[1].control.targetBps() > 600000
                 && std::min(line.ends[0].control.targetBps(), line.ends[1].control.targetBps()) > 150000,
             qPrintable(QStringLiteral("%1 %2").arg(line.ends[0].control.targetBps()).arg(line.ends[1].control.targetBps())));
}

void tst_VideoRateControl::overDatagramsAShallowBufferShowsOveruseAsLoss()
{
    // A buffer of 20 ms, less than two packets: the delay never grows enough to tell, the
    // queue drops instead. (So short a buffer drops some of any two packets close together,
    // so the rate that keeps the loss near a tenth is low; what counts is that it is kept
    // there.)
    SharedDatagramLine line(512, 0);
    line.queueMs = 20;
    line.run(10);
    const int sentBefore = line.sentTotal;
    const int droppedBefore = line.droppedTotal;
    line.run(20);
    const double dropped = double(line.droppedTotal - droppedBefore) / (line.sentTotal - sentBefore);
    qInfo("%.3f of the packets dropped, least mean rate %.0f", dropped, line.meanTargetFrom(10));
    // Loss up to a tenth is taken for the line's own; the queue does not drop much beyond it.
    QVERIFY2(dropped < 0.2, qPrintable(QString::number(dropped)));
}

void tst_VideoRateControl::overDatagramsTheEncoderIsToldLessForASecondAfterACut()
{
    VideoRateControl overDatagrams;
    VideoRateControl overTheConnection;
    qint64 bytes = 0;
    int t = 0;
    const auto report = [&](int delayMs) {
        bytes += 300000 / 80;
        overDatagrams.updateFromReports(delayMs, 0, bytes, bytes, t);
        overTheConnection.update(delayMs, 300000 / 8, t);
        t += 100;
    };
    while (t < 3000)
        report(0);
    QCOMPARE(overDatagrams.encoderBps(100000), 100000);
    // The queue grows until both cut; then it drains.
    const int before = overDatagrams.targetBps();
    for (int delay = 20; overDatagrams.targetBps() == before && delay < 1000; delay += 40)
        report(delay);
    QVERIFY(overDatagrams.targetBps() < before);
    const int cutAt = t;
    QCOMPARE(overDatagrams.encoderBps(100000), int(100000 * VideoRateControl::AfterCutShare));
    // What it codes then, coarse for the lower rate, does not count against the size.
    for (int frame = 0; frame < 25; ++frame)
        overDatagrams.pictureCoded(VideoRateControl::StrainedQuantizer + 5);
    // Over the connection the pacer leaves out what the line does not take: the encoder
    // keeps the picture's rate.
    QCOMPARE(overTheConnection.encoderBps(100000), 100000);
    while (t < cutAt + VideoRateControl::AfterCutMs)
        report(0);
    QCOMPARE(overDatagrams.encoderBps(100000), 100000);
    for (const int until = t + 3000; t < until;) {
        report(0);
        QCOMPARE(overDatagrams.pictureFor(QSize(640, 480), 1000000), QSize(640, 480));
    }
}

void tst_VideoRateControl::overDatagramsNothingMovesBeforeAReport()
{
    VideoRateControl control;
    for (int t = 0; t <= 3000; t += 100)
        control.updateFromReports(-1, 0, t * 100, t * 100, t);
    QCOMPARE(control.targetBps(), VideoRateControl::StartBps);
}

void tst_VideoRateControl::overDatagramsThePictureGetsWhatSoundAndReportsLeave()
{
    VideoRateControl control;
    // Nothing measured yet: the guess is left out.
    QCOMPARE(control.pictureBps(40000), VideoRateControl::StartBps - 40000);
    // 300 kbit/s on the line, 250 of them the picture's.
    qint64 all = 0;
    qint64 picture = 0;
    for (int t = 0; t <= 2000; t += 100) {
        control.updateFromReports(-1, 0, all, picture, t);
        all += 300000 / 80;
        picture += 250000 / 80;
    }
    QVERIFY2(qAbs(control.pictureBps(40000) - (VideoRateControl::StartBps - 50000)) < 2000,
             qPrintable(QString::number(control.pictureBps(40000))));
}

QTEST_GUILESS_MAIN(tst_VideoRateControl)
#include "tst_videoratecontrol.moc"
