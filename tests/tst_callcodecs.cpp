#include "media/CodedFrameParts.h"
#include "media/CodedMediaPacket.h"
#include "media/sound/OpusVoiceDecoder.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/picture/Vp8Decoder.h"
#include "media/picture/Vp8Encoder.h"
#include "media/picture/YuvPicture.h"
#include "support/TestSupport.h"

#include <QTest>

#include <cmath>
#include <random>

namespace {

QImage rgbImage(int width, int height, int frame)
{
    const std::vector<uchar> rgb = TestSupport::movingPicture(width, height, frame);
    return QImage(rgb.data(), width, height, width * 3, QImage::Format_RGB888).convertToFormat(QImage::Format_RGB32);
}

// A tone at 16000 samples a second.
std::vector<qint16> wideTone(double hertz, int count, double amplitude = 8000)
{
    std::vector<qint16> samples(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        samples[size_t(i)] = qint16(amplitude * std::sin(2 * M_PI * hertz * i / OpusVoiceEncoder::SampleRate));
    return samples;
}

// Mean bytes a frame over `frames` frames of moving pictures at `kbps`.
double meanFrameBytes(int kbps, int frames)
{
    Vp8Encoder encoder(kbps);
    qint64 total = 0;
    for (int i = 0; i < frames; ++i)
        total += encoder.encode(TestSupport::movingYuvPicture(320, 240, i), i * 40).data.size();
    return double(total) / frames;
}

} // namespace

class tst_CallCodecs : public QObject
{
    Q_OBJECT

private slots:
    void vp8PicturesComeBackAsSent();
    void vp8FollowsTheBitrateSetWhileRunning();
    void vp8KeyFrameOnRequestAndDecoderWaitsForOne();
    void vp8LayeredStreamDecodesAlikeWithoutItsDroppableFrames();
    void vp8BadFramesAreRefusedAndTheStreamGoesOn();
    void vp8StreamChangingSizeEveryFrame();
    void opusCarriesWidebandVoice();
    void opusRefusesBadPacketsAndRepairsALoss();
    void codedPacketsNeverHoldTheTerminator();
    void codedPacketsThatDoNotReadAreDropped();
    void aFrameLargerThanAPacketArrivesWholeAndAnOversizedOneNot();
};

void tst_CallCodecs::vp8PicturesComeBackAsSent()
{
    Vp8Encoder encoder(800);
    Vp8Decoder decoder;
    for (int i = 0; i < 10; ++i) {
        const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(640, 480, i), i * 40);
        QVERIFY(!frame.data.isEmpty());
        QCOMPARE(frame.key, i == 0);
        QCOMPARE(decoder.decode(frame.data), Vp8Decoder::Result::Picture);
        QCOMPARE(decoder.picture().size(), QSize(640, 480));
        // Drawn as it was captured (colour conversion and coding both lose a little).
        QVERIFY2(TestSupport::meanError(decoder.picture(), rgbImage(640, 480, i)) < 12,
                 qPrintable(QString::number(TestSupport::meanError(decoder.picture(), rgbImage(640, 480, i)))));
    }
    QCOMPARE(decoder.failures(), 0);
}

void tst_CallCodecs::vp8FollowsTheBitrateSetWhileRunning()
{
    const double low = meanFrameBytes(100, 50);
    const double high = meanFrameBytes(1000, 50);
    // 25 frames a second: 100 kbit/s is 500 bytes a frame, 1000 kbit/s 5000.
    QVERIFY2(low < 900, qPrintable(QString::number(low)));
    QVERIFY2(high > 3 * low, qPrintable(QString::number(high)));

    Vp8Encoder encoder(1000);
    for (int i = 0; i < 30; ++i)
        encoder.encode(TestSupport::movingYuvPicture(320, 240, i), i * 40);
    encoder.setBitrate(100);
    qint64 after = 0;
    for (int i = 30; i < 80; ++i) {
        const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, i), i * 40);
        QVERIFY(!frame.key);
        if (i >= 55)
            after += frame.data.size();
    }
    QVERIFY2(after / 25.0 < 900, qPrintable(QString::number(after / 25.0)));
}

