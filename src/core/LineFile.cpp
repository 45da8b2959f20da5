#include "core/LineFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LineFile {

QByteArrayList splitLines(const QByteArray &bytes)
{
    QByteArrayList lines = bytes.split('\n');
    // The piece after the last LF is a line only when it holds something.
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

namespace {

// `file` opened for reading on a regular file, without following a link and without
// blocking on a pipe in the way; false otherwise.
bool openRegular(QFile &file, const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

FileError errnoError(QFileDevice::FileError code, int error)
{
    return FileError{int(code), QString::fromLocal8Bit(std::strerror(error))};
}

// The mode a new file gets: what the process's umask leaves of read and write for all.
mode_t defaultMode()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(0666 & ~mask);
            }
        }
    }
    return 0644;
}

} // namespace

std::optional<QByteArray> readBytes(const QString &path, qint64 maxBytes)
{
    QFile file;
    if (!openRegular(file, path))
        return std::nullopt;
    QByteArray bytes = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

bool isLink(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool setAsideLink(const QString &path)
{
    if (!isLink(path))
        return false;
    return ::rename(QFile::encodeName(path).constData(), QFile::encodeName(path + LinkSuffix).constData()) == 0;
}

std::optional<QByteArrayList> read(const QString &path, qint64 maxBytes, Part part)
{
    QFile file;
    if (!openRegular(file, path))
        return std::nullopt;
    const qint64 size = file.size();
    if (size <= maxBytes) {
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        return splitLines(bytes);
    }
    if (part == Part::Head) {
        QByteArray bytes = file.read(maxBytes);
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        // Keep whole lines only.
        bytes.truncate(bytes.lastIndexOf('\n') + 1);
        return splitLines(bytes);
    }
    // One byte more than the bound tells whether the first line read starts a line.
    if (!file.seek(size - maxBytes - 1))
        return std::nullopt;
    QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    const qsizetype firstEnd = bytes.indexOf('\n');
    if (firstEnd < 0)
        return QByteArrayList(); // all of it is one cut line
    bytes.remove(0, firstEnd + 1);
    return splitLines(bytes);
}

FileError write(const QString &path, const QByteArrayList &lines)
{
    QByteArray bytes;
    for (const QByteArray &line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return writeBytes(path, bytes);
}

FileError writeBytes(const QString &path, const QByteArray &bytes, Access access)
{
    // A new file of its own beside the old one, made by this call (never an existing file
    // or a link) and readable by its owner alone until it is whole, then renamed over the
    // old name: the rename replaces whatever is there rather than writing through a link.
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".new-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errnoError(QFileDevice::OpenError, errno);
    const auto fail = [&](QFileDevice::FileError code, bool open) {
        const int error = errno;
        if (open)
            ::close(fd);
        ::unlink(temporary.constData());
        return errnoError(code, error);
    };
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(QFileDevice::WriteError, true);
        done += n;
    }
    // A full disk may only show here: the old file stays until the new one is whole.
    if (::fsync(fd) != 0)
        return fail(QFileDevice::WriteError, true);
    if (access != Access::OwnerOnly) {
        struct stat old {};
        const mode_t mode = ::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode) ? (old.st_mode & 07777)
                                                                                          : defaultMode();
        if (::fchmod(fd, mode) != 0)
            return fail(QFileDevice::PermissionsError, true);
    }
    if (::close(fd) != 0)
        return fail(QFileDevice::WriteError, false);
    setAsideLink(path);
    if (::rename(temporary.constData(), target.constData()) != 0)
        return fail(QFileDevice::RenameError, false);
    return {};
}

} // namespace LineFile
