#pragma once

#include <QString>

// The text of one chat box as the chat keeps it, without the window: a line break is one
// '\n' (a CR LF pair on the wire). Every change comes back as an Edit that a view replays
// on its own copy: `cut` characters off the front, `chop` off the end, then `added` at the
// end. Counts are in UTF-16 units, as a text document counts positions.
class ChatText
{
public:
    struct Edit
    {
        int cut = 0;
        int chop = 0;
        QString added;

        bool isEmpty() const { return cut == 0 && chop == 0 && added.isEmpty(); }
    };

    const QString &text() const { return m_text; }
    int length() const { return int(m_text.size()); }
    bool isEmpty() const { return m_text.isEmpty(); }

    // CR LF and a lone CR become '\n'.
    Edit append(const QString &text);
    // The last character goes: a line break, or a whole character outside the basic plane.
    // Nothing goes from the part kept by keepAll().
    Edit removeLast();
    Edit clear();
    // Past `limit` characters the text is cut to its last `keep`.
    Edit bound(int limit, int keep);
    // What is there now cannot be taken away by removeLast(); clear() and bound() still can.
    void keepAll() { m_kept = length(); }

private:
    QString m_text;
    int m_kept = 0;
};
