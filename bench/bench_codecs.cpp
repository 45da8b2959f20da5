// Time per frame of the video codec and per 80 ms block of the GSM codec, beside the JPEG
// library's own benchmark tool (when installed) doing the same work on the same picture.

#include "media/sound/GsmCodec.h"
#include "media/picture/VideoCodec.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

namespace {

constexpr qint64 MinimumNanoseconds = 400'000'000;


// Milliseconds per call, run for long enough to smooth out the timer and the caches.
double timePerCall(const std::function<void()> &work)
{
    for (int i = 0; i < 5; ++i)
        work();
    QElapsedTimer timer;
    timer.start();
    qint64 calls = 0;
    while (calls < 20 || timer.nsecsElapsed() < MinimumNanoseconds) {
        work();
        ++calls;
    }
    return double(timer.nsecsElapsed()) / 1e6 / double(calls);
}

struct ToolFigures
{
    double compressMs = 0;
    double decompressMs = 0;
};

// Runs the library's benchmark on the same picture, same quality and subsampling; its
// figures are megapixels per second, turned into milliseconds per frame here.
std::optional<ToolFigures> runTool(const QString &tool, const std::vector<uchar> &rgb, int width,
                                   int height, int quality)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    const QString ppm = dir.filePath(QStringLiteral("frame.ppm"));
    QFile file(ppm);
    if (!file.open(QIODevice::WriteOnly))
        return std::nullopt;
    file.write(QStringLiteral("P6\n%1 %2\n255\n").arg(width).arg(height).toLatin1());
    file.write(reinterpret_cast<const char *>(rgb.data()), qint64(rgb.size()));
    file.close();

    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(tool, {ppm, QString::number(quality), QStringLiteral("-rgb"), QStringLiteral("-subsamp"),
                         QStringLiteral("420"), QStringLiteral("-quiet"), QStringLiteral("-nowrite"),
                         QStringLiteral("-benchtime"), QStringLiteral("1"), QStringLiteral("-warmup"),
                         QStringLiteral("0.3")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return std::nullopt;
    // The result line: format, subsampling, quality, width, height, compress Mpixel/s,
    // ratio, decompress Mpixel/s.
    static const QRegularExpression line(QStringLiteral(
        R"(4:2:0\s+(\d+)\s+(\d+)\s+(\d+)\s+([\d.]+)\s+([\d.]+)\s+([\d.]+))"));
    const auto match = line.match(QString::fromLatin1(process.readAllStandardOutput()));
    if (!match.hasMatch())
        return std::nullopt;
    const double pixels = double(width) * height;
    const double compress = match.captured(4).toDouble();
    const double decompress = match.captured(6).toDouble();
    if (compress <= 0 || decompress <= 0)
        return std::nullopt;
    return ToolFigures{pixels / (compress * 1e6) * 1e3, pixels / (decompress * 1e6) * 1e3};
}

void printRow(const char *work, double ours, std::optional<double> tool)
{
    if (tool)
        std::printf("%-34s %10.3f %10.3f %8.2f\n", work, ours, *tool, ours / *tool);
    else
        std::printf("%-34s %10.3f %10s %8s\n", work, ours, "-", "-");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("tjbench"));

    std::printf("%-34s %10s %10s %8s\n", "work", "ours ms", "tjbench ms", "ratio");
    std::printf("%s\n", QByteArray(65, '-').constData());

    VideoCodec codec;
    struct Case
    {
        int width;
        int height;
        int quality;
    };
    int jpegBytes[2] = {0, 0};
    int index = 0;
    for (const Case c : {Case{320, 240, 30}, Case{640, 480, 27}}) {
        const auto picture = TestSupport::movingPicture(c.width, c.height, 11);
        std::vector<uchar> jpeg(40000);
        std::vector<uchar> decoded(picture.size());
        int size = 0;
        const double compress = timePerCall([&] {
            size = codec.compressStill(picture.data(), c.width, c.height, c.quality, jpeg.data(), int(jpeg.size()));
        });
        jpegBytes[index++] = size;
        int w = 0;
        int h = 0;
        const double decompress = timePerCall([&] {
            codec.unCompressStill(jpeg.data(), size, &w, &h, decoded.data(), int(decoded.size()));
        });
        std::optional<ToolFigures> figures;
        if (!tool.isEmpty())
            figures = runTool(tool, picture, c.width, c.height, c.quality);
        const QByteArray label = QStringLiteral("%1x%2 q%3").arg(c.width).arg(c.height).arg(c.quality).toLatin1();
        printRow((label + " compress").constData(), compress,
                 figures ? std::optional<double>(figures->compressMs) : std::nullopt);
        printRow((label + " decompress").constData(), decompress,
                 figures ? std::optional<double>(figures->decompressMs) : std::nullopt);
    }

    // A speech-like signal: two tones with a slow swell, so the coder does real work.
    std::vector<qint16> block(GsmCodec::BlockSamples);
    for (int i = 0; i < GsmCodec::BlockSamples; ++i) {
        const double t = i / 8000.0;
        block[size_t(i)] = qint16(std::lround((4000 + 3000 * std::sin(2 * std::numbers::pi * 3 * t))
                                             * (std::sin(2 * std::numbers::pi * 220 * t)
                                                + 0.5 * std::sin(2 * std::numbers::pi * 1270 * t))));
    }
    for (const int quality : {int(GsmCodec::Phone), int(GsmCodec::Radio)}) {
        GsmCodec gsm;
        uchar coded[GsmCodec::PhoneBlockBytes];
        std::vector<qint16> out(GsmCodec::BlockSamples);
        int n = 0;
        const double encode = timePerCall([&] {
            n = gsm.compress(block.data(), GsmCodec::BlockSamples, quality, coded, sizeof coded);
        });
        const double decode = timePerCall([&] { gsm.uncompress(coded, n, out.data(), int(out.size())); });
        const char *name = quality == GsmCodec::Phone ? "phone" : "radio";
        printRow(QStringLiteral("GSM %1 block encode (%2 B)").arg(QLatin1String(name)).arg(n).toLatin1().constData(),
                 encode, std::nullopt);
        printRow(QStringLiteral("GSM %1 block decode").arg(QLatin1String(name)).toLatin1().constData(), decode,
                 std::nullopt);
    }

    std::printf("\nframe sizes: 320x240 q30 %d bytes, 640x480 q27 %d bytes (limit 40000)\n", jpegBytes[0],
                jpegBytes[1]);
    std::printf("a GSM block is 80 ms of sound; ratio = ours / tjbench (above 1: ours slower)\n");
    if (tool.isEmpty())
        std::printf("tjbench is not installed (package libjpeg-turbo-progs): comparison skipped\n");
    return 0;
}
