// "zelmo.log" as found in the profile folder: what the log window shows holds no control
// character, keeps at most its line limit, and saving it loses nothing.
#include "FuzzSupport.h"

#include "core/ActivityLog.h"
#include "core/Fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("zelmo.log"));
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    ActivityLog first;
    first.load(path);
    FUZZ_CHECK(first.lines().size() <= ActivityLog::MaxLines);
    for (const QString &line : first.lines())
        FUZZ_CHECK(Fields::singleLine(line) == line);
    FUZZ_CHECK(!first.save(path));
    ActivityLog second;
    second.load(path);
    FUZZ_CHECK(second.lines() == first.lines());
    return 0;
}
