#pragma once

// What the scenarios use everywhere: Qt's test tools, files and sockets.
#include "core/Sanitizers.h"
#include "media/picture/YuvPicture.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

// Helpers shared by the tests.
namespace TestSupport {

// Whether this build runs under AddressSanitizer, which keeps freed memory aside: memory
// figures mean nothing there.
#ifdef ZELMO_ADDRESS_SANITIZER
constexpr bool UnderAddressSanitizer = true;
#else
constexpr bool UnderAddressSanitizer = false;
#endif

// A block of `span` free-to-use ports inside this test executable's own range (CTest gives
// each executable its range through ZELMO_TEST_PORT_BASE and ZELMO_TEST_PORT_SPAN).
// Successive calls return successive blocks, so two programs in one test never share
// ports; asking for more than the range holds stops the test with a message.
inline constexpr int DefaultPortSpan = 500;
int portBlock(int span = 20);
// The block of a directory server's two ports (directory, pal) and of their encrypted
// ports, PortPlan::EncryptedOffset above them: EncryptedOffset + 2 in all.
inline constexpr int ServerPortSpan = 18;
// The block of one bare server's port, whose encrypted port (16 above) nothing else in
// the test may take: a client looking there must be refused, as by a server of the
// published protocol.
inline constexpr int BareServerPortSpan = 17;

// A file's bytes as they are on disk (empty when unreadable), and a file made of bytes.
QByteArray readBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);

// Something in this network listens on the TCP port. Read from the kernel's tables, not
// by trying the port: a probe that holds it for a moment can make a starting program find
// it taken and move to other ports.
bool listening(int port);

// Counts a timer's ticks and keeps the longest pause between two, for the record.
struct TickWatch
{
    int count = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QMetaObject::Connection connection;

    explicit TickWatch(QTimer *timer)
    {
        sinceTick.start();
        connection = QObject::connect(timer, &QTimer::timeout, [this] {
            ++count;
            longestGap = std::max(longestGap, sinceTick.restart());
        });
    }
    ~TickWatch() { QObject::disconnect(connection); }
    TickWatch(const TickWatch &) = delete;
    TickWatch &operator=(const TickWatch &) = delete;
};

// Gives the programs this test starts a runtime folder of their own (readable by the owner
// only) below `parent`; without one every program complains about it.
void useOwnRuntimeFolder(const QString &parent);

// The resident memory of a process (0: this one), in kB; 0 when it cannot be read.
qint64 residentKilobytes(qint64 pid = 0);

// `count` samples of a sine tone sampled at 8000 Hz, and the root-mean-square level of samples.
std::vector<qint16> tone(double hertz, int count, double amplitude = 8000);
double rms(const qint16 *samples, int count);

// How far apart two pictures are: the mean difference of a colour channel, in levels
// (255 when their sizes differ).
double meanError(const QImage &a, const QImage &b);

// A moving 24-bit picture like a camera's: gradients, sliding colour bars, hard blocks.
std::vector<uchar> movingPicture(int width, int height, int frame);
// The same picture as the encoders take it.
YuvPicture movingYuvPicture(int width, int height, int frame);

// A loopback port whose listening queue is full, so that the system drops every new
// connection request to it without a word, as a firewall that drops them would.
class SilentPort
{
public:
    explicit SilentPort(int port);
    ~SilentPort();
    SilentPort(const SilentPort &) = delete;
    SilentPort &operator=(const SilentPort &) = delete;
    // Listening, with its queue taken.
    bool isSilent() const { return m_filler >= 0; }

private:
    int m_listening = -1;
    int m_filler = -1;
};

} // namespace TestSupport
