// "zelmo.num" as found in the profile folder: read, the number is one the pal server may
// have handed out or none at all, and written and read again it stays the same.
#include "FuzzSupport.h"

#include "protocol/DirectoryProtocol.h"
#include "directory/UserNumberFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(UserNumberFile::FileName);
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    const qint32 number = UserNumberFile::read(path);
    FUZZ_CHECK(number == -1
               || (number >= DirectoryProtocol::FirstUserNumber && number <= DirectoryProtocol::LastUserNumber));
    if (number == -1)
        return 0;
    FUZZ_CHECK(!UserNumberFile::write(path, number));
    FUZZ_CHECK(FuzzSupport::readFile(path) == QByteArray::number(number) + "\r\n");
    FUZZ_CHECK(UserNumberFile::read(path) == number);
    return 0;
}
