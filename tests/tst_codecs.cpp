#include "media/engine/GsmCodec.h"
#include "media/engine/VideoCodec.h"

#include <QTest>

#include <gsm.h>
#include <turbojpeg.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using Bytes = std::vector<uchar>;
using Samples = std::vector<qint16>;

namespace {

bool hasTerminator(const uchar *data, int length)
{
    return QByteArrayView(data, length).contains(QByteArrayView("<E>"));
}

// A moving picture like a camera's test pattern: gradients, sliding colour bars, hard blocks.
Bytes pattern(int width, int height, int frame)
{
    Bytes rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uchar *p = &rgb[(size_t(y) * width + x) * 3];
            const int bar = ((x + 4 * frame) / (width / 8)) % 8;
            p[0] = uchar(bar & 1 ? 230 : x * 255 / width);
            p[1] = uchar(bar & 2 ? 210 : y * 255 / height);
            p[2] = uchar(bar & 4 ? 190 : (x + y + frame) % 256);
            if (((x / 16) + (y / 16) + frame) % 7 == 0 && y > height / 2)
                p[0] = p[1] = p[2] = 20;
        }
    }
    return rgb;
}

double meanError(const Bytes &a, const uchar *b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

Samples tone(double hertz, int count)
{
    Samples s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[size_t(i)] = qint16(std::lround(8000 * std::sin(2 * std::numbers::pi * hertz * i / 8000.0)));
    return s;
}

double rms(const qint16 *s, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / count);
}

// Six blocks coded one call each, as the send loop does; the level of the last decoded block
// against its input's, or -1 when a block has the wrong size.
double levelRatio(const Samples &signal, int quality)
{
    GsmCodec encoder;
    GsmCodec decoder;
    const int bytes = quality == GsmCodec::Radio ? GsmCodec::RadioBlockBytes : GsmCodec::PhoneBlockBytes;
    Samples decoded(GsmCodec::BlockSamples);
    const qint16 *block = signal.data();
    for (int b = 0; b < 6; ++b) {
        block = signal.data() + b * GsmCodec::BlockSamples;
        uchar coded[200];
        if (encoder.compress(block, GsmCodec::BlockSamples, quality, coded, sizeof coded) != bytes
            || decoder.uncompress(coded, bytes, decoded.data(), int(decoded.size())) != GsmCodec::BlockSamples)
            return -1;
    }
    return rms(decoded.data(), GsmCodec::BlockSamples) / std::max(1.0, rms(block, GsmCodec::BlockSamples));
}

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

