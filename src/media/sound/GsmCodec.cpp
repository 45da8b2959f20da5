#include "media/sound/GsmCodec.h"

#include <gsm.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

constexpr int FrameSamples = 160;
constexpr int RadioSamples = GsmCodec::BlockSamples / 2;
constexpr int Taps = 31;
constexpr int History = Taps - 1;
// Nudged re-encodings tried before the last resort of editing the coded bytes.
constexpr int MaxNudges = 16;

// Windowed-sinc low-pass for the 8000 <-> 4000 Hz conversions of radio quality: cut-off
// 1750 Hz with a Hamming window, so 3 kHz is well into the stop band (about 50 dB down)
// while speech below 1.5 kHz passes unchanged. Unity gain at DC.
const std::array<float, Taps> &lowPass()
{
    static const std::array<float, Taps> taps = [] {
        std::array<double, Taps> h{};
        const double cutoff = 1750.0 / 8000.0;
        const double middle = (Taps - 1) / 2.0;
        double sum = 0;
        for (int k = 0; k < Taps; ++k) {
            const double t = k - middle;
            const double sinc = t == 0 ? 2 * cutoff
                                       : std::sin(2 * std::numbers::pi * cutoff * t) / (std::numbers::pi * t);
            const double window = 0.54 - 0.46 * std::cos(2 * std::numbers::pi * k / (Taps - 1));
            h[k] = sinc * window;
            sum += h[k];
        }
        std::array<float, Taps> result{};
        for (int k = 0; k < Taps; ++k)
            result[k] = float(h[k] / sum);
        return result;
    }();
    return taps;
}

qint16 toSample(float value)
{
    return qint16(std::clamp(std::lround(value), -32768L, 32767L));
}

bool containsTerminator(const uchar *data, int length)
{
    for (int i = 0; i + 2 < length; ++i) {
        if (data[i] == '<' && data[i + 1] == 'E' && data[i + 2] == '>')
            return true;
    }
    return false;
}

// Per-direction state. The filter histories keep the radio conversions continuous from one
// block to the next, so block edges do not click.
struct Encoder
{
    gsm handle = nullptr;
    std::array<float, History> input{}; // last 8 kHz samples seen
};

struct Decoder
{
    gsm handle = nullptr;
    std::array<float, History> upsampled{}; // last zero-stuffed 8 kHz samples
};

// Codes one frame into 33 bytes that never contain the stream terminator. Every frame
// starts with the 0xD signature nibble, which is neither '<', 'E' nor '>', so the three
// bytes can never span two frames and checking each frame alone is enough.
void encodeFrame(gsm handle, const qint16 *samples, uchar *out)
{
    gsm_signal frame[FrameSamples];
    std::memcpy(frame, samples, sizeof frame);
    const gsm_signal first = frame[0];
    gsm_encode(handle, frame, out);
    // A re-encoding runs on the state the rejected attempt left behind: the decoder never
    // saw that attempt, so the two drift apart slightly for a few frames. At roughly one
    // frame in half a million that is inaudible.
    for (int attempt = 1; attempt <= MaxNudges && containsTerminator(out, GsmCodec::FrameBytes);
         ++attempt) {
        const int step = (attempt + 1) / 2 * (attempt % 2 ? 1 : -1);
        frame[0] = gsm_signal(std::clamp(first + step, -32768, 32767));
        gsm_encode(handle, frame, out);
    }
    // Last resort, bounded: one bit less in the 'E' changes a single coded parameter by a
    // little and cannot create a new terminator, since 'D' is none of its three bytes.
    for (int i = 0; i + 2 < GsmCodec::FrameBytes; ++i) {
        if (out[i] == '<' && out[i + 1] == 'E' && out[i + 2] == '>')
            out[i + 1] = 'D';
    }
}

void encodeBlock(Encoder &encoder, const qint16 *block, int quality, uchar *out)
{
    if (quality == GsmCodec::Radio) {
        const auto &h = lowPass();
        float extended[History + GsmCodec::BlockSamples];
        std::copy(encoder.input.begin(), encoder.input.end(), extended);
        for (int i = 0; i < GsmCodec::BlockSamples; ++i)
            extended[History + i] = block[i];
        qint16 narrow[RadioSamples];
        for (int m = 0; m < RadioSamples; ++m) {
            const float *x = extended + History + 2 * m;
            float sum = 0;
            for (int k = 0; k < Taps; ++k)
                sum += h[k] * x[-k];
            narrow[m] = toSample(sum);
        }
        for (int f = 0; f < RadioSamples / FrameSamples; ++f)
            encodeFrame(encoder.handle, narrow + f * FrameSamples, out + f * GsmCodec::FrameBytes);
    } else {
        for (int f = 0; f < GsmCodec::BlockSamples / FrameSamples; ++f)
            encodeFrame(encoder.handle, block + f * FrameSamples, out + f * GsmCodec::FrameBytes);
    }
    // Kept in both qualities so a switch to radio starts from the real signal.
    for (int i = 0; i < History; ++i)
        encoder.input[i] = block[GsmCodec::BlockSamples - History + i];
}

