#include "media/LinkPacer.h"

#include "support/TestSupport.h"

#include <deque>

namespace {

// A call's send loop over a modelled link: a bottleneck of `rate` bytes a second that sends
// in order, then `roundTrip` milliseconds until the acknowledgement is back. The peer reads
// at once. Each 75 ms tick offers the sound block the microphone has made (one every 80 ms)
// and a fresh frame, as the media loop does, through the pacer.
struct LinkModel
{
    static constexpr int TickMs = 75;

    double rate;
    int roundTrip;
    int frameBytes = 3000;
    int soundBytes = 143;

    LinkPacer pacer{TickMs};
    double lastDeparture = 0; // ms
    // Bytes handed over and when the bottleneck lets them go.
    struct Piece
    {
        qint64 bytes;
        double departs;
    };
    std::deque<Piece> unacknowledged;
    int soundMade = 0;
    int soundSent = 0;
    std::vector<double> frameDelays; // capture to arrival, ms
    std::vector<double> soundDelays; // made to arrival, ms
    std::vector<int> frameTicks;
    int ticks = 0;

    LinkModel(double bytesPerSecond, int roundTripMs) : rate(bytesPerSecond), roundTrip(roundTripMs) {}

    // Hands bytes to the link at `now`; returns when they reach the peer.
    double send(qint64 bytes, double now)
    {
        const double departs = std::max(now, lastDeparture) + bytes * 1000.0 / rate;
        lastDeparture = departs;
        unacknowledged.push_back({bytes, departs});
        pacer.sent(bytes);
        return departs + roundTrip / 2.0;
    }

    qint64 waitingAt(double now)
    {
        while (!unacknowledged.empty() && unacknowledged.front().departs + roundTrip <= now)
            unacknowledged.pop_front();
        qint64 total = 0;
        for (const Piece &p : unacknowledged)
            total += p.bytes;
        return total;
    }

    void run(int seconds)
    {
        for (const int end = ticks + seconds * 1000 / TickMs; ticks < end; ++ticks) {
            const double now = ticks * double(TickMs);
            pacer.update(waitingAt(now), roundTrip, qint64(now));
            while ((soundMade + 1) * 80.0 <= now)
                ++soundMade;
            if (soundSent < soundMade && pacer.soundAllowed()) {
                const double made = (soundSent + 1) * 80.0;
                soundDelays.push_back(send(soundBytes, now) - made);
                ++soundSent;
            }
            if (pacer.videoAllowed()) {
                frameDelays.push_back(send(frameBytes, now) - now);
                frameTicks.push_back(ticks);
            }
        }
    }

    // Frames sent per second over the last `seconds`.
    double frameRate(int seconds) const
    {
        const int from = ticks - seconds * 1000 / TickMs;
        const auto n = std::count_if(frameTicks.begin(), frameTicks.end(), [from](int t) { return t >= from; });
        return n * 1000.0 / (seconds * 1000 / TickMs * TickMs);
    }
    // The largest delay among the values after the first `skip`.
    static double worst(const std::vector<double> &values, size_t skip = 0)
    {
        return values.size() <= skip ? 0 : *std::max_element(values.begin() + qsizetype(skip), values.end());
    }
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
};

QTEST_GUILESS_MAIN(TestLinkPacer)
#include "tst_linkpacer.moc"
