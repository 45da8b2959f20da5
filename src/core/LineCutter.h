#pragma once

#include <QByteArray>

// Cuts a byte stream into lines at a terminator, holding at most limit() plus the
// terminator's length bytes. A line longer than limit() comes out in pieces of limit()
// bytes marked partial; the piece that reaches the terminator ends the line. The pieces
// are the same however the stream was split when it was appended.
class LineCutter
{
public:
    void setTerminator(const QByteArray &terminator);
    QByteArray terminator() const { return m_terminator; }
    void setLimit(int bytes);
    int limit() const { return m_limit; }

    // Bytes that may be appended now without passing the bound. After next() has
    // returned false this is at least 1 while a terminator is set.
    qsizetype room() const;
    void append(const QByteArray &bytes);
    // Takes out the next complete line (without its terminator, complete = true) or the
    // next piece of an over-long line (complete = false). Without a terminator, whatever
    // is held comes out in pieces of limit() bytes, marked partial.
    bool next(QByteArray *text, bool *complete);
    qsizetype held() const { return m_buffer.size() - m_pos; }
    void clear();

private:
    void takePiece(qsizetype length, QByteArray *text);
    void compact();

    QByteArray m_terminator;
    QByteArray m_buffer;
    qsizetype m_pos = 0;      // start of what has not been taken out
    qsizetype m_scanFrom = 0; // no terminator starts between m_pos and here
    int m_limit = 32768;
};
