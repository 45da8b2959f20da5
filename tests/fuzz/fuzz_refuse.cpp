// "refuse.dat" as found in the profile folder: loaded, saved and loaded again, the list
// must come back as it was, and never hold more than its capacity.
#include "FuzzSupport.h"

#include "core/RefuseList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("refuse.dat"));
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    RefuseList first;
    first.load(path);
    FUZZ_CHECK(first.count() <= RefuseList::Capacity);
    FUZZ_CHECK(!first.save(path));
    const QByteArray saved = FuzzSupport::readFile(path);
    RefuseList second;
    second.load(path);
    FUZZ_CHECK(second.count() == first.count());
    for (int k = 1; k <= first.count(); ++k) {
        FUZZ_CHECK(second.entry(k).userNumber == first.entry(k).userNumber);
        FUZZ_CHECK(first.isRefused(first.entry(k).userNumber));
    }
    FUZZ_CHECK(!second.save(path));
    FUZZ_CHECK(FuzzSupport::readFile(path) == saved);
    return 0;
}
