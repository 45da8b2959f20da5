#pragma once

#include "core/LineCutter.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <linux/tcp.h>
#include <poll.h>
#include <sys/socket.h>

// Helpers shared by the fuzz targets. A target is one fuzz_<name>.cpp with
// LLVMFuzzerTestOneInput; its seeds live in corpus/<name>/ and are made by make_seeds.cpp.

// A property of the code under test that must hold for every input. A broken one is a
// crash as far as the fuzzer is concerned, with the input kept as an artifact.
#define FUZZ_CHECK(condition)                                                                        \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                            \
        }                                                                                            \
    } while (false)

namespace FuzzSupport {

// The application the code under test runs in, made on the first input.
inline void application(const char *name)
{
    static int argc = 1;
    static std::string program(name);
    static char *argv[] = {program.data(), nullptr};
    static QCoreApplication app(argc, argv);
}

// Ends the run when something the target needs did not come up; a broken world is no find.
inline void require(bool up, const char *what, const QString &why)
{
    if (!up) {
        std::fprintf(stderr, "%s did not start: %s\n", what, qPrintable(why));
        std::abort();
    }
}

// Runs the event loop of the code under test until the condition holds; one that never
// comes is a hang, and a crash as far as the fuzzer is concerned.
template<typename Condition>
void settle(Condition done, const char *who, const char *what, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) {
            std::fprintf(stderr, "%s did not %s within %d ms\n", who, what, ms);
            std::abort();
        }
        QCoreApplication::processEvents();
    }
}

inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A scratch folder for the file targets, on a memory file system where there is one, so
// that the atomic writes' syncs cost nothing.
inline QString scratchPath(const QString &name)
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/zelmo-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/zelmo-fuzz-XXXXXX"));
    return dir.filePath(name);
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(content);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Takes small choices off the front of an input, the rest being the data itself, so that a
// seed reads as its few choice bytes followed by a real exchange.
class Choices
{
public:
    explicit Choices(QByteArray input) : m_input(std::move(input)) {}
    uint8_t take()
    {
        if (m_pos >= m_input.size())
            return 0;
        return uint8_t(m_input.at(m_pos++));
    }
    QByteArray rest() const { return m_input.mid(m_pos); }
    // A count (1 to `most`) and that many choices.
    std::vector<uint8_t> takeMany(int most)
    {
        std::vector<uint8_t> choices(1 + take() % most);
        for (uint8_t &c : choices)
            c = take();
        return choices;
    }

private:
    QByteArray m_input;
    qsizetype m_pos = 0;
};

// A socket connected to the port on 127.0.0.1, each write going out at once rather than
// held back for the last one's acknowledgement; *error is 0, or why it did not connect.
// libFuzzer's timeout alarm (SIGALRM every few seconds, its handler set without
// SA_RESTART) interrupts a connect that has to wait for the handshake, as it may on a busy
// machine; the connection then goes on by itself, and its outcome is read once the socket
// is writable.
inline int connectLoopback(int port, int ms, int *error)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    *error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0)
        return fd;
    if (errno != EINTR) {
        *error = errno;
        return fd;
    }
    pollfd writable{fd, POLLOUT, 0};
    for (;;) {
        const int r = ::poll(&writable, 1, ms);
        if (r > 0)
            break;
        if (r == 0 || errno != EINTR) {
            *error = r == 0 ? ETIMEDOUT : errno;
            return fd;
        }
    }
    socklen_t length = sizeof *error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, error, &length) != 0)
        *error = errno;
    return fd;
}

// Cuts the stream at the terminator within the limit, taking at most `readSize` bytes at a
// time as a connection's reads would, and hands each piece on with whether it ends a line.
template<typename Piece>
void forEachLine(const QByteArray &stream, const QByteArray &terminator, int limit, qsizetype readSize, Piece piece)
{
    LineCutter cutter;
    cutter.setTerminator(terminator);
    cutter.setLimit(limit);
    qsizetype at = 0;
    for (;;) {
        QByteArray text;
        bool eol = false;
        while (cutter.next(&text, &eol))
            piece(text, eol);
        if (at >= stream.size())
            return;
        const QByteArray part = stream.mid(at, std::min(readSize, cutter.room()));
        cutter.append(part);
        at += part.size();
    }
}

} // namespace FuzzSupport
