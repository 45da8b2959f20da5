#pragma once

#include "media/AudioBlock.h"

#include <array>

// Recorded GSM blocks waiting to be sent: 60 entries numbered 1 to 60, filled at
// audioRecordIndex and sent from audioSendIndex; nothing waits when the two are equal.
// While hold is on (sound test, quick-message recording) the blocks stay for local
// playback: the queue fills once and then each new block overwrites entry 60.
class AudioSendQueue
{
public:
    static constexpr int Entries = 60;

    // Stores a block (cut to AudioBlock::DataBytes) at the record index and advances it.
    void record(QByteArrayView gsm);
    bool hasWaiting() const { return m_recordIndex != m_sendIndex; }
    // The block at the send index; meaningful only while hasWaiting().
    const AudioBlock &front() const { return m_blocks[m_sendIndex - 1]; }
    // Advances the send index once the front block was sent (60 wraps to 1).
    void pop();
    // Sends from entry 1 again, so a held recording can be played once more.
    void rewind() { m_sendIndex = 1; }
    // Both indices back to 1; waiting blocks are forgotten.
    void reset();

    void setHold(bool hold) { m_hold = hold; }
    bool hold() const { return m_hold; }

    int audioRecordIndex() const { return m_recordIndex; }
    int audioSendIndex() const { return m_sendIndex; }
    // Entry 1 to 60.
    const AudioBlock &block(int index) const { return m_blocks[std::clamp(index, 1, Entries) - 1]; }

private:
    std::array<AudioBlock, Entries> m_blocks;
    int m_recordIndex = 1;
    int m_sendIndex = 1;
    bool m_hold = false;
};
