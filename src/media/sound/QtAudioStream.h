#pragma once

#include "media/sound/SampleConverter.h"

#include <QAudio>
#include <QAudioDevice>
#include <QIODevice>
#include <QObject>

#include <functional>
#include <memory>
#include <utility>

// One direction of a sound device through Qt (a QAudioSource or a QAudioSink), opened the
// way both are: in the format SampleConverter picks for the device, converted to and from
// the program's own, with a buffer of a given length rather than the device's default.
template <class Stream>
class QtAudioStream
{
public:
    // The stream is made as a child of the owner, and disconnected from it when it closes.
    explicit QtAudioStream(QObject *owner)
        : m_owner(owner)
    {
    }
    ~QtAudioStream() { close(); }
    QtAudioStream(const QtAudioStream &) = delete;
    QtAudioStream &operator=(const QtAudioStream &) = delete;

    Stream *stream() const { return m_stream; }
    QIODevice *io() const { return m_io; }
    // The converter of the last opening, kept after it closes.
    SampleConverter *converter() const { return m_converter.get(); }
    // What the device was asked for at the last opening (invalid before the first).
    QAudioFormat deviceFormat() const { return m_converter ? m_converter->deviceFormat() : QAudioFormat(); }

    // Opens the device for the program's sound at this rate and starts the stream; `prepare` sets the stream up before it starts.
    // False, with nothing left open, when the device offers no usable format or does not start.
    bool open(const QAudioDevice &device, int rate, qint64 bufferMicroseconds, const std::function<void(Stream &)> &prepare)
    {
        const QAudioFormat format = SampleConverter::formatFor(device, rate);
        if (!format.isValid())
            return false;
        m_converter = std::make_unique<SampleConverter>(format, rate);
        m_stream = new Stream(device, format, m_owner);
        prepare(*m_stream);
        m_stream->setBufferSize(format.bytesForDuration(bufferMicroseconds));
        m_io = m_stream->start();
        if (!m_io || m_stream->error() == QAudio::OpenError || m_stream->error() == QAudio::FatalError) {
            close();
            return false;
        }
        return true;
    }

    void close()
    {
        // Taken out first: the stream's teardown runs the event loop, and what runs there
        // may close it again.
        Stream *stream = std::exchange(m_stream, nullptr);
        QIODevice *io = std::exchange(m_io, nullptr);
        if (!stream)
            return;
        if (io)
            io->disconnect(m_owner);
        stream->disconnect(m_owner);
        stream->stop();
        delete stream;
    }

    // The open stream has stopped by an error; a device that ran dry stopped by none.
    bool stoppedByError(QAudio::State state) const
    {
        return state == QAudio::StoppedState && m_stream && m_stream->error() != QAudio::NoError
               && m_stream->error() != QAudio::UnderrunError;
    }

private:
    QObject *m_owner;
    Stream *m_stream = nullptr;
    QIODevice *m_io = nullptr;
    std::unique_ptr<SampleConverter> m_converter;
};
