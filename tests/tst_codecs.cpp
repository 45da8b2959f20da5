#include "media/sound/GsmCodec.h"
#include "media/picture/VideoCodec.h"
#include "support/TestSupport.h"

#include <gsm.h>
#include <turbojpeg.h>

#include <cmath>
#include <limits>
#include <random>

using Bytes = std::vector<uchar>;
using Samples = std::vector<qint16>;
using TestSupport::rms;
using TestSupport::tone;

namespace {

constexpr int Block = GsmCodec::BlockSamples;

bool hasTerminator(const uchar *data, int length)
{
    return QByteArrayView(data, length).contains(QByteArrayView("<E>"));
}

template<typename T>
bool allAre(const std::vector<T> &v, size_t from, T value)
{
    return std::all_of(v.begin() + qsizetype(from), v.end(), [value](T x) { return x == value; });
}

// Decodes a JPEG and gives its mean error per byte against the picture it was made from;
// infinite when it is refused or comes out at another size. `only` is the decoder's size limit.
double decodeError(VideoCodec &codec, const uchar *jpeg, int n, const Bytes &picture, QSize only = QSize(0, 0))
{
    Bytes image(picture.size());
    int w = 0, h = 0;
    if (codec.unCompressStill(jpeg, n, &w, &h, image.data(), int(image.size()), only.width(), only.height())
        != int(picture.size()))
        return std::numeric_limits<double>::infinity();
    double sum = 0;
    for (size_t i = 0; i < picture.size(); ++i)
        sum += std::abs(int(picture[i]) - int(image[i]));
    return sum / double(picture.size());
}

// Six blocks coded one call each, as the send loop does; the level of the last decoded block
// against its input's, or -1 when a block has the wrong size.
double levelRatio(const Samples &signal, int quality)
{
    GsmCodec encoder;
    GsmCodec decoder;
    const int bytes = quality == GsmCodec::Radio ? 66 : 132;
    Samples decoded(Block);
    for (int b = 0; b < 6; ++b) {
        uchar coded[200];
        if (encoder.compress(signal.data() + b * Block, Block, quality, coded, sizeof coded) != bytes
            || decoder.uncompress(coded, bytes, decoded.data(), Block) != Block)
            return -1;
    }
    return rms(decoded.data(), Block) / std::max(1.0, rms(signal.data() + 5 * Block, Block));
}

} // namespace

class TestCodecs : public QObject
{
    Q_OBJECT

private slots:
    void framesRoundTripAtTheSendQualitiesAndWithinTheirLimit()
    {
        VideoCodec codec;
        Bytes jpeg(60000);
        const Bytes picture = TestSupport::movingPicture(320, 240, 37);
        double error[2];
        int size[2];
        for (int i = 0; i < 2; ++i) {
            size[i] = codec.compressStill(picture.data(), 320, 240, i ? 30 : 15, jpeg.data(), 40000);
            QVERIFY(size[i] > 0 && !hasTerminator(jpeg.data(), size[i]));
            // Baseline JFIF, which every peer decodes.
            QVERIFY(QByteArrayView(jpeg.data(), 20).startsWith("\xFF\xD8\xFF\xE0\x00\x10JFIF"));
            QVERIFY(QByteArrayView(jpeg.data(), size[i]).contains("\xFF\xC0"));
            error[i] = decodeError(codec, jpeg.data(), size[i], picture);
        }
        QVERIFY2(error[0] < 14 && error[1] < 10, qPrintable(QStringLiteral("%1 %2").arg(error[0]).arg(error[1])));
        QVERIFY(error[1] < error[0] && size[1] > size[0]);
        // The largest frame the send loop makes fits its 40000-byte packet.
        const Bytes big = TestSupport::movingPicture(640, 480, 5);
        const int n = codec.compressStill(big.data(), 640, 480, 27, jpeg.data(), 40000);
        QVERIFY(n > 0 && n <= 40000);
        QVERIFY(decodeError(codec, jpeg.data(), n, big) < 10);

        // Limits under the size at quality 90 force lower qualities; nothing lands past the limit.
        const int full = codec.compressStill(picture.data(), 320, 240, 90, jpeg.data(), int(jpeg.size()));
        QVERIFY(full > 1000);
        for (const int limit : {full - 1, full * 2 / 3, full / 4}) {
            Bytes guarded(size_t(limit) + 64, 0xA5);
            const int m = codec.compressStill(picture.data(), 320, 240, 90, guarded.data(), limit);
            QVERIFY2(m > 0 && m <= limit, qPrintable(QStringLiteral("%1 for limit %2").arg(m).arg(limit)));
            QVERIFY(allAre(guarded, size_t(limit), uchar(0xA5)));
            QVERIFY(decodeError(codec, guarded.data(), m, picture) < 30);
        }
        // Even quality 1 does not fit: failure, and the buffer is left alone.
        Bytes tiny(164, 0x5A);
        QCOMPARE(codec.compressStill(picture.data(), 320, 240, 30, tiny.data(), 100), 0);
        QVERIFY(allAre(tiny, 0, uchar(0x5A)));
    }

