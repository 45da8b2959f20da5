#include "media/sound/OpusVoiceEncoder.h"

#include <opus/opus.h>

#include <algorithm>
#include <array>

namespace {

// Room for one frame at the highest rate taken (64 kbit/s for 20 ms is 160 bytes).
constexpr int MaxFrameBytes = 1000;

::OpusEncoder *encoderOf(void *p)
{
    return static_cast<::OpusEncoder *>(p);
}

} // namespace

OpusVoiceEncoder::OpusVoiceEncoder()
{
    int error = 0;
    ::OpusEncoder *encoder = opus_encoder_create(SampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (error != OPUS_OK || !encoder)
        return;
    opus_encoder_ctl(encoder, OPUS_SET_BITRATE(m_bitrate));
    opus_encoder_ctl(encoder, OPUS_SET_MAX_BANDWIDTH(OPUS_BANDWIDTH_WIDEBAND));
    opus_encoder_ctl(encoder, OPUS_SET_SIGNAL(OPUS_SIGNAL_VOICE));
    opus_encoder_ctl(encoder, OPUS_SET_INBAND_FEC(1));
    opus_encoder_ctl(encoder, OPUS_SET_PACKET_LOSS_PERC(m_lossPercent));
    opus_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(5));
    m_packer = opus_repacketizer_create();
    if (!m_packer) {
        opus_encoder_destroy(encoder);
        return;
    }
    m_encoder = encoder;
}

OpusVoiceEncoder::~OpusVoiceEncoder()
{
    if (m_encoder)
        opus_encoder_destroy(encoderOf(m_encoder));
    if (m_packer)
        opus_repacketizer_destroy(static_cast<OpusRepacketizer *>(m_packer));
}

void OpusVoiceEncoder::setBitrate(int bitsPerSecond)
{
    m_bitrate = std::clamp(bitsPerSecond, 6000, 64000);
    if (m_encoder)
        opus_encoder_ctl(encoderOf(m_encoder), OPUS_SET_BITRATE(m_bitrate));
}

void OpusVoiceEncoder::setPacketLossPercent(int percent)
{
    m_lossPercent = std::clamp(percent, 0, 100);
    if (m_encoder)
        opus_encoder_ctl(encoderOf(m_encoder), OPUS_SET_PACKET_LOSS_PERC(m_lossPercent));
}

QByteArray OpusVoiceEncoder::encode(const qint16 *samples, int count)
{
    if (!m_encoder || !samples || count <= 0 || count % FrameSamples != 0 || count / FrameSamples > MaxFrames)
        return {};
    const int frames = count / FrameSamples;
    // The repacketizer points into the frames' bytes, so all of them stay until it is done.
    std::array<std::array<unsigned char, MaxFrameBytes>, MaxFrames> coded;
    auto *packer = static_cast<OpusRepacketizer *>(m_packer);
    opus_repacketizer_init(packer);
    for (int i = 0; i < frames; ++i) {
        const int n = opus_encode(encoderOf(m_encoder), samples + i * FrameSamples, FrameSamples, coded[i].data(),
                                  MaxFrameBytes);
        if (n <= 0 || opus_repacketizer_cat(packer, coded[i].data(), n) != OPUS_OK)
            return {};
    }
    QByteArray packet(frames * MaxFrameBytes, Qt::Uninitialized);
    const int n = opus_repacketizer_out(packer, reinterpret_cast<unsigned char *>(packet.data()), packet.size());
    if (n <= 0)
        return {};
    packet.truncate(n);
    return packet;
}
