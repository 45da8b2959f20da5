// One event of the media channel (a packet without its terminator) through the receive
// path: the header, the video engine's frame decoding and the sound decoder.
#include "FuzzSupport.h"

#include "media/MediaPacket.h"
#include "media/sound/GsmCodec.h"
#include "media/VideoEngine.h"

#include <algorithm>
#include <array>

namespace {

struct Receiver
{
    VideoEngine video{nullptr, QString()};
    GsmCodec gsm;
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

    const MediaPacket::Received packet = MediaPacket::parse(text);
    FUZZ_CHECK(packet.body == body);
    switch (packet.kind) {
    case MediaPacket::Kind::Video:
        if (const QImage picture = receiver.video.drawFrame(packet.body); !picture.isNull()) {
            FUZZ_CHECK(VideoEngine::captureSizes().contains(picture.size()));
            FUZZ_CHECK(receiver.video.incomingImage().size() == picture.size());
        }
        break;
    case MediaPacket::Kind::Audio: {
        const int n = receiver.gsm.uncompress(reinterpret_cast<const uchar *>(packet.body.constData()),
                                              int(std::min<qsizetype>(packet.body.size(), 32767)),
                                              receiver.samples.data(), int(receiver.samples.size()));
        FUZZ_CHECK(n >= 0 && n <= int(receiver.samples.size()) && n % GsmCodec::BlockSamples == 0);
        break;
    }
    case MediaPacket::Kind::Text:
    case MediaPacket::Kind::Unknown:
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