void tst_CallCodecs::vp8KeyFrameOnRequestAndDecoderWaitsForOne()
{
    Vp8Encoder encoder(500);
    QList<Vp8Encoder::Frame> frames;
    for (int i = 0; i < 6; ++i)
        frames.append(encoder.encode(TestSupport::movingYuvPicture(320, 240, i), i * 40));
    encoder.requestKeyFrame();
    frames.append(encoder.encode(TestSupport::movingYuvPicture(320, 240, 6), 240));
    frames.append(encoder.encode(TestSupport::movingYuvPicture(320, 240, 7), 280));
    QVERIFY(frames[6].key);
    QVERIFY(!frames[7].key);

    // A receiver that joins late cannot use frames that build on ones it never had.
    Vp8Decoder decoder;
    QVERIFY(decoder.keyFrameNeeded());
    QCOMPARE(decoder.decode(frames[3].data), Vp8Decoder::Result::Refused);
    QVERIFY(decoder.keyFrameNeeded());
    QCOMPARE(decoder.decode(frames[6].data), Vp8Decoder::Result::Picture);
    QVERIFY(!decoder.keyFrameNeeded());
    QCOMPARE(decoder.decode(frames[7].data), Vp8Decoder::Result::Picture);
}

// Every other frame of a layered stream is one nothing refers to: a receiver that lost
// all of them draws the others exactly as one that got every frame.
void tst_CallCodecs::vp8LayeredStreamDecodesAlikeWithoutItsDroppableFrames()
{
    Vp8Encoder encoder(600);
    encoder.setLayered(true);
    Vp8Decoder everyFrame;
    Vp8Decoder baseOnly;
    int droppable = 0;
    for (int i = 0; i < 30; ++i) {
        if (i == 15)
            encoder.requestKeyFrame();
        const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(320, 240, i), i * 40);
        QVERIFY(!frame.data.isEmpty());
        // Alternating, and a key frame is never one to leave out.
        QCOMPARE(frame.droppable, i != 0 && i != 15 && (i % 2 == (i < 15 ? 1 : 0)));
        QCOMPARE(everyFrame.decode(frame.data), Vp8Decoder::Result::Picture);
        if (frame.droppable) {
            ++droppable;
            continue;
        }
        QCOMPARE(baseOnly.decode(frame.data), Vp8Decoder::Result::Picture);
        QVERIFY2(baseOnly.picture() == everyFrame.picture(), qPrintable(QStringLiteral("frame %1").arg(i)));
    }
    QCOMPARE(droppable, 14);
}

