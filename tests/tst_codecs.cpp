#include "media/engine/GsmCodec.h"
#include "media/engine/VideoCodec.h"

#include <QTest>

#include <gsm.h>
#include <turbojpeg.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

bool hasTerminator(const uchar *data, int length)
{
    return QByteArrayView(data, length).contains(QByteArrayView("<E>"));
}

// A moving picture like a camera's test pattern: gradients, colour bars sliding with the
// frame number, and a few hard-edged blocks.
std::vector<uchar> pattern(int width, int height, int frame)
{
    std::vector<uchar> rgb(size_t(width) * height * 3);
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

double meanError(const std::vector<uchar> &a, const uchar *b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

std::vector<qint16> tone(double hertz, double amplitude, int count, int phaseStart = 0)
{
    std::vector<qint16> samples(size_t(count), 0);
    for (int i = 0; i < count; ++i)
        samples[size_t(i)] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * (i + phaseStart) / 8000.0)));
    return samples;
}

double rms(const qint16 *samples, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / count);
}

// Codes `blocks` blocks of a signal one call at a time, as the send loop does, decodes each,
// and returns the level of the last decoded block against the last input block's.
double levelRatio(const std::vector<qint16> &signal, int quality)
{
    GsmCodec encoder;
    GsmCodec decoder;
    const int blocks = int(signal.size()) / GsmCodec::BlockSamples;
    std::vector<qint16> decoded(GsmCodec::BlockSamples);
    const int expected = quality == GsmCodec::Radio ? GsmCodec::RadioBlockBytes : GsmCodec::PhoneBlockBytes;
    for (int b = 0; b < blocks; ++b) {
        uchar coded[200];
        const qint16 *block = signal.data() + b * GsmCodec::BlockSamples;
        const int n = encoder.compress(block, GsmCodec::BlockSamples, quality, coded, sizeof coded);
        if (n != expected)
            return -1;
        if (decoder.uncompress(coded, n, decoded.data(), int(decoded.size())) != GsmCodec::BlockSamples)
            return -1;
    }
    const qint16 *last = signal.data() + (blocks - 1) * GsmCodec::BlockSamples;
    return rms(decoded.data(), GsmCodec::BlockSamples) / std::max(1.0, rms(last, GsmCodec::BlockSamples));
}

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

