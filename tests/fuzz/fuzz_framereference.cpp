// The first bytes of the peer's picture packets after decryption: the payload descriptors a
// whole frame is judged by. The input is a run of packets, each one byte (its length in the
// low four bits, whether its frame is a key frame in the fifth) and then its bytes.
#include "FuzzSupport.h"

#include "datagrams/FrameReferenceCheck.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FrameReferenceCheck check;
    size_t at = 0;
    while (at < size) {
        const uint8_t head = data[at++];
        const size_t length = std::min<size_t>(head & 0x0f, size - at);
        const bool key = head & 0x10;
        // Read from a copy of exactly its length, so a read past it is a fault the
        // sanitizer sees.
        const std::vector<uint8_t> packet(data + at, data + at + length);
        at += length;
        const auto descriptor = FrameReferenceCheck::parse(packet.data(), packet.size());
        if (!descriptor)
            continue;
        FUZZ_CHECK(descriptor->pictureId < (1 << 15) && descriptor->baseIndex < 256 && descriptor->layer < 4);
        FUZZ_CHECK(descriptor->pictureId < 0 || descriptor->pictureIdBits == 7 || descriptor->pictureIdBits == 15);
        // A key frame is decodable whatever came before it.
        const bool decodable = check.take(*descriptor, key);
        FUZZ_CHECK(!key || decodable);
    }
    return 0;
}
