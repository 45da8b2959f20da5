// A compressed picture as a peer sends it: the JPEG decoder's wrapper, with the
// capacities the program decodes into.
//
// Input: a capacity choice, then the picture.
#include "FuzzSupport.h"

#include "media/picture/VideoCodec.h"

#include <vector>

namespace {
// The largest picture the program decodes: a frame of the largest capture size.
constexpr int MaxFrameBytes = 640 * 480 * 3;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static VideoCodec codec;
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const uint8_t choice = input.take();
    const QByteArray picture = input.rest();
    const auto *jpeg = reinterpret_cast<const uchar *>(picture.constData());
    const int length = int(picture.size());

    int w = 0;
    int h = 0;
    const bool header = codec.pictureSize(jpeg, length, &w, &h);
    // The room the picture needs exactly, one byte less, or room for the largest frame.
    const qint64 needed = header ? qint64(w) * h * 3 : 0;
    int capacity = MaxFrameBytes;
    if (header && needed > 0 && needed <= MaxFrameBytes)
        capacity = int(needed) - (choice % 3 == 1 ? 1 : 0);
    if (capacity <= 0)
        return 0;
    // A copy of exactly that capacity, so that any write past it is caught.
    std::vector<uchar> target(static_cast<size_t>(capacity));
    const bool expect = choice & 4;
    int width = -1;
    int height = -1;
    const int n = codec.unCompressStill(jpeg, length, &width, &height, target.data(), capacity,
                                        expect ? w : 0, expect ? h : 0);
    FUZZ_CHECK(n >= 0 && n <= capacity);
    if (n > 0) {
        FUZZ_CHECK(header && width == w && height == h && n == w * h * 3);
    } else {
        FUZZ_CHECK(width == 0 && height == 0);
    }
    return 0;
}
