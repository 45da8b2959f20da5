#pragma once

#include <QtGlobal>

// GSM 06.10 coding of 80 ms sound blocks (640 mono 16-bit samples at 8000 Hz).
// Phone quality: 4 frames of 33 bytes (132 bytes per block). Radio quality: the block is
// low-pass filtered and decimated to 4000 Hz, then 2 frames (66 bytes). The frame count
// tells the decoder which it is.
class GsmCodec
{
public:
    static constexpr int BlockSamples = 640;
    static constexpr int FrameBytes = 33;
    static constexpr int PhoneBlockBytes = 132;
    static constexpr int RadioBlockBytes = 66;
    enum Quality { Phone = 0, Radio = 1 };

    GsmCodec();
    ~GsmCodec();
    GsmCodec(const GsmCodec &) = delete;
    GsmCodec &operator=(const GsmCodec &) = delete;

    // Codes whole blocks of `count` samples (a partial last block is padded with silence).
    // The output never contains the bytes "<E>". Returns bytes written, 0 when nothing fits.
    int compress(const qint16 *samples, int count, int quality, uchar *out, int outCapacity);

    // Decodes a body of whole phone or radio blocks into 8 kHz samples; returns the samples
    // written (only whole blocks that fit), 0 for a body of any other length.
    int uncompress(const uchar *gsm, int count, qint16 *samples, int sampleCapacity);

private:
    void *m_encoder = nullptr;
    void *m_decoder = nullptr;
};
