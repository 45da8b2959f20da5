// One event of the media channel (a packet without its terminator) through the receive
// path: the header, the video engine's packet decoding and the sound decoder.
#include "FuzzSupport.h"

#include "media/MediaPacket.h"
#include "media/engine/GsmCodec.h"
#include "media/engine/VideoEngine.h"

#include <array>
#include <cstring>
#include <memory>

namespace {

constexpr int EngineOutputBytes = 29000;

struct Receiver
{
    VideoEngine video{nullptr, QString()};
    GsmCodec gsm;
    std::array<uchar, EngineOutputBytes> output{};
    std::array<qint16, 60 * GsmCodec::BlockSamples> samples{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Receiver receiver;
    const QByteArray text = FuzzSupport::bytes(data, size);

    const int total = MediaPacket::totalLength(text);
    FUZZ_CHECK(total == 0 || (total > MediaPacket::HeaderBytes && total <= text.size()));
    const QByteArray body = MediaPacket::body(text);
    FUZZ_CHECK(body.size() == (total > 0 ? total - MediaPacket::HeaderBytes : 0));
    if (total <= 0)
        return 0;

    int type = -1;
    const int payload = receiver.video.processData(reinterpret_cast<const uchar *>(text.constData()), total,
                                                   receiver.output.data(), EngineOutputBytes, &type);
    switch (type) {
    case VideoEngine::PacketVideo: {
        int width = 0;
        int height = 0;
        receiver.video.getImageSize(&width, &height);
        FUZZ_CHECK(VideoEngine::captureSizes().contains(QSize(width, height)));
        FUZZ_CHECK(receiver.video.incomingImage().size() == QSize(width, height));
        FUZZ_CHECK(payload == body.size());
        break;
    }
    case VideoEngine::PacketAudio: {
        FUZZ_CHECK(payload == body.size() && payload <= EngineOutputBytes);
        const int n = receiver.gsm.uncompress(receiver.output.data(), std::min(payload, 32767),
                                              receiver.samples.data(), int(receiver.samples.size()));
        FUZZ_CHECK(n >= 0 && n <= int(receiver.samples.size()) && n % GsmCodec::BlockSamples == 0);
        break;
    }
    case VideoEngine::PacketText:
        FUZZ_CHECK(payload == body.size() && std::memcmp(body.constData(), receiver.output.data(), size_t(payload)) == 0);
        break;
    default:
        FUZZ_CHECK(type == VideoEngine::PacketNone && payload == 0);
        break;
    }

    // The sender's framing of the same kind and body reads back as this packet.
    if (body.size() <= MediaPacket::MaxBodyBytes) {
        QByteArray framed = MediaPacket::build(QByteArrayView(text).first(3), body);
        FUZZ_CHECK(framed.endsWith(MediaPacket::Terminator));
        framed.chop(3);
        FUZZ_CHECK(MediaPacket::totalLength(framed) == total && MediaPacket::body(framed) == body);
    }
    return 0;
}
