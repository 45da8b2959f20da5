#include "datagrams/DatagramMedia.h"
#include "media/DatagramLink.h"
#include "media/DatagramModule.h"
#include "media/sound/OpusVoiceDecoder.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/picture/Vp8Decoder.h"
#include "media/picture/Vp8Encoder.h"
#include "media/picture/YuvPicture.h"
#include "support/LossyLink.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

namespace {

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

// Two links that exchanged offers inside their channel (here: directly), handing each
// other their acknowledgements, and both talking, a voice frame every 20 ms while this lives.
class TalkingLinks
{
public:
    TalkingLinks(DatagramLink &a, DatagramLink &b) : m_a(a), m_b(b)
    {
        m_offersTaken = a.takeOffer(b.offer()) && b.takeOffer(a.offer());
        QObject::connect(&a, &DatagramLink::acknowledgementWanted, &b, &DatagramLink::takeAcknowledgement);
        QObject::connect(&b, &DatagramLink::acknowledgementWanted, &a, &DatagramLink::takeAcknowledgement);
        // A side that goes back to the channel says so there.
        QObject::connect(&a, &DatagramLink::fellBack, &b, [&b](bool told) {
            if (!told)
                b.takePeerStopped();
        });
        QObject::connect(&b, &DatagramLink::fellBack, &a, [&a](bool told) {
            if (!told)
                a.takePeerStopped();
        });
        QObject::connect(&m_talk, &QTimer::timeout, [this] {
            m_a.sendSound(m_encoder.encode(m_samples.data(), OpusVoiceEncoder::FrameSamples));
            m_b.sendSound(m_encoder.encode(m_samples.data(), OpusVoiceEncoder::FrameSamples));
        });
        m_talk.start(20);
    }
    bool offersTaken() const { return m_offersTaken; }
    void stopTalking() { m_talk.stop(); }

private:
    DatagramLink &m_a;
    DatagramLink &m_b;
    bool m_offersTaken = false;
    OpusVoiceEncoder m_encoder;
    const std::vector<qint16> m_samples = voice(0, OpusVoiceEncoder::FrameSamples);
    QTimer m_talk;
};

} // namespace

class TestDatagramMedia : public QObject
{
    Q_OBJECT

