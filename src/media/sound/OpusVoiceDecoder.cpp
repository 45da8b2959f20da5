#include "media/sound/OpusVoiceDecoder.h"

#include <opus/opus.h>

#include <limits>

namespace {

::OpusDecoder *decoderOf(void *p)
{
    return static_cast<::OpusDecoder *>(p);
}

} // namespace

OpusVoiceDecoder::OpusVoiceDecoder()
{
    int error = 0;
    ::OpusDecoder *decoder = opus_decoder_create(SampleRate, 1, &error);
    if (error == OPUS_OK)
        m_decoder = decoder;
}

OpusVoiceDecoder::~OpusVoiceDecoder()
{
    if (m_decoder)
        opus_decoder_destroy(decoderOf(m_decoder));
}

int OpusVoiceDecoder::decode(QByteArrayView packet, qint16 *samples, int capacity)
{
    if (!m_decoder || !samples || packet.isEmpty() || packet.size() > std::numeric_limits<opus_int32>::max()) {
        ++m_failures;
        return 0;
    }
    const auto *data = reinterpret_cast<const unsigned char *>(packet.data());
    const auto length = opus_int32(packet.size());
    const int count = opus_decoder_get_nb_samples(decoderOf(m_decoder), data, length);
    if (count <= 0 || count > MaxSamples || count > capacity) {
        ++m_failures;
        return 0;
    }
    const int n = opus_decode(decoderOf(m_decoder), data, length, samples, count, 0);
    if (n <= 0) {
        ++m_failures;
        return 0;
    }
    return n;
}

int OpusVoiceDecoder::recover(QByteArrayView next, int count, qint16 *samples, int capacity)
{
    // The library fills in whole 2.5 ms steps.
    if (!m_decoder || !samples || count <= 0 || count > MaxSamples || count > capacity || count % (SampleRate / 400))
        return 0;
    const bool repair = !next.isEmpty() && next.size() <= std::numeric_limits<opus_int32>::max();
    const int n = opus_decode(decoderOf(m_decoder), repair ? reinterpret_cast<const unsigned char *>(next.data()) : nullptr,
                              repair ? opus_int32(next.size()) : 0, samples, count, repair ? 1 : 0);
    return n > 0 ? n : 0;
}
