#pragma once

#include "core/FileError.h"

#include <QString>

// This installation's user number, kept in "zelmo.num" in the profile folder: one line
// with the number in decimal. It is read at start-up and written when the pal server
// hands out a number.
namespace UserNumberFile {

inline const QString FileName = QStringLiteral("zelmo.num");

// -1 when the file is missing or holds no number of the pal server's range.
qint32 read(const QString &path);
FileError write(const QString &path, qint32 number);

} // namespace UserNumberFile
