#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

private:
    QByteArray m_input;
    qsizetype m_pos = 0;
};

} // namespace FuzzSupport