    // The links' sessions come from the module this build made.
    DatagramModule module;

private slots:
    // The picture over a line losing 5 % of its packets both ways (its feedback and the
    // resent copies too): lost packets are asked for, again if need be, and resent in
    // time, so every frame is drawn and the picture never stands still for long.
    void pictureIsRepairedOverLoss()
    {
        Pair pair(0.05, 4242);
        QVERIFY2(pair.a.isValid(), qPrintable(pair.a.problem()));
        QVERIFY2(pair.b.isValid(), qPrintable(pair.b.problem()));
        Vp8Encoder encoder(400);
        Vp8Decoder decoder;
        int sent = 0;
        int drawn = 0;
        qint64 longestStill = 0;
        qint64 longestSendGap = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 lastDrawn = -1;
        qint64 lastSent = -1;
        int keysAsked = 0;
        QObject::connect(&pair.a, &DatagramMedia::keyFrameWanted, [&] {
            ++keysAsked;
            encoder.requestKeyFrame();
        });
        QObject::connect(&pair.b, &DatagramMedia::videoReceived, [&](const QByteArray &frame) {
            if (decoder.decode(frame) != Vp8Decoder::Result::Picture)
                return;
            ++drawn;
            const qint64 now = clock.elapsed();
            if (lastDrawn >= 0)
                longestStill = qMax(longestStill, now - lastDrawn);
            lastDrawn = now;
        });
        runPaced(200, [&](int tick) {
            if (tick % 2)
                return;
            const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, tick / 2), tick * 20);
            if (frame.data.isEmpty())
                return;
            const qint64 now = clock.elapsed();
            if (lastSent >= 0)
                longestSendGap = qMax(longestSendGap, now - lastSent);
            lastSent = now;
            pair.a.sendVideo(frame.data);
            ++sent;
        });
        QVERIFY(sent > 80);
        // Every frame comes, the lost packets' copies in time for it. A busy machine may hold
        // a copy back past the jitter buffer once: that frame is given up and a key frame
        // asked, so one or two may be missing; without repair every lost packet would cost frames.
        // (The last frames are still in the jitter buffer.)
        const bool allDrawn = QTest::qWaitFor([&] { return drawn >= sent; }, 3000);
        const QString figures = QStringLiteral("%1 of %2 frames drawn, %3 packets lost, %4 key frames asked, "
                                               "still for %5 ms at most (sender's longest pause %6 ms)")
                                    .arg(drawn)
                                    .arg(sent)
                                    .arg(pair.aToB.lost())
                                    .arg(keysAsked)
                                    .arg(longestStill)
                                    .arg(longestSendGap);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(pair.aToB.lost() > 5, "the line lost nothing: the scenario proves no repair");
        QVERIFY2(allDrawn || (drawn >= sent - 2 && keysAsked > 0), qPrintable(figures));
        // A busy machine may hold the sender back; the receiver adds no freeze of its own.
        QVERIFY2(longestStill < 500 + longestSendGap, qPrintable(figures));
    }

    // The rate control on datagrams lives on the peer's reports: they come, and say what
    // the line does. A line losing a tenth of the packets shows a share lost, the round
    // trip is known, and every datagram sent is counted with its headers.
    void theReportsShowTheRoundTripAndTheLoss()
    {
        Pair pair(0.1, 9090);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        // The line loses only the picture's own packets, not the copies resent for them nor
        // the reports: the loss reported must be the picture's, not its repair's.
        pair.aToB.spare([](const QByteArray &datagram) {
            return datagram.size() < 2 || (quint8(datagram.at(1)) & 0x7f) != DatagramMedia::Vp8PayloadType;
        });
        Vp8Encoder encoder(300);
        qint64 frameBytes = 0;
        double lostSum = 0;
        int reports = 0;
        int delay = -1;
        DatagramMedia::PathReport last;
        runPaced(100, [&](int tick) {
            const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, tick), tick * 20);
            frameBytes += frame.data.size();
            pair.a.sendVideo(frame.data);
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
        // though not by much.
        QVERIFY2(pair.a.wireBytesSent() > frameBytes && pair.a.wireBytesSent() < frameBytes * 3 / 2 + 20000,
                 qPrintable(QStringLiteral("%1 on the line for %2 of frames").arg(pair.a.wireBytesSent()).arg(frameBytes)));
    }

    // A stretch the line loses whole, longer than any resent copy can make up for: the
    // receiver asks for a key frame, and the picture goes on from it.
    void aPictureBeyondRepairBringsAKeyFrame()
    {
        Pair pair(0.0, 1);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        Vp8Encoder encoder(400);
        Vp8Decoder decoder;
        int drawn = 0;
        int drawnBeforeGap = -1;
        int keysAsked = 0;
        int keysAskedBeforeGap = -1;
        QObject::connect(&pair.a, &DatagramMedia::keyFrameWanted, [&] {
            ++keysAsked;
            encoder.requestKeyFrame();
        });
        QObject::connect(&pair.b, &DatagramMedia::videoReceived, [&](const QByteArray &frame) {
            if (decoder.decode(frame) == Vp8Decoder::Result::Picture)
                ++drawn;
        });
        // 1.4 s lost: more than the sender keeps for resending.
        runPaced(180, [&](int tick) {
            if (tick == 40) {
                drawnBeforeGap = drawn;
                keysAskedBeforeGap = keysAsked;
                pair.aToB.block();
            } else if (tick == 110) {
                pair.aToB.unblock();
            }
            if (tick % 2 == 0)
                pair.a.sendVideo(encoder.encode(TestSupport::movingYuvPicture(320, 240, tick / 2), tick * 20).data);
        });
        QVERIFY(drawnBeforeGap > 5);
        QTRY_VERIFY_WITH_TIMEOUT(keysAsked > keysAskedBeforeGap && drawn >= drawnBeforeGap + 10, 5000);
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
            a.sendVideo(frame.data);
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

    // Datagrams of any length and content from the network are dropped, and the call goes
    // on.
    void rubbishIsDroppedAndTheCallGoesOn()
    {
        Pair pair(0.0, 5);
        QVERIFY(pair.a.isValid() && pair.b.isValid());
        std::mt19937 random(99);
        for (int i = 0; i < 3000; ++i) {
            QByteArray d(int(random() % 1600), Qt::Uninitialized);
            for (char &c : d)
                c = char(random());
            if (i % 3 == 0 && d.size() > 2)
                d[0] = char(0x80); // looks like RTP version 2
            pair.b.takeDatagram(d);
        }
        QVERIFY(pair.b.datagramsRefused() > 0);
        QSignalSpy got(&pair.b, &DatagramMedia::videoReceived);
        Vp8Encoder encoder(400);
        runPaced(20, [&](int tick) {
            pair.a.sendVideo(encoder.encode(TestSupport::movingYuvPicture(160, 120, tick), tick * 40).data);
        });
        QTRY_VERIFY_WITH_TIMEOUT(got.count() >= 15, 5000);
    }
    // Two ends that exchanged offers inside their channel (here: directly) find that their
    // datagrams arrive, say so, and move picture and sound there.
    void linksMoveToDatagramsWhenTheyArrive()
    {
        DatagramLink a(QHostAddress::LocalHost, module);
        DatagramLink b(QHostAddress::LocalHost, module);
        QVERIFY(a.isValid() && b.isValid());
        QCOMPARE(a.offer().size(), DatagramLink::OfferBytes);
        TalkingLinks talking(a, b);
        QVERIFY(talking.offersTaken());
        QVERIFY(!a.takeOffer(b.offer()));
        QVERIFY(a.probing() && !a.sendsOverDatagrams());
        QTRY_VERIFY_WITH_TIMEOUT(a.sendsOverDatagrams() && b.sendsOverDatagrams(), 4000);
        QVERIFY(!a.probing());
        QTRY_VERIFY_WITH_TIMEOUT(a.receivesSound() && b.receivesSound(), 4000);
        QSignalSpy pictures(&b, &DatagramLink::videoReceived);
        Vp8Encoder vp8(300);
        for (int i = 0; i < 5; ++i)
            a.sendVideo(vp8.encode(TestSupport::movingYuvPicture(160, 120, i), i * 40).data);
        QTRY_VERIFY_WITH_TIMEOUT(pictures.count() >= 5, 4000);
    }

    // A line that carries no datagrams: the probe ends without an acknowledgement and
    // nothing more goes out as datagrams; the call stays on its channel.
    void withoutDatagramsTheCallStaysOnTheChannel()
    {
        QUdpSocket hole; // takes the datagrams and never answers: a firewall that drops them
        QVERIFY(hole.bind(QHostAddress::LocalHost, 0));
        DatagramLink a(QHostAddress::LocalHost, module, 400);
        DatagramLink b(QHostAddress::LocalHost, module, 400);
        a.setPeerPort(hole.localPort());
        QVERIFY(a.takeOffer(b.offer()));
        QSignalSpy failed(&a, &DatagramLink::probeFailed);
        QSignalSpy switched(&a, &DatagramLink::switched);
        OpusVoiceEncoder encoder;
        const std::vector<qint16> samples = voice(0, OpusVoiceEncoder::FrameSamples);
        QTimer talk;
        connect(&talk, &QTimer::timeout, [&] { a.sendSound(encoder.encode(samples.data(), OpusVoiceEncoder::FrameSamples)); });
        talk.start(20);
        QVERIFY(failed.wait(3000));
        QVERIFY(!a.probing());
        QVERIFY(!a.sendsOverDatagrams());
        // A late word from the peer does not move the call after the probe gave up.
        a.takeAcknowledgement();
        QVERIFY(!a.sendsOverDatagrams());
        QCOMPARE(switched.count(), 0);
        QTRY_VERIFY(hole.hasPendingDatagrams());
        while (hole.hasPendingDatagrams())
            hole.receiveDatagram();
        QTest::qWait(200);
        // What the pipeline still had on its way may trickle out; nothing new is sent.
        while (hole.hasPendingDatagrams())
            hole.receiveDatagram();
        QTest::qWait(300);
        int after = 0;
        while (hole.hasPendingDatagrams()) {
            const QNetworkDatagram d = hole.receiveDatagram();
            // RTCP reports are the session's own; sound packets would be RTP.
            if (d.data().size() > 1 && !(quint8(d.data().at(1)) >= 192 && quint8(d.data().at(1)) <= 223))
                ++after;
        }
        QCOMPARE(after, 0);
    }

    // Datagrams that stop after the switch while the channel lives: the link goes back to
    // the channel and says so. A peer that only stops talking still sends its reports and
    // keeps the link.
    void aLinkWhoseDatagramsStopFallsBackToTheChannel()
    {
        DatagramLink a(QHostAddress::LocalHost, module);
        auto b = std::make_unique<DatagramLink>(QHostAddress::LocalHost, module);
        TalkingLinks talking(a, *b);
        QVERIFY(talking.offersTaken());
        QTRY_VERIFY_WITH_TIMEOUT(a.sendsOverDatagrams() && b->sendsOverDatagrams() && a.receivesSound(), 4000);
        QSignalSpy fellBack(&a, &DatagramLink::fellBack);
        talking.stopTalking();
        QVERIFY(!fellBack.wait(DatagramLink::StallMs + 1000));
        QVERIFY(a.sendsOverDatagrams());
        b.reset();
        QVERIFY(fellBack.wait(DatagramLink::StallMs * 3));
        QVERIFY(!a.sendsOverDatagrams());
        QVERIFY(!a.receivesSound());
        QCOMPARE(fellBack.count(), 1);
    }

    // Only one direction stops carrying datagrams: the end that hears nothing goes back to
    // the channel and says so there, and the other follows at once rather than sending where
    // nothing arrives until it notices the silence itself; neither drops the sound the other
    // now sends over the channel.
    void whenOneDirectionStopsBothEndsGoBack()
    {
        DatagramLink a(QHostAddress::LocalHost, module);
        DatagramLink b(QHostAddress::LocalHost, module);
        // A's datagrams to B pass a relay that can stop carrying them.
        QUdpSocket relay;
        QVERIFY(relay.bind(QHostAddress::LocalHost, 0));
        bool carry = true;
        connect(&relay, &QUdpSocket::readyRead, [&] {
            while (relay.hasPendingDatagrams()) {
                const QNetworkDatagram d = relay.receiveDatagram();
                if (carry)
                    relay.writeDatagram(d.data(), QHostAddress::LocalHost, b.localPort());
            }
        });
        a.setPeerPort(relay.localPort());
        TalkingLinks talking(a, b);
        QVERIFY(talking.offersTaken());
        QTRY_VERIFY_WITH_TIMEOUT(a.sendsOverDatagrams() && b.sendsOverDatagrams() && a.receivesSound()
                                     && b.receivesSound(),
                                 4000);
        QSignalSpy aBack(&a, &DatagramLink::fellBack);
        QSignalSpy bBack(&b, &DatagramLink::fellBack);
        carry = false;
        QTRY_VERIFY_WITH_TIMEOUT(!b.sendsOverDatagrams(), DatagramLink::StallMs * 3);
        QVERIFY(!a.sendsOverDatagrams() && !a.receivesSound());
        QCOMPARE(bBack.count(), 1);
        QCOMPARE(bBack.first().first().toBool(), false);
        QCOMPARE(aBack.count(), 1);
        QCOMPARE(aBack.first().first().toBool(), true);
    }

    // What is not an offer is refused.
    void offersThatAreNotOffersAreRefused()
    {
        DatagramLink a(QHostAddress::LocalHost, module);
        DatagramLink b(QHostAddress::LocalHost, module);
        const QByteArray offer = b.offer();
        QVERIFY(!a.takeOffer(offer.left(offer.size() - 1)));
        QVERIFY(!a.takeOffer(offer + 'x'));
        QByteArray noPort = offer;
        noPort[0] = 0;
        noPort[1] = 0;
        QVERIFY(!a.takeOffer(noPort));
        QVERIFY(!a.probing());
        QVERIFY(a.takeOffer(offer));
    }

    // A program without the datagram media module (or with a file in its place that is no
    // module) offers nothing, takes no offer and says why.
    void aLinkWithoutItsModuleOffersNothingAndSaysWhy()
    {
        QTemporaryDir folder;
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        const auto unusable = [&peer](DatagramModule &without) {
            DatagramLink a(QHostAddress::LocalHost, without);
            if (a.isValid() || !a.offer().isEmpty())
                return QStringLiteral("(a link that offers)");
            QByteArray offer(DatagramLink::OfferBytes, 'k');
            offer[0] = char(peer.localPort() >> 8);
            offer[1] = char(peer.localPort() & 0xff);
            if (a.takeOffer(offer) || a.probing())
                return QStringLiteral("(a link that took an offer)");
            return a.problem();
        };
        DatagramModule missing({folder.path()});
        const QString notFound = unusable(missing);
        QVERIFY2(notFound.contains(QLatin1String("zelmo-datagrams.so was not found")) && notFound.contains(folder.path()),
                 qPrintable(notFound));
        QVERIFY(!missing.isLoaded());

        QFile notAModule(folder.filePath(QString::fromLatin1(DatagramModule::FileName)));
        QVERIFY(notAModule.open(QIODevice::WriteOnly));
        notAModule.write("not a shared object");
        notAModule.close();
        DatagramModule broken({folder.path()});
        const QString unloadable = unusable(broken);
        QVERIFY2(unloadable.contains(QLatin1String("could not be loaded")), qPrintable(unloadable));
        QVERIFY(!broken.isLoaded());
    }
};

QTEST_GUILESS_MAIN(TestDatagramMedia)
#include "tst_datagrammedia.moc"
