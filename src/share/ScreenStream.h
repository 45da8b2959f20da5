#pragma once

#include <QString>
#include <QtGlobal>

// A screen or window the desktop handed over (through its portal) as a stream of pictures:
// what the module zelmo-screenstream.so implements on PipeWire (src/screenstream). It is a
// plain C++ interface so that the module shares no code with the program, which loads the
// module, and PipeWire with it, only when the user shares through the desktop. The stream's
// loop runs on the owner's: the owner watches loopDescriptor() and calls turn() whenever it
// is readable, and every event comes from within turn().
class ScreenStream
{
public:
    static constexpr int InterfaceVersion = 1;
    // The largest picture taken from the desktop.
    static constexpr int MaxDimension = 8192;

    enum class Ending {
        Failed,         // the stream or the connection failed; the detail says how
        Stopped,        // the desktop stopped sending (the shared window closed, say)
        ConnectionLost, // the connection to the desktop's picture went
    };

    class Events
    {
    public:
        virtual ~Events() = default;
        // Whether the newest picture is wanted now; one that is not goes back unread.
        virtual bool wantsPicture() = 0;
        // The newest picture: `height` rows of `width` 4-byte pixels, `stride` bytes apart,
        // red first when `redFirst`, blue first otherwise. Valid during the call only.
        virtual void picture(const uchar *pixels, int width, int height, qint64 stride, bool redFirst) = 0;
        // The stream ended and sends no more; `detail` is the desktop's own words, if any.
        virtual void ended(Ending ending, const QString &detail) = 0;
    };

    virtual ~ScreenStream() = default;

    // Connects to the desktop's `node` over the PipeWire connection `fd` (the stream takes a
    // copy of it). False when it could not; nothing is left running then.
    virtual bool connect(int fd, quint32 node) = 0;
    // The descriptor to watch once connected.
    virtual int loopDescriptor() const = 0;
    // Runs what is ready on the stream's loop, without waiting.
    virtual void turn() = 0;
};

// The module's one export: a stream telling `events`, or null with `why` said.
using ScreenStreamMaker = ScreenStream *(*)(int version, ScreenStream::Events &events, QString &why);
inline constexpr char ScreenStreamMakerName[] = "zelmo_make_screen_stream";
