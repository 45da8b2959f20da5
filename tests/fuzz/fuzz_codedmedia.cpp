// One event of an encrypted call in today's formats (a packet without its terminator)
// through the receive path: the framing and escaping, the VP8 decoder and the Opus decoder.
#include "FuzzSupport.h"

#include "media/CodedMediaPacket.h"
#include "media/sound/OpusVoiceDecoder.h"
#include "media/picture/Vp8Decoder.h"

#include <array>

namespace {

struct Receiver
{
    Vp8Decoder vp8;
    OpusVoiceDecoder opus;
    std::array<qint16, OpusVoiceDecoder::MaxSamples> samples{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Receiver receiver;
    const QByteArray text = FuzzSupport::bytes(data, size);

    const CodedMediaPacket::Received packet = CodedMediaPacket::parse(text);
    if (packet.kind == CodedMediaPacket::Kind::Unknown) {
        FUZZ_CHECK(packet.payload.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!packet.payload.isEmpty() && packet.payload.size() <= CodedMediaPacket::MaxPayloadBytes);
    // What is read back is built again without a terminator inside, and reads the same.
    const QByteArray again = CodedMediaPacket::build(packet.kind, packet.payload).chopped(3);
    FUZZ_CHECK(!again.contains("<E>"));
    const CodedMediaPacket::Received reread = CodedMediaPacket::parse(again);
    FUZZ_CHECK(reread.kind == packet.kind && reread.payload == packet.payload);
    switch (packet.kind) {
    case CodedMediaPacket::Kind::Vp8:
        if (receiver.vp8.decode(packet.payload) == Vp8Decoder::Result::Picture) {
            const QSize size = receiver.vp8.picture().size();
            FUZZ_CHECK(size.width() <= Vp8Decoder::MaxSize.width() && size.height() <= Vp8Decoder::MaxSize.height());
        }
        break;
    case CodedMediaPacket::Kind::Opus: {
        const int n = receiver.opus.decode(packet.payload, receiver.samples.data(), int(receiver.samples.size()));
        FUZZ_CHECK(n >= 0 && n <= OpusVoiceDecoder::MaxSamples);
        break;
    }
    case CodedMediaPacket::Kind::KeyFrameRequest:
    case CodedMediaPacket::Kind::Vp8Part:
    case CodedMediaPacket::Kind::DatagramOffer:
    case CodedMediaPacket::Kind::DatagramArrived:
    case CodedMediaPacket::Kind::Unknown:
        break;
    }
    return 0;
}