// A frame without the signature decodes as silence; the block keeps its length.
void decodeFrame(gsm handle, const uchar *in, qint16 *out)
{
    gsm_signal frame[FrameSamples];
    if (gsm_decode(handle, const_cast<gsm_byte *>(in), frame) != 0)
        std::fill(frame, frame + FrameSamples, gsm_signal(0));
    std::memcpy(out, frame, sizeof frame);
}

void decodeBlock(Decoder &decoder, const uchar *in, bool radio, qint16 *out)
{
    if (!radio) {
        for (int f = 0; f < GsmCodec::BlockSamples / FrameSamples; ++f)
            decodeFrame(decoder.handle, in + f * GsmCodec::FrameBytes, out + f * FrameSamples);
        decoder.upsampled.fill(0);
        return;
    }
    qint16 narrow[RadioSamples];
    for (int f = 0; f < RadioSamples / FrameSamples; ++f)
        decodeFrame(decoder.handle, in + f * GsmCodec::FrameBytes, narrow + f * FrameSamples);
    // Zero-stuff to 8 kHz and low-pass; the factor 2 restores the level the stuffing halves.
    float extended[History + GsmCodec::BlockSamples];
    std::copy(decoder.upsampled.begin(), decoder.upsampled.end(), extended);
    for (int m = 0; m < RadioSamples; ++m) {
        extended[History + 2 * m] = narrow[m];
        extended[History + 2 * m + 1] = 0;
    }
    const auto &h = lowPass();
    for (int n = 0; n < GsmCodec::BlockSamples; ++n) {
        const float *x = extended + History + n;
        float sum = 0;
        for (int k = 0; k < Taps; ++k)
            sum += h[k] * x[-k];
        out[n] = toSample(2 * sum);
    }
    std::copy(extended + GsmCodec::BlockSamples, extended + History + GsmCodec::BlockSamples,
              decoder.upsampled.begin());
}

} // namespace

GsmCodec::GsmCodec()
{
    auto *encoder = new Encoder;
    encoder->handle = gsm_create();
    m_encoder = encoder;
    auto *decoder = new Decoder;
    decoder->handle = gsm_create();
    m_decoder = decoder;
}

GsmCodec::~GsmCodec()
{
    auto *encoder = static_cast<Encoder *>(m_encoder);
    auto *decoder = static_cast<Decoder *>(m_decoder);
    if (encoder->handle)
        gsm_destroy(encoder->handle);
    if (decoder->handle)
        gsm_destroy(decoder->handle);
    delete encoder;
    delete decoder;
}

int GsmCodec::compress(const qint16 *samples, int count, int quality, uchar *out, int outCapacity)
{
    auto *encoder = static_cast<Encoder *>(m_encoder);
    if (!encoder->handle || !samples || count <= 0 || !out || outCapacity <= 0)
        return 0;
    // Anything but radio is phone quality, the setting's default.
    const int mode = quality == Radio ? Radio : Phone;
    const int blockBytes = mode == Radio ? RadioBlockBytes : PhoneBlockBytes;
    const int blocks = int(std::min<qint64>((qint64(count) + BlockSamples - 1) / BlockSamples, outCapacity / blockBytes));

    qint16 block[BlockSamples];
    for (int b = 0; b < blocks; ++b) {
        const int offset = b * BlockSamples;
        const int present = std::min(BlockSamples, count - offset);
        std::memcpy(block, samples + offset, size_t(present) * sizeof(qint16));
        std::fill(block + present, block + BlockSamples, qint16(0));
        encodeBlock(*encoder, block, mode, out + b * blockBytes);
    }
    return blocks * blockBytes;
}

int GsmCodec::uncompress(const uchar *gsmBytes, int count, qint16 *samples, int sampleCapacity)
{
    auto *decoder = static_cast<Decoder *>(m_decoder);
    if (!decoder->handle || !gsmBytes || count <= 0 || !samples || sampleCapacity <= 0)
        return 0;
    // Every block is 80 ms, so the length tells the quality. A body that is a whole number
    // of phone blocks is read as phone: a sender puts one radio block in a body.
    bool radio = false;
    if (count % PhoneBlockBytes == 0)
        radio = false;
    else if (count % RadioBlockBytes == 0)
        radio = true;
    else
        return 0;
    const int blockBytes = radio ? RadioBlockBytes : PhoneBlockBytes;
    const int blocks = std::min(count / blockBytes, sampleCapacity / BlockSamples);
    for (int b = 0; b < blocks; ++b)
        decodeBlock(*decoder, gsmBytes + b * blockBytes, radio, samples + b * BlockSamples);
    return blocks * BlockSamples;
}