private slots:
    void framesRoundTripAtTheSendQualities()
    {
        VideoCodec codec;
        for (int frame : {0, 37}) {
            const auto picture = pattern(320, 240, frame);
            std::vector<uchar> jpeg(40000);
            std::vector<uchar> decoded(320 * 240 * 3);
            double error[2] = {0, 0};
            int size[2] = {0, 0};
            const int qualities[2] = {15, 30};
            for (int i = 0; i < 2; ++i) {
                size[i] = codec.compressStill(picture.data(), 320, 240, qualities[i], jpeg.data(), int(jpeg.size()));
                QVERIFY(size[i] > 0);
                QVERIFY(!hasTerminator(jpeg.data(), size[i]));
                // Baseline JFIF: SOI, APP0 "JFIF", SOF0 somewhere before the data.
                QCOMPARE(jpeg[0], uchar(0xFF));
                QCOMPARE(jpeg[1], uchar(0xD8));
                QVERIFY(QByteArrayView(jpeg.data(), 20).contains("JFIF"));
                QVERIFY(QByteArrayView(jpeg.data(), size[i]).contains("\xFF\xC0"));
                int w = 0;
                int h = 0;
                const int bytes = codec.unCompressStill(jpeg.data(), size[i], &w, &h, decoded.data(),
                                                        int(decoded.size()));
                QCOMPARE(bytes, 320 * 240 * 3);
                QCOMPARE(w, 320);
                QCOMPARE(h, 240);
                error[i] = meanError(picture, decoded.data());
            }
            QVERIFY2(error[0] < 14, qPrintable(QString::number(error[0])));
            QVERIFY2(error[1] < 10, qPrintable(QString::number(error[1])));
            QVERIFY(error[1] < error[0]);
            QVERIFY(size[1] > size[0]);
        }
    }

    void lengthLimitIsHonoured()
    {
        VideoCodec codec;
        // The largest frame the send loop produces fits its 40000-byte packet.
        const auto big = pattern(640, 480, 5);
        std::vector<uchar> jpeg(40000);
        const int bigSize = codec.compressStill(big.data(), 640, 480, 27, jpeg.data(), 40000);
        QVERIFY(bigSize > 0 && bigSize <= 40000);
        std::vector<uchar> decoded(640 * 480 * 3);
        int w = 0;
        int h = 0;
        QCOMPARE(codec.unCompressStill(jpeg.data(), bigSize, &w, &h, decoded.data(), int(decoded.size())),
                 640 * 480 * 3);

        // A limit just under the first result forces a lower quality that fits, and nothing
        // is written past the limit.
        const auto picture = pattern(320, 240, 3);
        std::vector<uchar> out(60000);
        const int full = codec.compressStill(picture.data(), 320, 240, 90, out.data(), int(out.size()));
        QVERIFY(full > 1000);
        for (const int limit : {full - 1, full * 2 / 3, full / 4}) {
            std::vector<uchar> guarded(size_t(limit) + 64, 0xA5);
            const int n = codec.compressStill(picture.data(), 320, 240, 90, guarded.data(), limit);
            QVERIFY2(n > 0 && n <= limit, qPrintable(QStringLiteral("%1 for limit %2").arg(n).arg(limit)));
            for (size_t i = size_t(limit); i < guarded.size(); ++i)
                QCOMPARE(guarded[i], uchar(0xA5));
            QCOMPARE(codec.unCompressStill(guarded.data(), n, &w, &h, decoded.data(), int(decoded.size())),
                     320 * 240 * 3);
            QVERIFY(meanError(picture, decoded.data()) < 30);
        }

        // Even quality 1 does not fit: failure, and the buffer is left alone.
        std::vector<uchar> tiny(164, 0x5A);
        QCOMPARE(codec.compressStill(picture.data(), 320, 240, 30, tiny.data(), 100), 0);
        for (uchar byte : tiny)
            QCOMPARE(byte, uchar(0x5A));

        // Out-of-range qualities are clamped, not refused.
        QVERIFY(codec.compressStill(picture.data(), 320, 240, 0, out.data(), int(out.size())) > 0);
        QVERIFY(codec.compressStill(picture.data(), 320, 240, 500, out.data(), int(out.size())) > 0);
        QCOMPARE(codec.compressStill(picture.data(), 0, 240, 30, out.data(), int(out.size())), 0);
        QCOMPARE(codec.compressStill(picture.data(), 320, 240, 30, out.data(), 0), 0);
    }

    void hostileJpegIsRefused()
    {
        VideoCodec codec;
        const auto picture = pattern(160, 120, 1);
        std::vector<uchar> jpeg(20000);
        const int size = codec.compressStill(picture.data(), 160, 120, 30, jpeg.data(), int(jpeg.size()));
        QVERIFY(size > 200);
        std::vector<uchar> image(160 * 120 * 3 + 32, 0);
        const int capacity = 160 * 120 * 3;
        int w = -1;
        int h = -1;
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), capacity), capacity);

        // Truncated anywhere, including just the end marker missing.
        for (const int cut : {0, 1, 2, 20, size / 3, size / 2, size - 2}) {
            QCOMPARE(codec.unCompressStill(jpeg.data(), cut, &w, &h, image.data(), capacity), 0);
            QCOMPARE(w, 0);
        }
        QCOMPARE(codec.unCompressStill(nullptr, size, &w, &h, image.data(), capacity), 0);
        QCOMPARE(codec.unCompressStill(jpeg.data(), -5, &w, &h, image.data(), capacity), 0);

        // Garbage, with and without a JPEG start marker.
        std::mt19937 rng(7);
        std::vector<uchar> garbage(4000);
        for (uchar &b : garbage)
            b = uchar(rng() >> 24);
        QCOMPARE(codec.unCompressStill(garbage.data(), int(garbage.size()), &w, &h, image.data(), capacity), 0);
        garbage[0] = 0xFF;
        garbage[1] = 0xD8;
        QCOMPARE(codec.unCompressStill(garbage.data(), int(garbage.size()), &w, &h, image.data(), capacity), 0);

        // Corrupted entropy data: whatever happens, nothing is written past the capacity.
        for (int round = 0; round < 50; ++round) {
            std::vector<uchar> damaged(jpeg.begin(), jpeg.begin() + size);
            for (int k = 0; k < 8; ++k)
                damaged[size_t(size / 2 + int(rng() % uint(size / 2 - 2)))] ^= uchar(1u << (rng() % 8));
            std::fill(image.begin() + capacity, image.end(), uchar(0xEE));
            const int n = codec.unCompressStill(damaged.data(), size, &w, &h, image.data(), capacity);
            QVERIFY(n == 0 || n == capacity);
            for (size_t i = size_t(capacity); i < image.size(); ++i)
                QCOMPARE(image[i], uchar(0xEE));
        }

        // A header claiming a huge picture is refused before decoding.
        std::vector<uchar> huge(jpeg.begin(), jpeg.begin() + size);
        const auto sof = QByteArrayView(huge.data(), size).indexOf(QByteArrayView("\xFF\xC0"));
        QVERIFY(sof > 0);
        huge[size_t(sof) + 5] = 0x7F; // height high byte
        huge[size_t(sof) + 7] = 0x7F; // width high byte
        QCOMPARE(codec.unCompressStill(huge.data(), size, &w, &h, image.data(), capacity), 0);

        // A picture one byte too large for the capacity is refused whole.
        std::fill(image.begin(), image.end(), uchar(0x11));
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), capacity - 1), 0);
        QCOMPARE(image[0], uchar(0x11));
    }

    void thumbnailSizeIsEnforced()
    {
        VideoCodec codec;
        const auto frame = pattern(640, 480, 9);
        std::vector<uchar> thumb(80 * 60 * 3);
        QCOMPARE(VideoCodec::downSampleImg(frame.data(), 640, 480, thumb.data(), 80, 60, int(thumb.size())),
                 80 * 60 * 3);
        std::vector<uchar> jpeg(8000);
        const int size = codec.compressStill(thumb.data(), 80, 60, 85, jpeg.data(), 8000);
        QVERIFY(size > 0 && size <= 8000);

        std::vector<uchar> image(640 * 480 * 3);
        int w = 0;
        int h = 0;
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 80, 60),
                 80 * 60 * 3);
        QVERIFY2(meanError(thumb, image.data()) < 12, qPrintable(QString::number(meanError(thumb, image.data()))));
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 320, 240), 0);
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), 80, 61), 0);

        // A peer's full frame in place of a thumbnail is refused.
        std::vector<uchar> frameJpeg(40000);
        const int frameSize = codec.compressStill(frame.data(), 640, 480, 27, frameJpeg.data(), 40000);
        QVERIFY(frameSize > 0);
        QCOMPARE(codec.unCompressStill(frameJpeg.data(), frameSize, &w, &h, image.data(), int(image.size()), 80, 60), 0);
    }

    void jpegNeverCarriesTheTerminator()
    {
        // Search noise pictures for one whose plain encoding holds "<E>".
        tjhandle raw = tjInitCompress();
        QVERIFY(raw);
        const int side = 96;
        const int quality = 95;
        std::vector<uchar> picture(size_t(side) * side * 3);
        std::mt19937 rng(12345);
        bool found = false;
        for (int attempt = 0; attempt < 40000 && !found; ++attempt) {
            for (uchar &b : picture)
                b = uchar(rng() >> 24);
            uchar *buffer = nullptr;
            unsigned long size = 0;
            QCOMPARE(tjCompress2(raw, picture.data(), side, 0, side, TJPF_RGB, &buffer, &size, TJSAMP_420,
                                 quality, 0),
                     0);
            found = hasTerminator(buffer, int(size));
            tjFree(buffer);
        }
        tjDestroy(raw);
        QVERIFY2(found, "no noise picture produced the terminator");

        VideoCodec codec;
        std::vector<uchar> out(100000);
        const int n = codec.compressStill(picture.data(), side, side, quality, out.data(), int(out.size()));
        QVERIFY(n > 0);
        QVERIFY(!hasTerminator(out.data(), n));
        std::vector<uchar> decoded(picture.size());
        int w = 0;
        int h = 0;
        QCOMPARE(codec.unCompressStill(out.data(), n, &w, &h, decoded.data(), int(decoded.size())),
                 int(picture.size()));
        QCOMPARE(w, side);
    }

    void downsamplingAveragesAreas()
    {
        // 640 x 480 to 320 x 240 in place, as the send loop calls it: every 2 x 2 block holds
        // four different values whose mean is known.
        std::vector<uchar> frame(640 * 480 * 3);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                for (int c = 0; c < 3; ++c)
                    frame[(size_t(y) * 640 + x) * 3 + c] = uchar((x / 2 + y / 2 + c * 40) % 200 + (x % 2) * 8 + (y % 2) * 16);
        const std::vector<uchar> source = frame;
        QCOMPARE(VideoCodec::downSampleImg(frame.data(), 640, 480, frame.data(), 320, 240, int(frame.size())),
                 320 * 240 * 3);
        for (int y = 0; y < 240; y += 7) {
            for (int x = 0; x < 320; x += 5) {
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx)
                            sum += source[(size_t(2 * y + dy) * 640 + 2 * x + dx) * 3 + c];
                    QCOMPARE(int(frame[(size_t(y) * 320 + x) * 3 + c]), (sum + 2) / 4);
                }
            }
        }

        // 640 x 480 to the 80 x 60 thumbnail: a one-pixel checkerboard turns grey, a left
        // half white stays white on the left.
        std::vector<uchar> board(640 * 480 * 3);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                for (int c = 0; c < 3; ++c)
                    board[(size_t(y) * 640 + x) * 3 + c] = c == 0 ? uchar((x + y) % 2 ? 255 : 0) : uchar(x < 320 ? 255 : 0);
        std::vector<uchar> thumb(80 * 60 * 3 + 16, 0x77);
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3), 80 * 60 * 3);
        QCOMPARE(int(thumb[0]), 128);
        QCOMPARE(int(thumb[1]), 255);
        QCOMPARE(int(thumb[(59 * 80 + 79) * 3 + 1]), 0);
        QCOMPARE(int(thumb[(30 * 80 + 39) * 3 + 2]), 255);
        QCOMPARE(int(thumb[(30 * 80 + 40) * 3 + 2]), 0);
        for (int i = 80 * 60 * 3; i < int(thumb.size()); ++i)
            QCOMPARE(thumb[size_t(i)], uchar(0x77));

        // An uneven ratio: 5 pixels to 2 take areas of 2 and 3 pixels.
        const uchar row[15] = {10, 0, 0, 20, 0, 0, 30, 0, 0, 40, 0, 0, 60, 0, 0};
        uchar two[6] = {};
        QCOMPARE(VideoCodec::downSampleImg(row, 5, 1, two, 2, 1, 6), 6);
        QCOMPARE(int(two[0]), 15);
        QCOMPARE(int(two[3]), 43);

        // A target that does not fit its capacity is refused untouched.
        std::fill(thumb.begin(), thumb.end(), uchar(0x77));
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3 - 1), 0);
        QCOMPARE(thumb[0], uchar(0x77));
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 0, 60, 100000), 0);
    }

    void textIsBurnedOnlyWhereItFits()
    {
        std::vector<uchar> text(200000);
        int w = 0;
        int h = 0;
        const int bytes = VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QStringLiteral("Hello there"));
        QVERIFY(w > 20 && h > 5);
        QCOMPARE(bytes, w * h * 3);
        int white = 0;
        int black = 0;
        for (int i = 0; i < bytes; i += 3) {
            if (text[size_t(i)] > 200)
                ++white;
            else if (text[size_t(i)] < 30)
                ++black;
        }
        QVERIFY(white > 10);
        QVERIFY(black > white);

        int wLong = 0;
        int hLong = 0;
        QVERIFY(VideoCodec::textToImage(text.data(), int(text.size()), &wLong, &hLong, QStringLiteral("Hello there, and again")) > 0);
        QVERIFY(wLong > w);
        QCOMPARE(hLong, h);
        int tw = 0;
        int th = 0;
        QCOMPARE(VideoCodec::textToImage(text.data(), w * h * 3 - 1, &tw, &th, QStringLiteral("Hello there")), 0);

        // Centred in a frame, as the send loop places it: copied, the rest untouched.
        QVERIFY(VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QStringLiteral("Hello there")) > 0);
        std::vector<uchar> frame(320 * 240 * 3, 0x40);
        const int x = (320 - w) / 2;
        QVERIFY(VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, x, 0));
        for (int row = 0; row < h; ++row)
            QVERIFY(std::equal(text.begin() + row * w * 3, text.begin() + (row + 1) * w * 3,
                               frame.begin() + (row * 320 + x) * 3));
        QCOMPARE(frame[size_t(x - 1) * 3], uchar(0x40));
        QCOMPARE(frame[size_t(h * 320 + x) * 3], uchar(0x40));
        QVERIFY(VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, 320 - w, 240 - h));

        // A line wider than the frame gives a negative x and fails; nothing is drawn.
        QString longLine(200, QLatin1Char('W'));
        QVERIFY(VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, longLine) > 0);
        QVERIFY(w > 320);
        std::vector<uchar> clean(320 * 240 * 3, 0x40);
        frame = clean;
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), w, h, (320 - w) / 2, 0));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, 311, 0));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, 0, 231));
        QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, -1, 0));
        QVERIFY(frame == clean);
    }

    void gsmBlocksFollowTheirInput()
    {
        const int blocks = 6;
        const int count = blocks * GsmCodec::BlockSamples;
        const auto voice = tone(400, 8000, count);
        const std::vector<qint16> silence(size_t(count), 0);
        const auto high = tone(3000, 8000, count);

        const double phoneTone = levelRatio(voice, GsmCodec::Phone);
        const double radioTone = levelRatio(voice, GsmCodec::Radio);
        QVERIFY2(phoneTone > 0.6 && phoneTone < 1.4, qPrintable(QString::number(phoneTone)));
        QVERIFY2(radioTone > 0.6 && radioTone < 1.4, qPrintable(QString::number(radioTone)));
        // Phone quality passes 3 kHz, radio quality cuts it.
        const double phoneHigh = levelRatio(high, GsmCodec::Phone);
        const double radioHigh = levelRatio(high, GsmCodec::Radio);
        QVERIFY2(phoneHigh > 0.4, qPrintable(QString::number(phoneHigh)));
        QVERIFY2(radioHigh >= 0 && radioHigh < 0.1, qPrintable(QString::number(radioHigh)));

        // Silence stays (near) silent in both qualities.
        for (int quality : {int(GsmCodec::Phone), int(GsmCodec::Radio)}) {
            GsmCodec codec;
            uchar coded[GsmCodec::PhoneBlockBytes];
            const int n = codec.compress(silence.data(), GsmCodec::BlockSamples, quality, coded, sizeof coded);
            std::vector<qint16> out(GsmCodec::BlockSamples);
            QCOMPARE(codec.uncompress(coded, n, out.data(), int(out.size())), GsmCodec::BlockSamples);
            QVERIFY(rms(out.data(), int(out.size())) < 50);
        }

        // Several blocks in one call; a partial last block is padded to a whole one.
        GsmCodec codec;
        std::vector<uchar> coded(1000);
        QCOMPARE(codec.compress(voice.data(), 3 * GsmCodec::BlockSamples + 100, GsmCodec::Phone, coded.data(),
                                int(coded.size())),
                 4 * GsmCodec::PhoneBlockBytes);
        std::vector<qint16> decoded(4 * GsmCodec::BlockSamples);
        QCOMPARE(codec.uncompress(coded.data(), 4 * GsmCodec::PhoneBlockBytes, decoded.data(), int(decoded.size())),
                 4 * GsmCodec::BlockSamples);
        QVERIFY(rms(decoded.data() + 2 * GsmCodec::BlockSamples, GsmCodec::BlockSamples) > 2000);
        // Only whole blocks that fit the output are coded.
        QCOMPARE(codec.compress(voice.data(), 3 * GsmCodec::BlockSamples, GsmCodec::Radio, coded.data(), 140),
                 2 * GsmCodec::RadioBlockBytes);
        QCOMPARE(codec.compress(voice.data(), GsmCodec::BlockSamples, GsmCodec::Phone, coded.data(), 131), 0);
        QCOMPARE(codec.compress(voice.data(), 0, GsmCodec::Phone, coded.data(), 1000), 0);
    }

    void gsmBodiesOfOtherLengthsAreRefused()
    {
        GsmCodec codec;
        const auto voice = tone(400, 8000, 2 * GsmCodec::BlockSamples);
        std::vector<uchar> coded(400);
        QCOMPARE(codec.compress(voice.data(), int(voice.size()), GsmCodec::Phone, coded.data(), int(coded.size())), 264);

        std::vector<qint16> out(2000, 0);
        for (int length : {0, 1, 33, 65, 67, 131, 133, 200})
            QCOMPARE(codec.uncompress(coded.data(), length, out.data(), int(out.size())), 0);
        QCOMPARE(codec.uncompress(nullptr, 132, out.data(), int(out.size())), 0);

        // Two phone blocks into room for one and a half: one block, and not a sample more.
        std::fill(out.begin(), out.end(), qint16(0x1234));
        QCOMPARE(codec.uncompress(coded.data(), 264, out.data(), 1000), GsmCodec::BlockSamples);
        for (size_t i = GsmCodec::BlockSamples; i < out.size(); ++i)
            QCOMPARE(out[i], qint16(0x1234));
        std::fill(out.begin(), out.end(), qint16(0x1234));
        QCOMPARE(codec.uncompress(coded.data(), 132, out.data(), GsmCodec::BlockSamples - 1), 0);
        QCOMPARE(out[0], qint16(0x1234));

        // Three radio blocks are recognised by their length and decode to 8 kHz.
        GsmCodec radio;
        const auto longer = tone(400, 8000, 3 * GsmCodec::BlockSamples);
        QCOMPARE(radio.compress(longer.data(), int(longer.size()), GsmCodec::Radio, coded.data(), int(coded.size())), 198);
        QCOMPARE(radio.uncompress(coded.data(), 198, out.data(), int(out.size())), 3 * GsmCodec::BlockSamples);
        QVERIFY(rms(out.data() + 2 * GsmCodec::BlockSamples, GsmCodec::BlockSamples) > 3000);

        // Bytes without the frame signature decode as silence, never as noise or a crash.
        std::vector<uchar> junk(132, 0x3C);
        QCOMPARE(codec.uncompress(junk.data(), 132, out.data(), int(out.size())), GsmCodec::BlockSamples);
        QCOMPARE(rms(out.data(), GsmCodec::BlockSamples), 0.0);
    }

    void gsmNeverCarriesTheTerminator()
    {
        // A noise block whose plain four-frame encoding from a fresh state holds "<E>"; found
        // by an offline search over seeds, checked again here.
        std::mt19937 rng(283303);
        std::vector<qint16> block(GsmCodec::BlockSamples);
        for (qint16 &s : block)
            s = qint16(rng() >> 16);
        uchar plain[GsmCodec::PhoneBlockBytes];
        gsm raw = gsm_create();
        for (int f = 0; f < 4; ++f) {
            gsm_signal frame[160];
            std::copy(block.begin() + f * 160, block.begin() + (f + 1) * 160, frame);
            gsm_encode(raw, frame, plain + f * GsmCodec::FrameBytes);
        }
        gsm_destroy(raw);
        QVERIFY2(hasTerminator(plain, sizeof plain), "the crafted block no longer triggers");

        GsmCodec codec;
        uchar coded[GsmCodec::PhoneBlockBytes];
        QCOMPARE(codec.compress(block.data(), GsmCodec::BlockSamples, GsmCodec::Phone, coded, sizeof coded),
                 GsmCodec::PhoneBlockBytes);
        QVERIFY(!hasTerminator(coded, sizeof coded));
        // Only the offending frame was recoded; the ones before it are the plain coding.
        const int bad = int(QByteArrayView(plain, sizeof plain).indexOf(QByteArrayView("<E>"))) / GsmCodec::FrameBytes;
        QVERIFY(std::equal(plain, plain + bad * GsmCodec::FrameBytes, coded));
        std::vector<qint16> out(GsmCodec::BlockSamples);
        QCOMPARE(codec.uncompress(coded, sizeof coded, out.data(), int(out.size())), GsmCodec::BlockSamples);
        QVERIFY(rms(out.data(), int(out.size())) > 1000);
    }
};

QTEST_MAIN(TestCodecs)
#include "tst_codecs.moc"
