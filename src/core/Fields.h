#pragma once

#include <QByteArray>
#include <QString>

// Field routines shared by every message parser: a message is a command followed by
// fields, each ended by ";".
namespace Fields {

// Number of ";" in the text.
int countFields(const QByteArray &text);
// Field n (1 = the command). Skips n - 1 times past the first ";" of what remains and
// returns the part before the next ";" (or all of what remains when it holds none).
QByteArray getField(const QByteArray &text, int n);
// Takes the part before the first ";" off the front of text, together with the ";".
// Without a ";" the whole text is returned and text is left empty.
QByteArray readField(QByteArray &text);

// readField over a text in one pass: each next() gives what the next readField would,
// without moving what remains, so a long list is read in time proportional to its length.
class Reader
{
public:
    explicit Reader(const QByteArray &text) : m_text(text) {}
    QByteArray next();
    // Nothing remains: every further next() gives empty text.
    bool atEnd() const { return m_pos >= m_text.size(); }

private:
    QByteArray m_text;
    qsizetype m_pos = 0;
};

// The leading decimal number of a text: blanks skipped, an optional sign, then digits up
// to the first non-digit; no number reads as 0. Saturates at the 64-bit range.
qint64 leadingNumber(const QByteArray &text);
qint64 leadingNumber(const QString &text);

// The same, clamped into the 16- or 32-bit signed range.
qint16 leadingInt16(const QByteArray &text);
qint32 leadingInt32(const QByteArray &text);

// A port read from anywhere: 1 to 65535, else 0.
int validPort(qint64 value);

// Text that came from the network, made safe for one line of a line-based file and for
// a terminal: every control character (line breaks, tabs, escapes, C1, line and paragraph
// separators, bidirectional overrides) becomes a blank.
QString singleLine(const QString &text);

// At most maxBytes of a UTF-8 text, cut before a character rather than inside one.
QByteArray utf8Left(const QByteArray &text, int maxBytes);

// UTF-8 is the one conversion between wire bytes and user-interface text.
QString fromWire(const QByteArray &bytes);
QByteArray toWire(const QString &text);

} // namespace Fields
