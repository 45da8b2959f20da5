#pragma once

#include "core/FileError.h"

#include <QByteArrayList>
#include <QString>
#include <optional>

// Reading and writing the small line-based data files. Lines end in CR LF when written;
// either LF or CR LF is accepted when read.
namespace LineFile {

enum class Part { Head, Tail };

// The lines of a regular file, reading at most maxBytes of it: its beginning (Head) or its
// end (Tail). A line cut by that bound is dropped. Nothing when the path is not a regular
// file or cannot be opened, so a device or a pipe in the way never blocks.
std::optional<QByteArrayList> read(const QString &path, qint64 maxBytes, Part part = Part::Head);

// At most maxBytes of a regular file, opened without following a symbolic link: nothing
// when the path is a link, not a regular file, or cannot be read.
std::optional<QByteArray> readBytes(const QString &path, qint64 maxBytes);
// The path itself is a symbolic link (whatever it points at, or nothing).
bool isLink(const QString &path);
// A link's own name with this added is where setAsideLink() puts it.
inline const QString LinkSuffix = QStringLiteral(".link");
// Renames a link found where a file should be to path + LinkSuffix; what it points at is
// left alone. True when there was a link and it moved.
bool setAsideLink(const QString &path);

// The bytes split at LF, a CR before each LF dropped; no empty line after a final LF.
QByteArrayList splitLines(const QByteArray &bytes);

// Writes each line followed by CR LF, replacing the file only when everything was written.
FileError write(const QString &path, const QByteArrayList &lines);
enum class Access { Default, OwnerOnly };
// Replaces the file with these bytes, only when all of them were written. OwnerOnly files
// (keys) are readable by their owner alone from before their first byte is written. A link
// in the file's place is never followed: it is set aside (setAsideLink) and a file of the
// file's own takes its place.
FileError writeBytes(const QString &path, const QByteArray &bytes, Access access = Access::Default);

} // namespace LineFile
