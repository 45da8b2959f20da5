// A call's datagram path alone, two ends in this process over a line that loses packets:
// what the reports say, lost sound handed on for concealment, and nothing in clear.

#include "datagrams/DatagramMedia.h"
#include "datagrams/FrameReferenceCheck.h"
#include "media/sound/OpusVoiceDecoder.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/picture/Vp8Encoder.h"
#include "support/LossyLink.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

namespace {

// RTP's payload type, in clear (RTCP's packet types read as others).
int payloadTypeOf(const QByteArray &datagram)
{
    return datagram.size() < 2 ? -1 : quint8(datagram.at(1)) & 0x7f;
}

// Everything but the picture's first copies: its resent copies, the sound and the reports.
bool isNotFirstPictureCopy(const QByteArray &datagram)
{
    return payloadTypeOf(datagram) != DatagramMedia::Vp8PayloadType;
}

std::vector<qint16> voice(int from, int count)
{
    std::vector<qint16> samples(static_cast<size_t>(count), 0);
    for (int i = 0; i < count; ++i) {
        const double t = double(from + i) / OpusVoiceEncoder::SampleRate;
        samples[size_t(i)] = qint16(6000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 1700 * t));
    }
    return samples;
}

// Two ends of a call's datagram path over a line that loses `loss` of the packets each way.
struct Pair
{
    QByteArray keyA = DatagramMedia::newKey();
    QByteArray keyB = DatagramMedia::newKey();
    DatagramMedia a{keyA, keyB};
    DatagramMedia b{keyB, keyA};
    LossyLink aToB;
    LossyLink bToA;

    Pair(double loss, quint32 seed) : aToB(loss, seed), bToA(loss, seed + 1)
    {
        QObject::connect(&a, &DatagramMedia::datagramReady, &aToB, &LossyLink::carry);
        QObject::connect(&aToB, &LossyLink::delivered, &b, &DatagramMedia::takeDatagram);
        QObject::connect(&b, &DatagramMedia::datagramReady, &bToA, &LossyLink::carry);
        QObject::connect(&bToA, &LossyLink::delivered, &a, &DatagramMedia::takeDatagram);
    }
};

// A 20 ms paced loop of `ticks` steps; `step` gets the step's number.
void runPaced(int ticks, const std::function<void(int)> &step)
{
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    int done = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (done < ticks)
            step(done++);
    });
    timer.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(done == ticks, ticks * 20 * 10);
}

} // namespace

