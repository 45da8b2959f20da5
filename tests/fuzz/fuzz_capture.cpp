// "capture.ini", the capture choices kept per camera: loaded and saved twice, the second
// save writes what the first did.
#include "FuzzSupport.h"

#include "media/picture/CaptureProfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("capture.ini"));
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    const CaptureProfile first(path);
    FUZZ_CHECK(first.save());
    const QByteArray saved = FuzzSupport::readFile(path);
    const CaptureProfile second(path);
    FUZZ_CHECK(second.save());
    FUZZ_CHECK(FuzzSupport::readFile(path) == saved);
    return 0;
}
