#include "core/LineFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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

std::optional<QByteArrayList> read(const QString &path, qint64 maxBytes, Part part)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
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

static FileError errorOf(const QFileDevice &file)
{
    const int code = file.error() == QFileDevice::NoError ? int(QFileDevice::WriteError)
                                                          : int(file.error());
    return FileError{code, file.errorString()};
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return errorOf(file);
    if (access == Access::OwnerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const FileError error = errorOf(file);
        file.cancelWriting();
        return error;
    }
    // The bytes wait in the file's buffer until flushed. A flush that fails (a full disk)
    // must stop the save here: the commit would not notice, and would put the short new
    // file in place of the old one.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const FileError error = errorOf(file);
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return errorOf(file);
    return {};
}

} // namespace LineFile
