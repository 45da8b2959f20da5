#include "support/TestSupport.h"

#include "media/picture/FrameConverter.h"

#include <QDir>

#include <QFile>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace TestSupport {

qint64 residentKilobytes(qint64 pid)
{
    QFile status(pid > 0 ? QStringLiteral("/proc/%1/status").arg(pid) : QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

int portBlock(int span)
{
    static int used = 0;
    const int base = qEnvironmentVariableIsSet("ZELMO_TEST_PORT_BASE")
                         ? qEnvironmentVariableIntValue("ZELMO_TEST_PORT_BASE")
                         : 40000;
    const int room = qEnvironmentVariableIsSet("ZELMO_TEST_PORT_SPAN")
                         ? qEnvironmentVariableIntValue("ZELMO_TEST_PORT_SPAN")
                         : DefaultPortSpan;
    // Running past the range would silently share ports with the next test executable,
    // which CTest may be running at the same moment: stop loudly in every build type.
    if (span < 1 || used + span > room)
        qFatal("This test needs more than its %d ports (%d taken, %d more asked for): give it a "
               "larger span in tests/CMakeLists.txt",
               room, used, span);
    const int port = base + used;
    used += span;
    return port;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void useOwnRuntimeFolder(const QString &parent)
{
    const QString runtime = parent + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

std::vector<qint16> tone(double hertz, int count, double amplitude)
{
    std::vector<qint16> s(size_t(std::max(count, 0)));
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * double(i) / 8000.0)));
    return s;
}

double rms(const qint16 *samples, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

double meanError(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int i = 0; i < x.width(); ++i)
            sum += std::abs(qRed(p[i]) - qRed(q[i])) + std::abs(qGreen(p[i]) - qGreen(q[i])) + std::abs(qBlue(p[i]) - qBlue(q[i]));
    }
    return sum / (3.0 * x.width() * x.height());
}

bool listening(int port)
{
    // Each row: "sl local_address rem_address st ...", the address as hex "ADDR:PORT", and
    // state 0A for a listening socket.
    const QByteArray ending = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QString &table : {QStringLiteral("/proc/net/tcp"), QStringLiteral("/proc/net/tcp6")}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> rows = file.readAll().split('\n');
        for (const QByteArray &row : rows) {
            const QList<QByteArray> fields = row.simplified().split(' ');
            if (fields.size() > 3 && fields.at(3) == "0A" && fields.at(1).endsWith(ending))
                return true;
        }
    }
    return false;
}

YuvPicture movingYuvPicture(int width, int height, int frame)
{
    const std::vector<uchar> rgb = movingPicture(width, height, frame);
    YuvPicture picture;
    FrameConverter::rgbToYuvPicture(QImage(rgb.data(), width, height, width * 3, QImage::Format_RGB888), picture);
    return picture;
}

std::vector<uchar> movingPicture(int width, int height, int frame)
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

SilentPort::SilentPort(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listening, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // A queue of one, taken by a connection nobody accepts.
    if (::bind(m_listening, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(m_listening, 0) != 0)
        return;
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(m_filler, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        ::close(m_filler);
        m_filler = -1;
    }
}

SilentPort::~SilentPort()
{
    if (m_filler >= 0)
        ::close(m_filler);
    if (m_listening >= 0)
        ::close(m_listening);
}

} // namespace TestSupport
