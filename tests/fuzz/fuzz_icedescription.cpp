// A peer's ICE description as the directory server passes it on: whatever is read must be
// within every bound and write back as the very same text; whatever is refused has no
// description.
#include "FuzzSupport.h"

#include "path/IceDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = FuzzSupport::bytes(data, size);
    const std::optional<IceDescription> read = IceDescription::parse(text);
    if (!read)
        return 0;
    FUZZ_CHECK(read->isValid());
    FUZZ_CHECK(text.size() <= IceDescription::MaxLength);
    FUZZ_CHECK(read->candidates().size() <= IceDescription::MaxCandidates);
    FUZZ_CHECK(!text.contains(';') && !text.contains('<') && !text.contains('>'));
    for (const QByteArray &candidate : read->candidates())
        FUZZ_CHECK(IceDescription::isCandidateLine(candidate));
    FUZZ_CHECK(read->toText() == text);
    const std::optional<IceDescription> again = IceDescription::parse(read->toText());
    FUZZ_CHECK(again && *again == *read);
    return 0;
}
