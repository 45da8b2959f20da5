// The body of a sound packet through the GSM decoder's wrapper, with a sample buffer of
// full or short room.
//
// Input: a room choice, then the body.
#include "FuzzSupport.h"

#include "media/sound/GsmCodec.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static GsmCodec codec;
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const uint8_t choice = input.take();
    const QByteArray body = input.rest();
    const int count = int(body.size());

    const int blocks = count / GsmCodec::RadioBlockBytes + 1;
    // Room for every block, for a few only, or for less than one.
    int capacity = blocks * GsmCodec::BlockSamples;
    if (choice % 3 == 1)
        capacity = (choice / 3 % 4 + 1) * GsmCodec::BlockSamples;
    else if (choice % 3 == 2)
        capacity = 1 + choice % (GsmCodec::BlockSamples - 1);
    std::vector<qint16> samples(static_cast<size_t>(capacity));
    const int n = codec.uncompress(reinterpret_cast<const uchar *>(body.constData()), count, samples.data(), capacity);
    FUZZ_CHECK(n >= 0 && n <= capacity && n % GsmCodec::BlockSamples == 0);
    const bool whole = count > 0 && (count % GsmCodec::PhoneBlockBytes == 0 || count % GsmCodec::RadioBlockBytes == 0);
    if (!whole)
        FUZZ_CHECK(n == 0);
    return 0;
}
