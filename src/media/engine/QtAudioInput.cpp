#include "media/engine/QtAudioInput.h"

#include <QAudioSource>

#include <utility>

namespace {
// Without a buffer size of its own, a source may be given one of seconds, and the first
// sound would arrive that late.
constexpr qint64 BufferMicroseconds = 10000;
} // namespace

QtAudioInput::QtAudioInput(const QAudioDevice &device, int rate, QObject *parent)
    : AudioInputDevice(parent)
    , m_device(device)
    , m_rate(rate)
{
}

QtAudioInput::~QtAudioInput()
{
    stop();
}

QAudioFormat QtAudioInput::deviceFormat() const
{
    return m_converter ? m_converter->deviceFormat() : QAudioFormat();
}

bool QtAudioInput::start()
{
    if (m_source)
        return true;
    const QAudioFormat format = SampleConverter::formatFor(m_device, m_rate);
    if (!format.isValid())
        return false;
    m_converter = std::make_unique<SampleConverter>(format, m_rate);
    m_source = new QAudioSource(m_device, format, this);
    connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError
            && m_source->error() != QAudio::UnderrunError) {
            emit failed(tr("The microphone stopped."));
        }
    });
    m_source->setBufferSize(format.bytesForDuration(BufferMicroseconds));
    m_io = m_source->start();
    if (!m_io || m_source->error() == QAudio::OpenError || m_source->error() == QAudio::FatalError) {
        stop();
        return false;
    }
    connect(m_io, &QIODevice::readyRead, this, &QtAudioInput::readAvailable);
    return true;
}

void QtAudioInput::stop()
{
    // Taken out first: the source's teardown runs the event loop, and what runs there may
    // stop this input again.
    QAudioSource *source = std::exchange(m_source, nullptr);
    QIODevice *io = std::exchange(m_io, nullptr);
    if (!source)
        return;
    if (io)
        io->disconnect(this);
    source->disconnect(this);
    source->stop();
    delete source;
}

void QtAudioInput::readAvailable()
{
    if (!m_io)
        return;
    const QByteArray data = m_io->readAll();
    if (data.isEmpty())
        return;
    QList<qint16> samples;
    m_converter->fromDevice(data.constData(), data.size(), samples);
    if (!samples.isEmpty())
        emit samplesCaptured(samples);
}
