#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// Decodes a peer's Opus packets into 16000 samples a second, mono. A packet's length in
// time is read from its header first; one longer than MaxSamples (120 ms), or one that
// does not decode, gives nothing. A packet that never came is filled in from the repair
// data of the one after it, or, without one, by the library's concealment.
class OpusVoiceDecoder
{
public:
    static constexpr int SampleRate = 16000;
    static constexpr int MaxSamples = SampleRate * 120 / 1000;

    OpusVoiceDecoder();
    ~OpusVoiceDecoder();
    OpusVoiceDecoder(const OpusVoiceDecoder &) = delete;
    OpusVoiceDecoder &operator=(const OpusVoiceDecoder &) = delete;

    bool isValid() const { return m_decoder != nullptr; }
    // The samples written (at most capacity), 0 for a packet that does not decode or fit.
    int decode(QByteArrayView packet, qint16 *samples, int capacity);
    // `count` samples in place of a lost packet, from `next` (the packet after it; empty
    // for none). The samples written, 0 on failure.
    int recover(QByteArrayView next, int count, qint16 *samples, int capacity);
    // Packets that did not decode so far.
    int failures() const { return m_failures; }

private:
    void *m_decoder = nullptr;
    int m_failures = 0;
};
