#include "core/LineCutter.h"

#include <algorithm>

void LineCutter::setTerminator(const QByteArray &terminator)
{
    m_terminator = terminator;
    m_scanFrom = m_pos;
}

void LineCutter::setLimit(int bytes)
{
    m_limit = std::max(bytes, 1);
}

qsizetype LineCutter::room() const
{
    return std::max<qsizetype>(m_limit + m_terminator.size() - held(), 0);
}

void LineCutter::append(const QByteArray &bytes)
{
    compact();
    m_buffer.append(bytes);
}

bool LineCutter::next(QByteArray *text, bool *complete)
{
    if (held() == 0) {
        compact();
        return false;
    }
    if (m_terminator.isEmpty()) {
        takePiece(std::min<qsizetype>(held(), m_limit), text);
        *complete = false;
        return true;
    }
    const qsizetype found = m_buffer.indexOf(m_terminator, m_scanFrom);
    if (found >= 0) {
        if (found - m_pos > m_limit) {
            takePiece(m_limit, text);
            m_scanFrom = found;
            *complete = false;
            return true;
        }
        takePiece(found - m_pos, text);
        m_pos = found + m_terminator.size();
        m_scanFrom = m_pos;
        *complete = true;
        return true;
    }
    // A terminator can only start in the last size - 1 bytes once more arrives.
    m_scanFrom = std::max(m_pos, m_buffer.size() - m_terminator.size() + 1);
    // With limit + terminator bytes held and no terminator among them, the line is
    // known to be longer than the limit: its first limit bytes can go.
    if (held() >= m_limit + m_terminator.size()) {
        takePiece(m_limit, text);
        m_scanFrom = std::max(m_scanFrom, m_pos);
        *complete = false;
        return true;
    }
    compact();
    return false;
}

void LineCutter::clear()
{
    m_buffer.clear();
    m_pos = 0;
    m_scanFrom = 0;
}

void LineCutter::takePiece(qsizetype length, QByteArray *text)
{
    *text = m_buffer.mid(m_pos, length);
    m_pos += length;
}

void LineCutter::compact()
{
    if (m_pos == 0)
        return;
    if (m_pos >= m_buffer.size()) {
        clear();
        return;
    }
    m_buffer.remove(0, m_pos);
    m_scanFrom = std::max<qsizetype>(m_scanFrom - m_pos, 0);
    m_pos = 0;
}