void tst_CallCodecs::vp8BadFramesAreRefusedAndTheStreamGoesOn()
{
    Vp8Encoder encoder(500);
    const Vp8Encoder::Frame key = encoder.encode(TestSupport::movingYuvPicture(320, 240, 0), 0);
    const Vp8Encoder::Frame next = encoder.encode(TestSupport::movingYuvPicture(320, 240, 1), 40);

    // A key frame that claims 65535 x 65535 (the size fields are 14 bits; all ones, with
    // the scale bits) is refused before anything is allocated for it.
    QByteArray huge = key.data;
    for (int i = 6; i < 10; ++i)
        huge[i] = char(0xff);
    Vp8Decoder decoder;
    QCOMPARE(decoder.decode(huge), Vp8Decoder::Result::Refused);
    QVERIFY(decoder.keyFrameNeeded());
    // 16383 x 16383, the most the format can say, without scaling.
    huge[7] = char(0x3f);
    huge[9] = char(0x3f);
    QCOMPARE(decoder.decode(huge), Vp8Decoder::Result::Refused);

    // Noise, a cut key frame, an empty frame: refused, and the next key frame decodes.
    std::mt19937 random(7);
    for (int n = 0; n < 200; ++n) {
        QByteArray noise(int(random() % 3000) + 1, Qt::Uninitialized);
        for (char &c : noise)
            c = char(random());
        decoder.decode(noise);
        QByteArray damaged = key.data;
        for (int k = 0; k < 8; ++k)
            damaged[int(random() % damaged.size())] = char(random());
        decoder.decode(damaged);
    }
    QCOMPARE(decoder.decode(key.data.left(20)), Vp8Decoder::Result::Refused);
    QCOMPARE(decoder.decode(QByteArray()), Vp8Decoder::Result::Refused);
    QCOMPARE(decoder.decode(key.data), Vp8Decoder::Result::Picture);
    QCOMPARE(decoder.decode(next.data), Vp8Decoder::Result::Picture);
    QCOMPARE(decoder.picture().size(), QSize(320, 240));

    // An inter frame whose data is damaged makes the decoder wait for a key frame.
    QByteArray damagedNext = next.data;
    for (int i = 10; i < damagedNext.size(); i += 3)
        damagedNext[i] = char(~damagedNext[i]);
    decoder.decode(damagedNext);
    if (decoder.keyFrameNeeded())
        QCOMPARE(decoder.decode(next.data), Vp8Decoder::Result::Refused);
    QCOMPARE(decoder.decode(key.data), Vp8Decoder::Result::Picture);
}

void tst_CallCodecs::vp8StreamChangingSizeEveryFrame()
{
    Vp8Encoder encoder(500);
    Vp8Decoder decoder;
    const QSize sizes[] = {{320, 240}, {640, 480}, {160, 120}};
    qint64 settledKb = 0;
    for (int i = 0; i < 60; ++i) {
        if (i == 12)
            settledKb = TestSupport::residentKilobytes();
        const QSize size = sizes[i % 3];
        const Vp8Encoder::Frame frame = encoder.encode(TestSupport::movingYuvPicture(size.width(), size.height(), i), i * 40);
        // A new size starts over with a key frame.
        QVERIFY(frame.key);
        QCOMPARE(decoder.decode(frame.data), Vp8Decoder::Result::Picture);
        QCOMPARE(decoder.picture().size(), size);
    }
    // What each size was set up with is given back when the next comes.
    const qint64 grownKb = TestSupport::residentKilobytes() - settledKb;
    if (!TestSupport::UnderAddressSanitizer)
        QVERIFY2(grownKb < 16 * 1024, qPrintable(QString::number(grownKb)));
    // A picture larger than the receiver takes (a shared screen beyond 1920 x 1080) is refused.
    const Vp8Encoder::Frame large = encoder.encode(TestSupport::movingYuvPicture(2560, 1440, 0), 1000);
    QVERIFY(large.key);
    QCOMPARE(decoder.decode(large.data), Vp8Decoder::Result::Refused);
}

void tst_CallCodecs::opusCarriesWidebandVoice()
{
    OpusVoiceEncoder encoder;
    OpusVoiceDecoder decoder;
    QVERIFY(encoder.isValid() && decoder.isValid());
    // 6 kHz is above what GSM's 8000 samples a second can carry at all.
    constexpr int Block = OpusVoiceEncoder::FrameSamples * 4;
    const std::vector<qint16> tone = wideTone(6000, Block * 10);
    std::vector<qint16> out(OpusVoiceDecoder::MaxSamples);
    double level = 0;
    for (int b = 0; b < 10; ++b) {
        const QByteArray packet = encoder.encode(tone.data() + b * Block, Block);
        QVERIFY(!packet.isEmpty());
        QVERIFY(packet.size() < 400);
        QCOMPARE(decoder.decode(packet, out.data(), int(out.size())), Block);
        level = TestSupport::rms(out.data(), Block);
    }
    const double sent = TestSupport::rms(tone.data(), Block);
    QVERIFY2(std::abs(20 * std::log10(level / sent)) < 6, qPrintable(QString::number(level / sent)));
    // Only whole 20 ms frames, at most 120 ms.
    QVERIFY(encoder.encode(tone.data(), Block + 1).isEmpty());
    QVERIFY(encoder.encode(tone.data(), OpusVoiceEncoder::FrameSamples * 7).isEmpty());
}

