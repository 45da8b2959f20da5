#pragma once

#include <QByteArray>
#include <QtGlobal>

// Opus coding of a call's voice: the library's voice-over-IP mode, mono, wideband
// (16000 samples a second), 20 ms frames. Several frames of one block go out as one Opus
// packet. Each frame carries a coarse copy of the one before (in-band forward error
// correction) in proportion to the loss the line is said to have.
class OpusVoiceEncoder
{
public:
    static constexpr int SampleRate = 16000;
    static constexpr int FrameSamples = SampleRate / 50;
    // The most one packet may hold: 120 ms.
    static constexpr int MaxFrames = 6;
    static constexpr int DefaultBitrate = 24000;

    OpusVoiceEncoder();
    ~OpusVoiceEncoder();
    OpusVoiceEncoder(const OpusVoiceEncoder &) = delete;
    OpusVoiceEncoder &operator=(const OpusVoiceEncoder &) = delete;

    bool isValid() const { return m_encoder != nullptr; }
    // Codes `count` samples, a whole number of frames (1 to MaxFrames), into one packet;
    // empty for any other count or a failure.
    QByteArray encode(const qint16 *samples, int count);

    // Bits a second, kept within what the library takes for voice (6000..64000).
    void setBitrate(int bitsPerSecond);
    // Lost packets the line is expected to have, 0..100 per cent: how much of each frame
    // goes to repairing the loss of the one before.
    void setPacketLossPercent(int percent);
    int bitrate() const { return m_bitrate; }
    int packetLossPercent() const { return m_lossPercent; }

private:
    void *m_encoder = nullptr;
    void *m_packer = nullptr;
    int m_bitrate = DefaultBitrate;
    int m_lossPercent = 0;
};
