// "zelmo.ini" as found in the profile folder: loaded, saved over (keeping its foreign
// lines) and loaded again, the settings must come back as they were.
#include "FuzzSupport.h"

#include "core/Settings.h"

namespace {

// The bytes a set of settings is written as on its own.
QByteArray written(const Settings &settings)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("alone.ini"));
    QFile::remove(path);
    FUZZ_CHECK(settings.save(path));
    return FuzzSupport::readFile(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("zelmo.ini"));
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    Settings first;
    first.load(path);
    FUZZ_CHECK(first.Name.size() <= 49 && first.WelcomeMsg.size() <= 99);
    FUZZ_CHECK(first.save(path));
    Settings second;
    second.load(path);
    FUZZ_CHECK(written(second) == written(first));
    return 0;
}