void tst_CallCodecs::opusRefusesBadPacketsAndRepairsALoss()
{
    OpusVoiceEncoder encoder;
    encoder.setPacketLossPercent(10);
    OpusVoiceDecoder decoder;
    constexpr int Block = OpusVoiceEncoder::FrameSamples * 4;
    const std::vector<qint16> tone = wideTone(440, Block * 3);
    std::vector<qint16> out(OpusVoiceDecoder::MaxSamples);
    const QByteArray first = encoder.encode(tone.data(), Block);
    encoder.encode(tone.data() + Block, Block);
    const QByteArray third = encoder.encode(tone.data() + 2 * Block, Block);
    QCOMPARE(decoder.decode(first, out.data(), int(out.size())), Block);
    // The second never came: filled in, then the third plays as usual.
    QCOMPARE(decoder.recover(third, Block, out.data(), int(out.size())), Block);
    QCOMPARE(decoder.recover(third, Block, nullptr, Block), 0);
    QCOMPARE(decoder.decode(third, out.data(), int(out.size())), Block);
    // A packet longer than the room given is not decoded.
    QCOMPARE(decoder.decode(third, out.data(), Block - 1), 0);

    std::mt19937 random(3);
    for (int n = 0; n < 2000; ++n) {
        QByteArray noise(int(random() % 1500) + 1, Qt::Uninitialized);
        for (char &c : noise)
            c = char(random());
        const int got = decoder.decode(noise, out.data(), int(out.size()));
        QVERIFY(got >= 0 && got <= OpusVoiceDecoder::MaxSamples);
    }
    // Code 3, 48 frames of 20 ms: a packet that claims 960 ms.
    const QByteArray tooLong = QByteArray("\x0b\x30", 2) + QByteArray(100, '\x01');
    QCOMPARE(decoder.decode(tooLong, out.data(), int(out.size())), 0);
    QCOMPARE(decoder.decode(QByteArray(), out.data(), int(out.size())), 0);
    QVERIFY(decoder.failures() > 0);
    QCOMPARE(decoder.decode(first, out.data(), int(out.size())), Block);
}

void tst_CallCodecs::codedPacketsNeverHoldTheTerminator()
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    all += "<E><E>\x1b\x1b<";
    const QByteArray packet = CodedMediaPacket::build(CodedMediaPacket::Kind::Vp8, all);
    QVERIFY(packet.startsWith("VP8"));
    QVERIFY(packet.endsWith("<E>"));
    QVERIFY(!packet.chopped(3).contains("<E>"));
    QVERIFY(!packet.mid(8).chopped(3).contains('<'));
    const CodedMediaPacket::Received back = CodedMediaPacket::parse(packet.chopped(3));
    QCOMPARE(back.kind, CodedMediaPacket::Kind::Vp8);
    QCOMPARE(back.payload, all);

    const QByteArray request = CodedMediaPacket::build(CodedMediaPacket::Kind::KeyFrameRequest, "1");
    QCOMPARE(request, QByteArray("KFR000011<E>"));
    QCOMPARE(CodedMediaPacket::parse(request.chopped(3)).kind, CodedMediaPacket::Kind::KeyFrameRequest);
    QVERIFY(CodedMediaPacket::build(CodedMediaPacket::Kind::Opus, QByteArray()).isEmpty());
    QVERIFY(CodedMediaPacket::build(CodedMediaPacket::Kind::Opus, QByteArray(CodedMediaPacket::MaxPayloadBytes + 1, 'x'))
                .isEmpty());
    QVERIFY(!CodedMediaPacket::build(CodedMediaPacket::Kind::Opus, QByteArray(CodedMediaPacket::MaxPayloadBytes, '<'))
                 .isEmpty());
}

