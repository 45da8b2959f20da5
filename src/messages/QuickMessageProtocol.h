#pragma once

#include <QByteArray>
#include <QString>

// Texts of the quick-message channel, both directions. Every quick-message text is built
// and parsed here; nothing else concatenates them. Each message is a command, fields each
// ended by ";", and the terminator "<E>", at which the receiving endpoint cuts the stream.
// Pictures and sound blocks travel as raw bytes after their byte count, unescaped.
namespace QuickMessageProtocol {

inline constexpr char Terminator[] = "<E>";
// The listener's input buffer: the longest message (without its terminator) it takes.
inline constexpr int InputBufferSize = 32768;
// A picture is the 80 x 60 thumbnail compressed into at most this many bytes.
inline constexpr int MaxPictureBytes = 8000;
inline constexpr int ThumbnailWidth = 80;
inline constexpr int ThumbnailHeight = 60;
// A message holds at most this many sound blocks, each at most MaxAudioBlockBytes.
inline constexpr int MaxAudioBlocks = 60;
inline constexpr int MaxAudioBlockBytes = 2000;
// Name, e-mail, location and time are cut to this many characters.
inline constexpr int MaxFieldLength = 200;

// The head of a message: who sends it, when, and the text.
struct Head
{
    qint32 userNumber = -1;
    QString name;
    QString email;
    QString location;
    QString sentAt;
    QString text;
};

// ---- Sender to receiver ----
// "MSR;" number ";<E>" (the digits alone).
QByteArray request(qint32 userNumber);
// "MSB;" padded number ";" name ";" e-mail ";" location ";" time ";" text ";<E>". The first
// four texts lose ";" and line breaks; the text keeps them. A terminator inside any text is
// broken up, and the text is cut so that the message fits the listener's input buffer.
QByteArray head(const Head &head);
// "MDI;" n ";" n bytes ";<E>" and "MDA;" n ";" n bytes ";<E>".
QByteArray picture(const QByteArray &bytes);
QByteArray audioBlock(const QByteArray &bytes);
// "MAF;<E>" and "MSE;<E>".
QByteArray audioEnd();
QByteArray end();

// The user number as "MSB" carries it: a blank before a number that is 0 or more.
QByteArray paddedNumber(qint32 number);

// ---- Receiver to sender ----
QByteArray accepted(); // "MRA;<E>"
QByteArray declined(); // "MRD;<E>"
QByteArray next();     // "MRN;<E>"

enum class Reply { Other, Accepted, Declined, Next };
// One reply as the sender's endpoint hands it over, without the terminator.
Reply parseReply(const QByteArray &line);

// One message as the listener hands it over, without the terminator.
struct Message
{
    enum class Kind { Ignored, Request, Head, Picture, Audio, AudioEnd, End };

    Kind kind = Kind::Ignored;
    // Request: the sender's number.
    qint32 userNumber = -1;
    // Head: every field; name, e-mail, location and time on one line, MaxFieldLength at most.
    struct Head head;
    // Picture and Audio: the bytes after the count, as many as the count says and the
    // message holds (a count beyond the message takes what is there; a negative one none).
    QByteArray payload;
};

// Never fails and never reads past the line: anything that is not a message the listener
// acts on is Ignored. Missing fields read as empty text, missing numbers as 0.
Message parse(const QByteArray &line);

} // namespace QuickMessageProtocol