    void hostileJpegIsRefused()
    {
        VideoCodec codec;
        const Bytes picture = TestSupport::movingPicture(160, 120, 1);
        Bytes jpeg(20000);
        const int size = codec.compressStill(picture.data(), 160, 120, 30, jpeg.data(), int(jpeg.size()));
        const int capacity = 160 * 120 * 3;
        Bytes image(size_t(capacity) + 32);
        int w = -1, h = -1;
        QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), capacity), capacity);
        QCOMPARE(codec.unCompressStill(nullptr, size, &w, &h, image.data(), capacity), 0);
        // Truncated anywhere, down to only the end marker missing.
        for (const int cut : {0, 1, 2, 20, size / 3, size / 2, size - 2}) {
            QCOMPARE(codec.unCompressStill(jpeg.data(), cut, &w, &h, image.data(), capacity), 0);
            QCOMPARE(w, 0);
        }
        // Garbage, with and without a start marker.
        std::mt19937 rng(7);
        Bytes garbage(4000);
        std::generate(garbage.begin(), garbage.end(), [&] { return uchar(rng() >> 24); });
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
            QVERIFY(allAre(image, size_t(capacity), uchar(0xEE)));
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

    void thumbnailsAreAveragedAndTheirSizeEnforced()
    {
        // A one-pixel checkerboard turns grey, not black or white; a white left half stays.
        Bytes board(640 * 480 * 3);
        for (size_t i = 0; i < board.size(); ++i) {
            const int x = int(i / 3 % 640), y = int(i / 3 / 640);
            board[i] = i % 3 == 0 ? uchar((x + y) % 2 ? 255 : 0) : uchar(x < 320 ? 255 : 0);
        }
        Bytes thumb(80 * 60 * 3 + 16, 0x77);
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3), 80 * 60 * 3);
        QVERIFY(std::abs(int(thumb[0]) - 128) <= 1);
        QCOMPARE(int(thumb[(30 * 80 + 39) * 3 + 2]), 255);
        QCOMPARE(int(thumb[(30 * 80 + 40) * 3 + 2]), 0);
        QVERIFY(allAre(thumb, 80 * 60 * 3, uchar(0x77)));
        thumb[0] = 0x33;
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, thumb.data(), 80, 60, 80 * 60 * 3 - 1), 0);
        QCOMPARE(thumb[0], uchar(0x33));
        // Halving in place, as the send loop does, gives what a separate target gets.
        Bytes separate(320 * 240 * 3);
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, separate.data(), 320, 240, int(separate.size())),
                 320 * 240 * 3);
        QCOMPARE(VideoCodec::downSampleImg(board.data(), 640, 480, board.data(), 320, 240, int(board.size())), 320 * 240 * 3);
        QVERIFY(std::equal(separate.begin(), separate.end(), board.begin()));

        // The 80 x 60 picture round trips; any other size, or a peer's full frame, is refused.
        VideoCodec codec;
        const Bytes frame = TestSupport::movingPicture(640, 480, 9);
        Bytes small(80 * 60 * 3);
        QCOMPARE(VideoCodec::downSampleImg(frame.data(), 640, 480, small.data(), 80, 60, int(small.size())), 80 * 60 * 3);
        Bytes jpeg(40000);
        const int size = codec.compressStill(small.data(), 80, 60, 85, jpeg.data(), 8000);
        QVERIFY(size > 0 && size <= 8000);
        QVERIFY(decodeError(codec, jpeg.data(), size, small, QSize(80, 60)) < 12);
        Bytes image(640 * 480 * 3);
        int w = 0, h = 0;
        for (const QSize other : {QSize(80, 61), QSize(320, 240)})
            QCOMPARE(codec.unCompressStill(jpeg.data(), size, &w, &h, image.data(), int(image.size()), other.width(),
                                           other.height()),
                     0);
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
            std::generate(picture.begin(), picture.end(), [&] { return uchar(rng() >> 24); });
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
        QVERIFY(std::isfinite(decodeError(codec, out.data(), n, picture)));
    }

    void textIsBurnedOnlyWhereItFits()
    {
        Bytes text(200000);
        int w = 0, h = 0;
        const int bytes = VideoCodec::textToImage(text.data(), int(text.size()), &w, &h, QStringLiteral("Hello there"));
        QVERIFY(w > 20 && h > 5);
        QCOMPARE(bytes, w * h * 3);
        const auto white = std::count_if(text.begin(), text.begin() + bytes, [](uchar b) { return b > 200; });
        QVERIFY(white > 30 && white < bytes / 2);
        int w2 = 0, h2 = 0;
        QCOMPARE(VideoCodec::textToImage(text.data(), w * h * 3 - 1, &w2, &h2, QStringLiteral("Hello there")), 0);

        // Centred in a frame as the send loop places it: copied, the rest untouched.
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
        for (const QPoint at : {QPoint(311, 0), QPoint(0, 231), QPoint(-1, 0)})
            QVERIFY(!VideoCodec::burnImage(frame.data(), 320, 240, text.data(), 10, 10, at.x(), at.y()));
        QVERIFY(frame == clean);
    }

    void gsmLevelFollowsTheInput()
    {
        // Phone quality passes 3 kHz, radio quality cuts it; silence stays silent.
        const struct { double hertz; int quality; double low, high; } cases[] = {
            {400, GsmCodec::Phone, 0.6, 1.4}, {400, GsmCodec::Radio, 0.6, 1.4}, {3000, GsmCodec::Phone, 0.4, 1.4},
            {3000, GsmCodec::Radio, 0, 0.1},  {0, GsmCodec::Radio, 0, 50}};
        for (const auto &c : cases) {
            const double ratio = levelRatio(tone(c.hertz, 6 * Block), c.quality);
            QVERIFY2(ratio >= c.low && ratio < c.high,
                     qPrintable(QStringLiteral("%1 Hz, quality %2: %3").arg(c.hertz).arg(c.quality).arg(ratio)));
        }
    }

    void gsmBodiesKeepToTheirLengthAndBothBuffers()
    {
        GsmCodec codec;
        const Samples voice = tone(400, 4 * Block);
        Bytes coded(1000);
        // Several blocks in one call; a partial last block is padded to a whole one.
        QCOMPARE(codec.compress(voice.data(), 3 * Block + 100, GsmCodec::Phone, coded.data(), 1000), 4 * 132);
        Samples out(4 * Block);
        QCOMPARE(codec.uncompress(coded.data(), 4 * 132, out.data(), int(out.size())), 4 * Block);
        QVERIFY(rms(out.data() + 2 * Block, Block) > 2000);
        // Only whole blocks that fit the output are coded.
        QCOMPARE(codec.compress(voice.data(), 3 * Block, GsmCodec::Radio, coded.data(), 140), 132);
        QCOMPARE(codec.compress(voice.data(), Block, GsmCodec::Phone, coded.data(), 131), 0);

        // Bodies of no block length are refused.
        QCOMPARE(codec.compress(voice.data(), 2 * Block, GsmCodec::Phone, coded.data(), 400), 264);
        out.assign(2000, 0);
        for (int length : {0, 1, 33, 65, 67, 131, 133, 200})
            QCOMPARE(codec.uncompress(coded.data(), length, out.data(), int(out.size())), 0);
        // Two phone blocks into room for one and a half: one block, and not a sample more.
        std::fill(out.begin(), out.end(), qint16(0x1234));
        QCOMPARE(codec.uncompress(coded.data(), 264, out.data(), 1000), Block);
        QVERIFY(allAre(out, Block, qint16(0x1234)));
        out[0] = 0x1234;
        QCOMPARE(codec.uncompress(coded.data(), 132, out.data(), Block - 1), 0);
        QCOMPARE(out[0], qint16(0x1234));

        // Three radio blocks are told by their length and come out at 8 kHz.
        GsmCodec radio;
        QCOMPARE(radio.compress(voice.data(), 3 * Block, GsmCodec::Radio, coded.data(), 400), 198);
        QCOMPARE(radio.uncompress(coded.data(), 198, out.data(), int(out.size())), 3 * Block);
        QVERIFY(rms(out.data() + 2 * Block, Block) > 3000);
        // Bytes without the frame signature decode as silence, not noise.
        const Bytes junk(132, 0x3C);
        QCOMPARE(codec.uncompress(junk.data(), 132, out.data(), int(out.size())), Block);
        QCOMPARE(rms(out.data(), Block), 0.0);
    }

    void gsmNeverCarriesTheTerminator()
    {
        // A noise block whose plain coding from a fresh state holds "<E>" (the seed comes from
        // an offline search; the trigger is checked again here).
        std::mt19937 rng(283303);
        Samples block(Block);
        std::generate(block.begin(), block.end(), [&] { return qint16(rng() >> 16); });
        uchar plain[132];
        gsm raw = gsm_create();
        for (int f = 0; f < 4; ++f)
            gsm_encode(raw, block.data() + f * 160, plain + f * 33);
        gsm_destroy(raw);
        QVERIFY2(hasTerminator(plain, sizeof plain), "the crafted block no longer triggers");

        GsmCodec codec;
        uchar coded[132];
        QCOMPARE(codec.compress(block.data(), Block, GsmCodec::Phone, coded, sizeof coded), 132);
        QVERIFY(!hasTerminator(coded, sizeof coded));
        Samples out(Block);
        QCOMPARE(codec.uncompress(coded, sizeof coded, out.data(), Block), Block);
        QVERIFY(rms(out.data(), Block) > 1000);
    }
};

QTEST_MAIN(TestCodecs)
#include "tst_codecs.moc"
