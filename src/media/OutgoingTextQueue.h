#pragma once

#include <QByteArray>

#include <array>

// Chat lines waiting for the media send loop: 30 entries numbered 1 to 30, written at
// textWriteIndex and sent from textReadIndex; the queue is empty when the two are equal,
// so it holds at most 29 lines.
class OutgoingTextQueue
{
public:
    static constexpr int Entries = 30;
    static constexpr int MaxLineBytes = 32000;

    // Queues a line, cut to MaxLineBytes. Refused (false) when the queue is full: taking
    // it would make every queued line look sent.
    bool push(const QByteArray &line);

    bool isEmpty() const { return m_writeIndex == m_readIndex; }
    bool isFull() const { return next(m_writeIndex) == m_readIndex; }
    // The oldest queued line; empty when the queue is empty.
    QByteArray front() const;
    // Drops the oldest line once it was sent; does nothing on an empty queue.
    void pop();
    // Both indices back to 1, queued lines forgotten (call start and end).
    void reset();

    int textWriteIndex() const { return m_writeIndex; }
    int textReadIndex() const { return m_readIndex; }

private:
    static int next(int index) { return index >= Entries ? 1 : index + 1; }

    std::array<QByteArray, Entries> m_lines; // entry n lives at n - 1
    int m_writeIndex = 1;
    int m_readIndex = 1;
};
