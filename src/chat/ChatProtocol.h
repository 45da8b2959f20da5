#pragma once

#include <QByteArray>

// Texts of the chat connection. Every chat message is built and parsed here; nothing else
// concatenates them. Messages end with the terminator "<E>", at which the receiving
// endpoint cuts the stream, so a received text comes without it.
namespace ChatProtocol {

inline constexpr char Terminator[] = "<E>";
// The character codes with a meaning of their own.
inline constexpr char32_t Bell = 7;
inline constexpr char32_t Backspace = 8;
inline constexpr char32_t Enter = 13;

// One typed character: "T", its UTF-8 bytes, ";<E>". Enter is 13, Backspace 8.
QByteArray typed(char32_t character);
// The Ring User button: "T", the character 7, "<E>" (no ";").
QByteArray ringUser();
// Ctrl+G typed while the peer runs 2.5: "BEL<E>".
QByteArray bell();

struct Message
{
    enum class Kind { Ignored, Bell, Character };

    Kind kind = Kind::Ignored;
    // Character: the one character the message carries (never 7, which reads as Bell).
    char32_t character = 0;
};

// Never fails. "BEL..." rings. "T" followed by one character and ";" carries that
// character; the character is everything between "T" and the last ";", as UTF-8, or a
// single byte of any value from a peer that sends one byte per character. Without a ";"
// the first character after "T" counts (the Ring User form). Anything else, including a
// "T" with more than one character before its ";", is Ignored.
Message parse(const QByteArray &text);

} // namespace ChatProtocol
