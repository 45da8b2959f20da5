#include "directory/UserNumberFile.h"

#include "core/Fields.h"
#include "core/LineFile.h"
#include "protocol/DirectoryProtocol.h"

namespace UserNumberFile {

qint32 read(const QString &path)
{
    const std::optional<QByteArrayList> lines = LineFile::read(path, 256);
    if (!lines || lines->isEmpty())
        return -1;
    const qint64 number = Fields::leadingNumber(lines->first());
    if (number < DirectoryProtocol::FirstUserNumber || number > DirectoryProtocol::LastUserNumber)
        return -1;
    return qint32(number);
}

FileError write(const QString &path, qint32 number)
{
    return LineFile::write(path, {QByteArray::number(number)});
}

} // namespace UserNumberFile
