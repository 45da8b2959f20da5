// "zelmo.pal" as found in the profile folder: loaded, saved and loaded again, the pals
// must come back as they were, and never more than the table holds.
#include "FuzzSupport.h"

#include "core/PalList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = FuzzSupport::scratchPath(QStringLiteral("zelmo.pal"));
    FuzzSupport::writeFile(path, FuzzSupport::bytes(data, size));

    PalList first;
    first.load(path);
    FUZZ_CHECK(first.count() <= PalList::Capacity && first.checkPosition == first.count());
    FUZZ_CHECK(!first.save(path));
    const QByteArray saved = FuzzSupport::readFile(path);
    PalList second;
    second.load(path);
    FUZZ_CHECK(second.count() == first.count());
    for (int k = 1; k <= first.count(); ++k)
        FUZZ_CHECK(second.pal(k).Status == 1);
    FUZZ_CHECK(!second.save(path));
    FUZZ_CHECK(FuzzSupport::readFile(path) == saved);
    // Removing the first pal keeps the others in order.
    if (second.count() > 0) {
        const int before = second.count();
        FUZZ_CHECK(!second.remove(path, 1));
        FUZZ_CHECK(second.count() == before - 1 && second.checkPosition <= second.count());
    }
    return 0;
}
