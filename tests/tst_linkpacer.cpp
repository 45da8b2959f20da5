#include "media/PictureFit.h"
#include "media/picture/VideoCodec.h"
#include "support/LinkModel.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <functional>
#include <vector>

using LinkKit::LinkModel;

namespace {

const PictureFit::Picture OptionsPicture{30, 320, 240};

// A call's frames over the modelled link, each coded at the picture the fit chooses.
struct FittedLink
{
    LinkModel link;
    PictureFit fit{LinkModel::TickMs};
    VideoCodec codec;
    std::vector<uchar> coded = std::vector<uchar>(40000);
    int frameNumber = 0;
    struct Sent
    {
        int tick;
        PictureFit::Picture picture;
        qint64 bytes;
    };
    std::vector<Sent> sent;

    FittedLink(double bytesPerSecond, int roundTripMs) : link(bytesPerSecond, roundTripMs)
    {
        link.onTick = [this](double now) { fit.update(link.pacer.drainRate(), link.pacer.linkBusy(), qint64(now)); };
        link.onSent = [this](qint64 bytes) { fit.sent(bytes); };
        link.makeFrame = [this] {
            const PictureFit::Picture p = fit.picture(OptionsPicture);
            const std::vector<uchar> rgb = TestSupport::movingPicture(p.width, p.height, frameNumber++);
            const qint64 bytes = codec.compressStill(rgb.data(), p.width, p.height, p.quality, coded.data(),
                                                     int(coded.size()))
                                 + 11;
            fit.frameSent(bytes);
            sent.push_back({link.ticks, p, bytes});
            return bytes;
        };
    }
    // The first frame from `tick` on whose picture is `wanted`.
    const Sent *first(int tick, const std::function<bool(const PictureFit::Picture &)> &wanted) const
    {
        const auto found = std::find_if(sent.begin(), sent.end(), [&](const Sent &s) { return s.tick >= tick && wanted(s.picture); });
        return found == sent.end() ? nullptr : &*found;
    }
    double seconds(int ticks) const { return ticks * LinkModel::TickMs / 1000.0; }
};

} // namespace

class TestLinkPacer : public QObject
{
    Q_OBJECT

private slots:
    void aFastLinkFarAwayKeepsTheFullTickRate()
    {
        // 2 MB a second, 150 ms there and back: what is in flight is on its way, not queued.
        LinkModel link(2'000'000, 150);
        link.run(20);
        QVERIFY2(link.frameRate(19) > 12.5, qPrintable(QString::number(link.frameRate(19))));
        QVERIFY(LinkModel::worst(link.frameDelays) < 100);
        QCOMPARE(link.soundSent, link.soundMade);
    }