void tst_CallCodecs::codedPacketsThatDoNotReadAreDropped()
{
    using K = CodedMediaPacket::Kind;
    const auto kindOf = [](const QByteArray &text) { return CodedMediaPacket::parse(text).kind; };
    QCOMPARE(kindOf("OPU00003abc"), K::Opus);
    QCOMPARE(kindOf("OPU00003a<c"), K::Unknown);      // a bare '<'
    QCOMPARE(kindOf("OPU00003ab\x1b"), K::Unknown);   // an escape at the end
    QCOMPARE(kindOf("OPU00003a\x1b\x07"), K::Unknown); // an unknown escape
    QCOMPARE(kindOf("OPU00009abc"), K::Unknown);      // longer than what came
    QCOMPARE(kindOf("OPU00000"), K::Unknown);
    QCOMPARE(kindOf("OPUxxxxxabc"), K::Unknown);
    QCOMPARE(kindOf("KJP00003abc"), K::Unknown); // the published kinds are not read here
    QCOMPARE(kindOf("AUD00003abc"), K::Unknown);
    QCOMPARE(CodedMediaPacket::parse("VP800004a\x1b\x01" "b").payload, QByteArray("a<b"));
}

// Packets one after the other, cut at each terminator as the receiver does, and joined.
static QList<QByteArray> joinedFrames(QByteArray packets, CodedFrameParts &parts)
{
    QList<QByteArray> frames;
    for (qsizetype end; (end = packets.indexOf("<E>")) >= 0; packets.remove(0, end + 3)) {
        const CodedMediaPacket::Received packet = CodedMediaPacket::parse(packets.left(end));
        if (packet.kind == CodedMediaPacket::Kind::Vp8Part)
            parts.addPart(packet.payload);
        else if (packet.kind == CodedMediaPacket::Kind::Vp8)
            frames.append(parts.finish(packet.payload));
    }
    return frames;
}

void tst_CallCodecs::aFrameLargerThanAPacketArrivesWholeAndAnOversizedOneNot()
{
    // A shared screen's key frame, with bytes that need escaping spread through it.
    QByteArray frame(3 * CodedMediaPacket::MaxPayloadBytes + 123, Qt::Uninitialized);
    std::mt19937 random(3);
    for (char &c : frame)
        c = char(random());
    const QList<QByteArray> packets = CodedMediaPacket::buildVp8Frame(frame) + CodedMediaPacket::buildVp8Frame("small");
    QCOMPARE(packets.size(), 5);
    CodedFrameParts parts;
    // A sound packet between two parts changes nothing.
    QCOMPARE(joinedFrames(packets.mid(0, 2).join() + CodedMediaPacket::build(CodedMediaPacket::Kind::Opus, "o")
                              + packets.mid(2).join(),
                          parts),
             QList<QByteArray>({frame, QByteArray("small")}));
    QCOMPARE(parts.held(), 0);
    QVERIFY(CodedMediaPacket::buildVp8Frame(QByteArray(CodedMediaPacket::MaxFrameBytes + 1, 'x')).isEmpty());

    // A peer that sends parts without end: they are given up at the bound, the frame they
    // end in is empty, and the next frame arrives whole.
    const QByteArray part(CodedMediaPacket::MaxPayloadBytes, 'p');
    for (int i = 0; i < 200; ++i) {
        parts.addPart(part);
        QVERIFY(parts.held() < CodedMediaPacket::MaxFrameBytes);
    }
    QVERIFY(parts.finish("last").isEmpty());
    QCOMPARE(parts.finish("alone"), QByteArray("alone"));
}

QTEST_GUILESS_MAIN(tst_CallCodecs)
#include "tst_callcodecs.moc"