private slots:
    void framesRoundTripAtTheSendQualities()
    {
        VideoCodec codec;
        Bytes jpeg(40000);
        Bytes decoded(640 * 480 * 3);
        int w = 0;
        int h = 0;
        for (int frame : {0, 37}) {
            const Bytes picture = pattern(320, 240, frame);
            double error[2];
            int size[2];
            for (int i = 0; i < 2; ++i) {
                size[i] = codec.compressStill(picture.data(), 320, 240, i ? 30 : 15, jpeg.data(), 40000);
                QVERIFY(size[i] > 0 && !hasTerminator(jpeg.data(), size[i]));
                // Baseline JFIF: start marker, JFIF header, baseline frame marker.
                QVERIFY(QByteArrayView(jpeg.data(), 20).startsWith("\xFF\xD8\xFF\xE0\x00\x10JFIF"));
                QVERIFY(QByteArrayView(jpeg.data(), size[i]).contains("\xFF\xC0"));
                QCOMPARE(codec.unCompressStill(jpeg.data(), size[i], &w, &h, decoded.data(), int(decoded.size())),
                         320 * 240 * 3);
                QCOMPARE(QSize(w, h), QSize(320, 240));
                error[i] = meanError(picture, decoded.data());
            }
            QVERIFY2(error[0] < 14 && error[1] < 10, qPrintable(QStringLiteral("%1 %2").arg(error[0]).arg(error[1])));
            QVERIFY(error[1] < error[0] && size[1] > size[0]);
        }
        // The largest frame the send loop makes fits its 40000-byte packet.
        const Bytes big = pattern(640, 480, 5);
        const int n = codec.compressStill(big.data(), 640, 480, 27, jpeg.data(), 40000);
        QVERIFY(n > 0 && n <= 40000);
        QCOMPARE(codec.unCompressStill(jpeg.data(), n, &w, &h, decoded.data(), int(decoded.size())), 640 * 480 * 3);
    }

    void lengthLimitIsHonoured()
    {
        VideoCodec codec;
        const Bytes picture = pattern(320, 240, 3);
        Bytes out(60000);
        Bytes decoded(320 * 240 * 3);
        int w = 0;
        int h = 0;
        const int full = codec.compressStill(picture.data(), 320, 240, 90, out.data(), int(out.size()));
        QVERIFY(full > 1000);
        // Limits under the first result force lower qualities; nothing lands past the limit.
        for (const int limit : {full - 1, full * 2 / 3, full / 4}) {
            Bytes guarded(size_t(limit) + 64, 0xA5);
            const int n = codec.compressStill(picture.data(), 320, 240, 90, guarded.data(), limit);
            QVERIFY2(n > 0 && n <= limit, qPrintable(QStringLiteral("%1 for limit %2").arg(n).arg(limit)));
            QVERIFY(std::all_of(guarded.begin() + limit, guarded.end(), [](uchar b) { return b == 0xA5; }));
            QCOMPARE(codec.unCompressStill(guarded.data(), n, &w, &h, decoded.data(), int(decoded.size())),
                     int(decoded.size()));
            QVERIFY(meanError(picture, decoded.data()) < 30);
        }
        // Even quality 1 does not fit: failure, and the buffer is left alone.
        Bytes tiny(164, 0x5A);
        QCOMPARE(codec.compressStill(picture.data(), 320, 240, 30, tiny.data(), 100), 0);
        QVERIFY(std::all_of(tiny.begin(), tiny.end(), [](uchar b) { return b == 0x5A; }));
        // Out-of-range qualities are clamped, not refused.
        QVERIFY(codec.compressStill(picture.data(), 320, 240, 0, out.data(), int(out.size())) > 0);
        QVERIFY(codec.compressStill(picture.data(), 320, 240, 500, out.data(), int(out.size())) > 0);
    }

    void hostileJpegIsRefused()
    {
        VideoCodec codec;
        const Bytes picture = pattern(160, 120, 1);
        Bytes jpeg(20000);
        const int size = codec.compressStill(picture.data(), 160, 120, 30, jpeg.data(), int(jpeg.size()));
        const int capacity = 160 * 120 * 3;
        Bytes image(size_t(capacity) + 32);
        int w = -1;
        int h = -1;
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), capacity), capacity);

        // Truncated anywhere, down to only the end marker missing.
        for (const int cut : {0, 1, 2, 20, size / 3, size / 2, size - 2}) {
            QCOMPARE(codec.unCompressStill(jpeg.data(), cut, &w, &h, image.data(), capacity), 0);
            QCOMPARE(w, 0);
        }
        QCOMPARE(codec.unCompressStill(nullptr, size, &w, &h, image.data(), capacity), 0);

        // Garbage, with and without a start marker.
        std::mt19937 rng(7);
        Bytes garbage(4000);
        for (uchar &b : garbage)
            b = uchar(rng() >> 24);
        QCOMPARE(codec.unCompressStill(garbage.data(), 4000, &w, &h, image.data(), capacity), 0);
        garbage[0] = 0xFF;
        garbage[1] = 0xD8;
        QCOMPARE(codec.unCompressStill(garbage.data(), 4000, &w, &h, image.data(), capacity), 0);

        // Damaged entropy data: whatever the outcome, nothing is written past the capacity.
        for (int round = 0; round < 50; ++round) {
            Bytes damaged(jpeg.begin(), jpeg.begin() + size);
            for (int k = 0; k < 8; ++k)
                damaged[size_t(size / 2) + rng() % size_t(size / 2 - 2)] ^= uchar(1u << (rng() % 8));
            std::fill(image.begin() + capacity, image.end(), uchar(0xEE));
            const int n = codec.unCompressStill(damaged.data(), size, &w, &h, image.data(), capacity);
            QVERIFY(n == 0 || n == capacity);
            QVERIFY(std::all_of(image.begin() + capacity, image.end(), [](uchar b) { return b == 0xEE; }));
        }

        // A header claiming a huge picture, or a picture a byte too big, is refused untouched.
        Bytes huge(jpeg.begin(), jpeg.begin() + size);
        const auto sof = QByteArrayView(huge.data(), size).indexOf(QByteArrayView("\xFF\xC0"));
        QVERIFY(sof > 0);
        huge[size_t(sof) + 5] = huge[size_t(sof) + 7] = 0x7F; // height and width high bytes
        QCOMPARE(codec.unCompressStill(huge.data(), size, &w, &h, image.data(), capacity), 0);
        std::fill(image.begin(), image.end(), uchar(0x11));
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), capacity - 1), 0);
        QCOMPARE(image[0], uchar(0x11));
    }

    void thumbnailSizeIsEnforced()
    {
        VideoCodec codec;
        const Bytes frame = pattern(640, 480, 9);
        Bytes thumb(80 * 60 * 3);
        QCOMPARE(VideoCodec::downSampleImg(frame.data(), 640, 480, thumb.data(), 80, 60, int(thumb.size())), 80 * 60 * 3);
        Bytes jpeg(40000);
        const int size = codec.compressStill(thumb.data(), 80, 60, 85, jpeg.data(), 8000);
        QVERIFY(size > 0 && size <= 8000);
        Bytes image(640 * 480 * 3);
        int w = 0;
        int h = 0;
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 80, 60), 80 * 60 * 3);
        QVERIFY(meanError(thumb, image.data()) < 12);
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 80, 61), 0);
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 320, 240), 0);
        // A peer's full frame in place of a thumbnail is refused.
        const int frameSize = codec.compressStill(frame.data(), 640, 480, 27, jpeg.data(), 40000);
        QCOMPARE(codec.unCompressStill(jpeg.data(), frameSize, &w, &h, image.data(), int(image.size()), 80, 60), 0);
    }

    void jpegNeverCarriesTheTerminator()
    {
        // Search noise pictures for one whose plain encoding holds "<E>".
        tjhandle raw = tjInitCompress();
        const int side = 96;
        const int quality = 95;
        Bytes picture(size_t(side) * side * 3);
        std::mt19937 rng(12345);
        bool found = false;
        for (int attempt = 0; attempt < 40000 && !found; ++attempt) {
            for (uchar &b : picture)
                b = uchar(rng() >> 24);
            uchar *buffer = nullptr;
            unsigned long size = 0;
            QCOMPARE(tjCompress2(raw, picture.data(), side, 0, side, TJPF_RGB, &buffer, &size, TJSAMP_420, quality, 0), 0);
            found = hasTerminator(buffer, int(size));
            tjFree(buffer);
        }
        tjDestroy(raw);
        QVERIFY2(found, "no noise picture produced the terminator");

        VideoCodec codec;
        Bytes out(100000);
        const int n = codec.compressStill(picture.data(), side, side, quality, out.data(), int(out.size()));
        QVERIFY(n > 0 && !hasTerminator(out.data(), n));
        Bytes decoded(picture.size());
        int w = 0;
        int h = 0;
        QCOMPARE(codec.unCompressStill(out.data(), n, &w, &h, decoded.data(), int(decoded.size())), int(picture.size()));
    }

    void downsamplingAveragesAreas()
    {
        // 640 x 480 to 320 x 240 in place, as the send loop calls it; each 2 x 2 block holds
        // four different values.
        Bytes frame(640 * 480 * 3);
        for (size_t i = 0; i < frame.size(); ++i) {
            const int x = int(i / 3 % 640), y = int(i / 3 / 640), c = int(i % 3);
            frame[i] = uchar((x / 2 + y / 2 + c * 40) % 200 + (x % 2) * 8 + (y % 2) * 16);
        }
        const Bytes source = frame;
        QCOMPARE(VideoCodec::downSampleImg(frame.data(), 640, 480, frame.data(), 320, 240, int(frame.size())), 320 * 240 * 3);
        auto at = [&](int x, int y, int c) { return int(source[(size_t(y) * 640 + x) * 3 + c]); };
        for (int y = 0; y < 240; y += 7)
            for (int x = 0; x < 320; x += 5)
                for (int c = 0; c < 3; ++c)
                    QCOMPARE(int(frame[(size_t(y) * 320 + x) * 3 + c]),
                             (at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c) + 2) / 4);

        // To the 80 x 60 thumbnail: a one-pixel checkerboard turns grey, a white left half stays.
        Bytes board(640 * 480 * 3);
        for (size_t i = 0; i < board.size(); ++i) {
            const int x = int(i / 3 % 640), y = int(i / 3 / 640);
            board[i] = i % 3 == 0 ? uchar((x + y) % 2 ? 255 : 0) : uchar(x < 320 ? 255 : 0);
        }
        Bytes thumb(80 * 60 * 3 + 16, 0x77);
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3), 80 * 60 * 3);
        QCOMPARE(int(thumb[0]), 128);
        QCOMPARE(int(thumb[(30 * 80 + 39) * 3 + 2]), 255);
        QCOMPARE(int(thumb[(30 * 80 + 40) * 3 + 2]), 0);
        QVERIFY(std::all_of(thumb.end() - 16, thumb.end(), [](uchar b) { return b == 0x77; }));

        // An uneven ratio: 5 pixels to 2 average areas of 2 and 3 pixels.
        const uchar row[15] = {10, 0, 0, 20, 0, 0, 30, 0, 0, 40, 0, 0, 60, 0, 0};
        uchar two[6] = {};
        QCOMPARE(VideoCodec::downSampleImg(row, 5, 1, two, 2, 1, 6), 6);
        QCOMPARE(QPair(int(two[0]), int(two[3])), QPair(15, 43));

        // A target larger than its capacity is refused untouched.
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3 - 1), 0);
        QCOMPARE(thumb[0], uchar(128));
    }

    void textIsBurnedOnlyWhereItFits()
    {
        Bytes text(200000);
        int w = 0;
        int h = 0;
        const int bytes = VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QStringLiteral("Hello there"));
        QVERIFY(w > 20 && h > 5);
        QCOMPARE(bytes, w * h * 3);
        const auto white = std::count_if(text.begin(), text.begin() + bytes, [](uchar b) { return b > 200; });
        QVERIFY(white > 30 && white < bytes / 2);
        int wLong = 0;
        int hLong = 0;
        QVERIFY(VideoCodec::textToImage(text.data(), int(text.size()), &wLong, &hLong, QStringLiteral("Hello there, again")) > 0);
        QVERIFY(wLong > w && hLong == h);
        QCOMPARE(VideoCodec::textToImage(text.data(), w * h * 3 - 1, &wLong, &hLong, QStringLiteral("Hello there")), 0);

        // Centred in a frame as the send loop places it: copied, the rest untouched.
        VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QStringLiteral("Hello there"));
        const Bytes clean(320 * 240 * 3, 0x40);
        Bytes frame = clean;
        const int x = (320 - w) / 2;
        QVERIFY(VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, x, 0));
        for (int row = 0; row < h; ++row)
            QVERIFY(std::equal(text.begin() + row * w * 3, text.begin() + (row + 1) * w * 3, frame.begin() + (row * 320 + x) * 3));
        QCOMPARE(frame[size_t(x - 1) * 3], uchar(0x40));
        QCOMPARE(frame[size_t(h * 320 + x) * 3], uchar(0x40));
        QVERIFY(VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, 320 - w, 240 - h));

        // A line wider than the frame gives a negative x and fails; so does any overhang.
        QVERIFY(VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QString(200, QLatin1Char('W'))) > 0);
        QVERIFY(w > 320);
        frame = clean;
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, (320 - w) / 2, 0));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, 311, 0));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, 0, 231));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, -1, 0));
        QVERIFY(frame == clean);
    }

    void gsmBlocksFollowTheirInput()
    {
        const int count = 6 * GsmCodec::BlockSamples;
        const double phone = levelRatio(tone(400, count), GsmCodec::Phone);
        const double radio = levelRatio(tone(400, count), GsmCodec::Radio);
        const double phoneHigh = levelRatio(tone(3000, count), GsmCodec::Phone);
        const double radioHigh = levelRatio(tone(3000, count), GsmCodec::Radio);
        const double silence = levelRatio(Samples(size_t(count), 0), GsmCodec::Radio);
        const QString figures = QStringLiteral("%1 %2 %3 %4 %5").arg(phone).arg(radio).arg(phoneHigh).arg(radioHigh).arg(silence);
        QVERIFY2(phone > 0.6 && phone < 1.4 && radio > 0.6 && radio < 1.4, qPrintable(figures));
        // Phone quality passes 3 kHz, radio quality cuts it; silence stays silent.
        QVERIFY2(phoneHigh > 0.4 && radioHigh >= 0 && radioHigh < 0.1, qPrintable(figures));
        QVERIFY2(silence >= 0 && silence < 50, qPrintable(figures));

        // Several blocks in one call; a partial last block is padded to a whole one.
        GsmCodec codec;
        const Samples voice = tone(400, count);
        Bytes coded(1000);
        QCOMPARE(codec.compress(voice.data(), 3 * GsmCodec::BlockSamples + 100, GsmCodec::Phone, coded.data(), 1000), 528);
        Samples decoded(4 * GsmCodec::BlockSamples);
        QCOMPARE(codec.uncompress(coded.data(), 528, decoded.data(), int(decoded.size())), 4 * GsmCodec::BlockSamples);
        QVERIFY(rms(decoded.data() + 2 * GsmCodec::BlockSamples, GsmCodec::BlockSamples) > 2000);
        // Only whole blocks that fit the output are coded.
        QCOMPARE(codec.compress(voice.data(), 3 * GsmCodec::BlockSamples, GsmCodec::Radio, coded.data(), 140), 132);
        QCOMPARE(codec.compress(voice.data(), GsmCodec::BlockSamples, GsmCodec::Phone, coded.data(), 131), 0);
    }

    void gsmBodiesOfOtherLengthsAreRefused()
    {
        GsmCodec codec;
        const Samples voice = tone(400, 3 * GsmCodec::BlockSamples);
        Bytes coded(400);
        QCOMPARE(codec.compress(voice.data(), 2 * GsmCodec::BlockSamples, GsmCodec::Phone, coded.data(), 400), 264);
        Samples out(2000, 0);
        for (int length : {0, 1, 33, 65, 67, 131, 133, 200})
            QCOMPARE(codec.uncompress(coded.data(), length, out.data(), int(out.size())), 0);

        // Two phone blocks into room for one and a half: one block, and not a sample more.
        std::fill(out.begin(), out.end(), qint16(0x1234));
        QCOMPARE(codec.uncompress(coded.data(), 264, out.data(), 1000), GsmCodec::BlockSamples);
        QVERIFY(std::all_of(out.begin() + GsmCodec::BlockSamples, out.end(), [](qint16 s) { return s == 0x1234; }));
        out[0] = 0x1234;
        QCOMPARE(codec.uncompress(coded.data(), 132, out.data(), GsmCodec::BlockSamples - 1), 0);
        QCOMPARE(out[0], qint16(0x1234));

        // Three radio blocks are told by their length and come out at 8 kHz.
        GsmCodec radio;
        QCOMPARE(radio.compress(voice.data(), int(voice.size()), GsmCodec::Radio, coded.data(), 400), 198);
        QCOMPARE(radio.uncompress(coded.data(), 198, out.data(), int(out.size())), 3 * GsmCodec::BlockSamples);
        QVERIFY(rms(out.data() + 2 * GsmCodec::BlockSamples, GsmCodec::BlockSamples) > 3000);

        // Bytes without the frame signature decode as silence, not noise.
        const Bytes junk(132, 0x3C);
        QCOMPARE(codec.uncompress(junk.data(), 132, out.data(), int(out.size())), GsmCodec::BlockSamples);
        QCOMPARE(rms(out.data(), GsmCodec::BlockSamples), 0.0);
    }

    void gsmNeverCarriesTheTerminator()
    {
        // A noise block whose plain coding from a fresh state holds "<E>" (the seed comes from
        // an offline search; the trigger is checked again here).
        std::mt19937 rng(283303);
        Samples block(GsmCodec::BlockSamples);
        for (qint16 &s : block)
            s = qint16(rng() >> 16);
        uchar plain[GsmCodec::PhoneBlockBytes];
        gsm raw = gsm_create();
        for (int f = 0; f < 4; ++f)
            gsm_encode(raw, block.data() + f * 160, plain + f * GsmCodec::FrameBytes);
        gsm_destroy(raw);
        QVERIFY2(hasTerminator(plain, sizeof plain), "the crafted block no longer triggers");

        GsmCodec codec;
        uchar coded[GsmCodec::PhoneBlockBytes];
        QCOMPARE(codec.compress(block.data(), GsmCodec::BlockSamples, GsmCodec::Phone, coded, sizeof coded), 132);
        QVERIFY(!hasTerminator(coded, sizeof coded));
        Samples out(GsmCodec::BlockSamples);
        QCOMPARE(codec.uncompress(coded, sizeof coded, out.data(), int(out.size())), GsmCodec::BlockSamples);
        QVERIFY(rms(out.data(), int(out.size())) > 1000);
    }
};

QTEST_MAIN(TestCodecs)
#include "tst_codecs.moc"