    void aSlowLinkSkipsFramesAndKeepsThemFresh()
    {
        // 20 KB a second, a third of what the full tick rate needs, near and far.
        for (const int roundTrip : {1, 150}) {
            LinkModel link(20'000, roundTrip);
            link.run(20);
            const double fps = link.frameRate(19);
            QVERIFY2(fps > 3 && fps < 8, qPrintable(QString::number(fps)));
            // A frame waits at most about a tick behind what went before it, plus its own
            // time on the link and the way there.
            const double frameTime = link.frameBytes * 1000.0 / link.rate;
            QVERIFY2(LinkModel::worst(link.frameDelays) < 2 * LinkModel::TickMs + frameTime + roundTrip,
                     qPrintable(QString::number(LinkModel::worst(link.frameDelays))));
            QVERIFY(link.soundSent >= link.soundMade - 1);
            QVERIFY2(LinkModel::worst(link.soundDelays) < 500,
                     qPrintable(QString::number(LinkModel::worst(link.soundDelays))));
        }
    }

    void aLinkThatSlowsDownAndRecoversFollowsIt()
    {
        LinkModel link(1'000'000, 20);
        link.run(5);
        QVERIFY(link.frameRate(4) > 12.5);
        link.rate = 15'000;
        const size_t before = link.frameDelays.size();
        link.run(10);
        // Within a second the pacer has learnt the new rate; from then on frames are fresh.
        const size_t settled = before + 4;
        QVERIFY2(LinkModel::worst(link.frameDelays, settled) < 600,
                 qPrintable(QString::number(LinkModel::worst(link.frameDelays, settled))));
        QVERIFY(link.frameRate(5) < 6);
        link.rate = 1'000'000;
        link.run(5);
        QVERIFY2(link.frameRate(3) > 12.5, qPrintable(QString::number(link.frameRate(3))));
    }

    void aLinkThatSlowsLowersQualityThenSizeAndBothComeBack()
    {
        FittedLink call(1'000'000, 20);
        call.link.run(5);
        QVERIFY(call.link.frameRate(4) > 12.5);
        for (const FittedLink::Sent &s : call.sent)
            QVERIFY(s.picture == OptionsPicture);

        // 160 kbit/s: the quality goes first, then the size, within a few seconds.
        call.link.rate = 20'000;
        const int slowed = call.link.ticks;
        call.link.run(20);
        const FittedLink::Sent *lower = call.first(slowed, [](const PictureFit::Picture &p) { return !(p == OptionsPicture); });
        QVERIFY(lower);
        QCOMPARE(lower->picture.width, 320);
        QVERIFY(lower->picture.quality < OptionsPicture.quality);
        QVERIFY2(call.seconds(lower->tick - slowed) < 2, qPrintable(QString::number(call.seconds(lower->tick - slowed))));
        const FittedLink::Sent *smaller = call.first(slowed, [](const PictureFit::Picture &p) { return p.width == 160; });
        QVERIFY(smaller);
        QVERIFY2(call.seconds(smaller->tick - slowed) < 8, qPrintable(QString::number(call.seconds(smaller->tick - slowed))));
        // Settled, the picture moves smoothly: nearly the full tick rate, fresh frames, and
        // no more than about a tick of data waiting at any tick.
        const double fps = call.link.frameRate(10);
        QVERIFY2(fps > 10, qPrintable(QString::number(fps)));
        const int settled = call.link.ticks - 10 * 1000 / LinkModel::TickMs;
        const qint64 mostWaiting = *std::max_element(call.link.waitingAtTicks.begin() + settled,
                                                    call.link.waitingAtTicks.end());
        const double tickOfData = call.link.rate * (LinkModel::TickMs + call.link.roundTrip) / 1000.0;
        QVERIFY2(mostWaiting < 1.5 * tickOfData, qPrintable(QStringLiteral("%1 > %2").arg(mostWaiting).arg(tickOfData)));
        // The size does not swing back and forth while the link stays the same.
        int sizeChanges = 0;
        for (size_t i = 1; i < call.sent.size(); ++i) {
            if (call.sent[i].tick >= settled && call.sent[i].picture.width != call.sent[i - 1].picture.width)
                ++sizeChanges;
        }
        QVERIFY2(sizeChanges <= 2, qPrintable(QString::number(sizeChanges)));

        // Fast again: both come back, no higher than the options ask.
        call.link.rate = 1'000'000;
        const int sped = call.link.ticks;
        call.link.run(15);
        const FittedLink::Sent *back = call.first(sped, [](const PictureFit::Picture &p) { return p == OptionsPicture; });
        QVERIFY(back);
        QVERIFY2(call.seconds(back->tick - sped) < 10, qPrintable(QString::number(call.seconds(back->tick - sped))));
        QVERIFY(call.sent.back().picture == OptionsPicture);
        for (const FittedLink::Sent &s : call.sent) {
            QVERIFY(s.picture.quality <= OptionsPicture.quality);
            QVERIFY(s.picture.width <= OptionsPicture.width);
        }
    }

    // On a clock of the test's own: once the options' picture goes again, the rate the link
    // is trusted with stops growing, as it keeps nothing down any more.
    void theTrustedRateGrowsOnlyWhileItKeepsThePictureDown()
    {
        PictureFit fit(100);
        qint64 now = 0;
        const auto tick = [&](bool busy, qint64 frameBytes) {
            fit.picture(OptionsPicture);
            fit.frameSent(frameBytes);
            fit.frameSent(frameBytes);
            fit.update(10000, busy, now += 100);
        };
        for (int i = 0; i < 4; ++i)
            tick(true, 2000);
        QVERIFY(fit.picture(OptionsPicture).quality < OptionsPicture.quality);
        while (fit.picture(OptionsPicture).quality < OptionsPicture.quality && now < 10000)
            tick(false, 100);
        QVERIFY(fit.picture(OptionsPicture) == OptionsPicture);
        const double trusted = fit.allowance();
        for (int i = 0; i < 20; ++i)
            tick(false, 100);
        QCOMPARE(fit.allowance(), trusted);
    }
};

QTEST_GUILESS_MAIN(TestLinkPacer)
#include "tst_linkpacer.moc"
