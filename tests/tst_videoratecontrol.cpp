#include "media/VideoRateControl.h"
#include "support/LinkModel.h"

#include <QTest>

#include <algorithm>

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

} // namespace

class tst_VideoRateControl : public QObject
{
    Q_OBJECT

private slots:
    void settlesBelowWhatTheLineCarries();
    void aWorseLineIsFollowedWithinFiveSeconds();
    void aBetterLineIsUsedAgainWithinTenSeconds();
    void picturesShrinkWithTheRateAndComeBackWithMargin();
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
    QCOMPARE(control.pictureFor(wanted, 100000), QSize(320, 240));
    // Just above what the larger picture needs is not enough to go back to it.
    later(VideoRateControl::GrowHoldMs);
    QCOMPARE(control.pictureFor(wanted, 160000), QSize(320, 240));
    QCOMPARE(control.pictureFor(wanted, 20000), QSize(160, 120));
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

QTEST_GUILESS_MAIN(tst_VideoRateControl)
#include "tst_videoratecontrol.moc"
