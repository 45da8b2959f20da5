#include "media/sound/QtAudioInput.h"

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
    return m_source.deviceFormat();
}

bool QtAudioInput::start()
{
    if (m_source.stream())
        return true;
    const bool opened = m_source.open(m_device, m_rate, BufferMicroseconds, [this](QAudioSource &source) {
        connect(&source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (m_source.stoppedByError(state))
                emit failed(tr("The microphone stopped."));
        });
    });
    if (!opened)
        return false;
    connect(m_source.io(), &QIODevice::readyRead, this, &QtAudioInput::readAvailable);
    return true;
}

void QtAudioInput::stop()
{
    m_source.close();
}

void QtAudioInput::readAvailable()
{
    if (!m_source.io())
        return;
    const QByteArray data = m_source.io()->readAll();
    if (data.isEmpty())
        return;
    QList<qint16> samples;
    m_source.converter()->fromDevice(data.constData(), data.size(), samples);
    if (!samples.isEmpty())
        emit samplesCaptured(samples);
}