class TestDatagramMedia : public QObject
{
    Q_OBJECT

private slots:
    // The rate control on datagrams lives on the peer's reports: they come, and say what
    // the line does. A line losing a tenth of the packets shows a share lost, the round
    // trip is known, and every datagram sent is counted with its headers.
    void theReportsShowTheRoundTripAndTheLoss()
    {
        Pair pair(0.1, 9090);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        // The line loses only the picture's own packets, not the copies resent for them nor
        // the reports: the loss reported must be the picture's, not its repair's.
        pair.aToB.spare(isNotFirstPictureCopy);
        Vp8Encoder encoder(300);
        OpusVoiceEncoder soundEncoder;
        std::vector<int> reportSizes;
        qint64 soundBytes = 0;
        QObject::connect(&pair.b, &DatagramMedia::datagramReady,
                         [&](const QByteArray &datagram) { reportSizes.push_back(int(datagram.size())); });
        qint64 frameBytes = 0;
        double lostSum = 0;
        int reports = 0;
        int delay = -1;
        DatagramMedia::PathReport last;
        runPaced(100, [&](int tick) {
            const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, tick), tick * 20);
            frameBytes += frame.data.size();
            pair.a.sendVideo(frame.data, frame.droppable);
            const std::vector<qint16> samples = voice(tick * OpusVoiceEncoder::FrameSamples, OpusVoiceEncoder::FrameSamples);
            const QByteArray sound = soundEncoder.encode(samples.data(), OpusVoiceEncoder::FrameSamples);
            soundBytes += sound.size() + DatagramMedia::DatagramOverheadBytes;
            pair.a.sendSound(sound);
            // Each report once: on a busy machine many ticks come in a burst and would read
            // the same one again and again.
            const DatagramMedia::PathReport report = pair.a.pathReport();
            if (report.delayMs >= 0 && (report.delayMs != last.delayMs || report.lost != last.lost)) {
                lostSum += report.lost;
                ++reports;
            }
            last = report;
            delay = std::max(delay, report.delayMs);
        });
        QTRY_VERIFY_WITH_TIMEOUT(pair.a.pathReport().delayMs >= 0, 3000);
        QVERIFY2(delay >= 0, "no report on the picture came while it was sent");
        // A report covers a few packets: on the whole about the tenth the line lost.
        const double meanLost = reports > 0 ? lostSum / reports : 0;
        QVERIFY2(meanLost > 0.03 && meanLost < 0.3, qPrintable(QString::number(meanLost)));
        // The frames, their packets' headers and the reports: more than the frames alone,
        // though not by much; what is not the picture's is the sound and the reports.
        const DatagramMedia::WireBytes sent = pair.a.wireBytesSent();
        const qint64 besidesBytes = sent.all - sent.picture;
        const QString figures = QStringLiteral("%1 on the line for %2 of frames, %3 of them the picture's")
                                    .arg(sent.all)
                                    .arg(frameBytes)
                                    .arg(sent.picture);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(sent.picture > frameBytes && sent.all < frameBytes * 3 / 2 + 20000, qPrintable(figures));
        QVERIFY2(besidesBytes > soundBytes, qPrintable(figures));
        // The peer sends nothing but its reports and requests, and none of it counts as
        // picture. Its reports carry one block (on the picture) and a short name: 66 bytes
        // with the SRTCP trailer, up to 86 when a request for lost packets that had to wait
        // for it rides along (a second block would make 90); its other requests go out alone,
        // without a report around them.
        QCOMPARE(pair.b.wireBytesSent().picture, 0);
        QVERIFY(!reportSizes.empty());
        const auto [least, most] = std::minmax_element(reportSizes.begin(), reportSizes.end());
        QVERIFY2(*most <= 86 && *least < 48, qPrintable(QStringLiteral("the peer's datagrams were %1 to %2 bytes")
                                                            .arg(*least)
                                                            .arg(*most)));
    }

    // The share lost comes from the reports' running totals, whatever each report's own
    // fraction says: a line losing a quarter of the picture shows as a quarter.
    void theShareLostIsReadFromTheReportsTotals()
    {
        DatagramMedia::ReportTotals totals;
        // The first report has only its own fraction.
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 10, 3, 100), 10);
        // 100 packets more, 25 of them lost, though the report's fraction says none.
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 0, 28, 200), 64);
        // A report on no new packet leaves the share as it was.
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 0, 28, 200), 64);
        // Duplicates can make the total fall: no loss, not a negative one.
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 0, 20, 300), 0);
        // The highest sequence number goes on past 65535, extended by its cycles.
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 0, 30, 65536 + 300), 0);
        QCOMPARE(DatagramMedia::lostBetweenReports(totals, 0, 130, 65536 + 700), 64);
    }

    // A lost picture packet is asked for and its copy waited for, even on a line whose round
    // trip is longer than a sound packet may wait: every frame arrives, and none is given up
    // for a key frame.
    void aLostPicturePacketIsRepairedOverALongRoundTrip()
    {
        Pair pair(0.05, 4242);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        // Only the picture's first copies are lost: each lost packet is resent once, and the
        // copy arrives after a round trip of 200 ms.
        pair.aToB.spare(isNotFirstPictureCopy);
        pair.bToA.spare([](const QByteArray &) { return true; });
        pair.aToB.setDelayMs(100);
        pair.bToA.setDelayMs(100);
        QSignalSpy received(&pair.b, &DatagramMedia::videoReceived);
        QSignalSpy keyFrameWanted(&pair.a, &DatagramMedia::keyFrameWanted);
        Vp8Encoder encoder(300);
        constexpr int Frames = 100;
        runPaced(Frames, [&](int tick) {
            // A key frame asked for while the picture begins (its first packets lost before
            // the receiver knew the stream) is no repair.
            if (tick == 25)
                keyFrameWanted.clear();
            pair.a.sendVideo(encoder.encode(TestSupport::movingYuvPicture(320, 240, tick), tick * 20).data, false);
        });
        // A frame whose last packet was lost has nothing after it to show the loss.
        QTRY_VERIFY_WITH_TIMEOUT(received.count() >= Frames - 1, 5000);
        QVERIFY2(pair.aToB.lost() >= 3, "the line lost too little to prove a repair");
        QCOMPARE(keyFrameWanted.count(), 0);
    }

    // A frame no later frame refers to, lost beyond repair, costs that frame alone: the
    // picture goes on and no key frame is asked for. A lost frame that others refer to stops
    // the picture until the key frame asked for comes; nothing built on it is handed on.
    void aLostFrameCostsOnlyTheFramesReferringToIt()
    {
        // A line that loses all it does not spare.
        Pair pair(1.0, 5);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        Vp8Encoder encoder(300);
        encoder.setLayered(true);
        QObject::connect(&pair.a, &DatagramMedia::keyFrameWanted, [&] { encoder.requestKeyFrame(); });
        pair.bToA.spare([](const QByteArray &) { return true; });
        // A picture this small is one packet a frame, so a frame is known on the line by its
        // sequence number (in clear). The line loses the chosen frames and every resent copy.
        std::vector<Vp8Encoder::Frame> sent;
        std::set<int> lost;
        int firstSeq = -1;
        pair.aToB.spare([&](const QByteArray &d) {
            const int payloadType = payloadTypeOf(d);
            if (payloadType == DatagramMedia::Vp8RetransmissionPayloadType)
                return false;
            if (payloadType != DatagramMedia::Vp8PayloadType)
                return true;
            const int seq = (quint8(d.at(2)) << 8) | quint8(d.at(3));
            if (firstSeq < 0)
                firstSeq = seq;
            return lost.count((seq - firstSeq) & 0xffff) == 0;
        });
        QHash<QByteArray, int> indexOf;
        std::set<int> received;
        QObject::connect(&pair.b, &DatagramMedia::videoReceived,
                         [&](const QByteArray &frame) { received.insert(indexOf.value(frame, -1)); });
        int lostBase = -1;
        runPaced(100, [&](int tick) {
            Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(64, 48, tick), tick * 20);
            if (frame.data.isEmpty())
                return;
            const int index = int(sent.size());
            // Two frames nothing refers to, then one that others do.
            if ((index >= 10 && lost.size() == 0 && frame.droppable) || (index >= 20 && lost.size() == 1 && frame.droppable)
                || (index >= 40 && lost.size() == 2 && !frame.droppable && !frame.key)) {
                lost.insert(index);
                if (lost.size() == 3)
                    lostBase = index;
            }
            QVERIFY2(frame.data.size() < DatagramMedia::MaxPacketBytes - 40, "a frame took more than one packet");
            indexOf.insert(frame.data, index);
            pair.a.sendVideo(frame.data, frame.droppable);
            sent.push_back(std::move(frame));
        });
        QCOMPARE(int(lost.size()), 3);
        const auto keyAfter = std::find_if(sent.begin() + lostBase, sent.end(), [](const auto &f) { return f.key; });
        QVERIFY2(keyAfter != sent.end(), "no key frame was asked for after the lost frame others refer to");
        const int key = int(keyAfter - sent.begin());
        QTRY_VERIFY_WITH_TIMEOUT(received.count(key), 5000);
        for (int i = 1; i < key; ++i) {
            const bool expected = i < lostBase && !lost.count(i);
            QVERIFY2(bool(received.count(i)) == expected, qPrintable(QStringLiteral("frame %1 of %2, lost %3")
                                                                         .arg(i)
                                                                         .arg(key)
                                                                         .arg(lostBase)));
            QVERIFY2(i >= lostBase || !sent[size_t(i)].key, "a key frame was asked for before a frame others refer to was lost");
        }
    }

    // What a frame's first packet says of it, read as the payloader writes it, and what
    // follows for the frames after a loss.
    void theFramesDescriptorsTellWhichLossBreaksThePicture()
    {
        const auto read = [](std::initializer_list<uint8_t> bytes) {
            const std::vector<uint8_t> v(bytes);
            return FrameReferenceCheck::parse(v.data(), v.size());
        };
        // Start of a frame, 15-bit picture ID, base index and layer (and its sync bit).
        const auto full = read({0x90, 0xe0, 0x92, 0x34, 0x07, 0x60, 0x9d});
        QVERIFY(full && full->frameStart);
        QCOMPARE(full->pictureId, 0x1234);
        QCOMPARE(full->pictureIdBits, 15);
        QCOMPARE(full->baseIndex, 7);
        QCOMPARE(full->layer, 1);
        // A later packet of a frame, a 7-bit picture ID, a key index without a layer.
        const auto later = read({0x80, 0x90, 0x05, 0x11, 0x00});
        QVERIFY(later && !later->frameStart);
        QCOMPARE(later->pictureId, 5);
        QCOMPARE(later->layer, -1);
        // Fields announced and missing.
        QVERIFY(!read({0x90, 0x80}));
        QVERIFY(!read({0x90, 0x80, 0x81}));
        QVERIFY(!read({0x90, 0x60, 0x01}));
        QVERIFY(!read({}));

        FrameReferenceCheck check;
        const auto frame = [](int base, int layer) {
            FrameReferenceCheck::Descriptor d;
            d.baseIndex = base;
            d.layer = layer;
            return d;
        };
        QVERIFY(!check.take(frame(254, 0), false)); // nothing before a key frame
        QVERIFY(check.take(frame(255, 0), true));
        QVERIFY(check.take(frame(255, 1), false));
        // The frame of layer 1 on base 0 was lost; the base index wraps.
        QVERIFY(check.take(frame(0, 0), false));
        QVERIFY(check.take(frame(1, 0), false));
        // Base 2 was lost: neither its layer-1 frame nor the next base frame decodes.
        QVERIFY(!check.take(frame(2, 1), false));
        QVERIFY(!check.take(frame(3, 0), false));
        QVERIFY(check.take(frame(4, 0), true));
        QVERIFY(check.take(frame(4, 1), false));

        // Without layers, every picture ID must follow the last, wrapping at its width.
        FrameReferenceCheck plain;
        FrameReferenceCheck::Descriptor d;
        d.pictureIdBits = 15;
        d.pictureId = 0x7fff;
        QVERIFY(plain.take(d, true));
        d.pictureId = 0;
        QVERIFY(plain.take(d, false));
        d.pictureId = 2;
        QVERIFY(!plain.take(d, false));
        d.pictureId = 3;
        QVERIFY(!plain.take(d, false));
    }

    // Sound is not resent: every lost packet is reported with the next one that came, so the
    // decoder fills exactly the time that was lost and the sound runs on without a gap.
    void lostSoundIsReportedForConcealment()
    {
        Pair pair(0.05, 77);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        OpusVoiceEncoder encoder;
        encoder.setPacketLossPercent(10);
        OpusVoiceDecoder decoder;
        constexpr int Frame = OpusVoiceEncoder::FrameSamples;
        qint64 played = 0;
        qint64 filled = 0;
        qint16 out[OpusVoiceDecoder::MaxSamples];
        QObject::connect(&pair.b, &DatagramMedia::soundReceived, [&](const QByteArray &packet, int lost) {
            for (int left = lost; left > 0; left -= Frame) {
                const int n = decoder.recover(packet, qMin(left, Frame), out, OpusVoiceDecoder::MaxSamples);
                filled += n;
                played += n;
            }
            played += decoder.decode(packet, out, OpusVoiceDecoder::MaxSamples);
        });
        constexpr int Packets = 150;
        runPaced(Packets, [&](int tick) {
            const std::vector<qint16> samples = voice(tick * Frame, Frame);
            pair.a.sendSound(encoder.encode(samples.data(), Frame));
        });
        // The last packets may be lost with none after them to tell.
        QTRY_VERIFY_WITH_TIMEOUT(played >= qint64(Packets - 4) * Frame, 5000);
        QVERIFY2(filled > 0, "no sound packet was lost: the scenario proves no concealment");
        QVERIFY(played <= qint64(Packets) * Frame);
    }

    // What crosses the line is encrypted: no run of a frame's bytes is found in any
    // datagram, and an end holding another key takes nothing of it.
    void nothingCrossesInClearAndAStrangerKeyIsRefused()
    {
        const QByteArray keyA = DatagramMedia::newKey();
        const QByteArray keyB = DatagramMedia::newKey();
        QCOMPARE(keyA.size(), DatagramMedia::KeyBytes);
        QVERIFY(keyA != keyB);
        DatagramMedia a(keyA, keyB);
        DatagramMedia stranger(keyB, DatagramMedia::newKey());
        DatagramMedia b(keyB, keyA);
        QList<QByteArray> wire;
        QObject::connect(&a, &DatagramMedia::datagramReady, [&](const QByteArray &d) {
            wire.append(d);
            stranger.takeDatagram(d);
            b.takeDatagram(d);
        });
        QSignalSpy strangerGot(&stranger, &DatagramMedia::videoReceived);
        QSignalSpy bGot(&b, &DatagramMedia::videoReceived);
        Vp8Encoder encoder(400);
        QList<QByteArray> frames;
        runPaced(20, [&](int tick) {
            const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, tick), tick * 40);
            frames.append(frame.data);
            a.sendVideo(frame.data, frame.droppable);
        });
        QTRY_VERIFY_WITH_TIMEOUT(bGot.count() >= 15, 5000);
        QCOMPARE(strangerGot.count(), 0);
        QCOMPARE(stranger.datagramsDecrypted(), 0);
        for (const QByteArray &frame : frames) {
            for (qsizetype at = 0; at + 16 <= frame.size(); at += 200) {
                const QByteArray piece = frame.mid(at, 16);
                for (const QByteArray &d : wire)
                    QVERIFY2(!d.contains(piece), "a frame's bytes crossed the line in clear");
            }
        }
    }

};

QTEST_GUILESS_MAIN(TestDatagramMedia)
#include "tst_datagrammedia.moc"
