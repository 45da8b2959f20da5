#include "media/AudioRoute.h"

#include "media/AudioEngine.h"

#include <algorithm>

namespace {

const DeviceProvider::SoundDevice *findDevice(const QList<DeviceProvider::SoundDevice> &devices, const QByteArray &id)
{
    auto it = std::find_if(devices.begin(), devices.end(), [&id](const auto &d) { return d.id == id; });
    return it == devices.end() ? nullptr : &*it;
}

QString nameOf(const QList<DeviceProvider::SoundDevice> &devices, const QByteArray &id)
{
    const DeviceProvider::SoundDevice *d = findDevice(devices, id);
    return d && !d->description.isEmpty() ? d->description : QString::fromUtf8(id);
}

} // namespace

AudioRoute::AudioRoute(DeviceProvider &devices, AudioEngine &engine, std::function<void(const QString &)> logLine,
                       QObject *parent)
    : QObject(parent)
    , m_devices(devices)
    , m_engine(engine)
    , m_logLine(std::move(logLine))
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        follow();
        settle();
    });
    // A device that stops while open may be one that is going away: look again.
    connect(&m_engine, &AudioEngine::deviceFailed, this, &AudioRoute::changed);
}

void AudioRoute::start()
{
    m_devices.watchAudioDevices([this] { changed(); });
    follow();
}

void AudioRoute::changed()
{
    m_changing = true;
    m_settleStep = 0;
    follow();
    settle();
}

void AudioRoute::settle()
{
    if (m_settleStep < int(std::size(SettleMs))) {
        const int previous = m_settleStep == 0 ? 0 : SettleMs[m_settleStep - 1];
        m_settle.start(SettleMs[m_settleStep] - previous);
        ++m_settleStep;
    } else {
        m_changing = false;
        m_in.left.clear();
        m_out.left.clear();
    }
}

void AudioRoute::pinInput(const QByteArray &id)
{
    m_pinnedInput = id;
    follow();
}

void AudioRoute::pinOutput(const QByteArray &id)
{
    m_pinnedOutput = id;
    follow();
}

QByteArray AudioRoute::currentInput() const
{
    const QByteArray open = m_engine.audioInDevice();
    if (!open.isEmpty())
        return open;
    return findDevice(m_devices.audioInputs(), m_pinnedInput) ? m_pinnedInput : m_devices.defaultAudioInput();
}

QByteArray AudioRoute::currentOutput() const
{
    const QByteArray open = m_engine.audioOutDevice();
    if (!open.isEmpty())
        return open;
    return findDevice(m_devices.audioOutputs(), m_pinnedOutput) ? m_pinnedOutput : m_devices.defaultAudioOutput();
}

void AudioRoute::follow()
{
    followOne(true);
    followOne(false);
    emit devicesChanged();
}

void AudioRoute::followOne(bool input)
{
    Direction &d = input ? m_in : m_out;
    const QList<DeviceProvider::SoundDevice> devices = input ? m_devices.audioInputs() : m_devices.audioOutputs();
    for (const DeviceProvider::SoundDevice &device : devices)
        m_names.insert(device.id, device.description.isEmpty() ? QString::fromUtf8(device.id) : device.description);
    const QByteArray pinned = input ? m_pinnedInput : m_pinnedOutput;
    const QByteArray fallback = input ? m_devices.defaultAudioInput() : m_devices.defaultAudioOutput();
    const QByteArray wanted = findDevice(devices, pinned) ? pinned : fallback;

    const QByteArray inUse = input ? m_engine.audioInDeviceInUse() : m_engine.audioOutDeviceInUse();
    const bool inUseGone = !inUse.isEmpty() && !findDevice(devices, inUse);
    const QByteArray lost = inUseGone ? inUse
                            : !d.left.isEmpty() && !findDevice(devices, d.left) ? d.left
                                                                               : QByteArray();
    if (!lost.isEmpty()) {
        if (d.reported != lost) {
            const QString gone = m_names.value(lost, QString::fromUtf8(lost));
            const QString now = wanted.isEmpty() ? tr("none") : QStringLiteral("\"%1\"").arg(nameOf(devices, wanted));
            m_logLine(input ? tr("The microphone \"%1\" went away; now using %2").arg(gone, now)
                            : tr("The speaker \"%1\" went away; now using %2").arg(gone, now));
            d.reported = lost;
        }
        d.left.clear();
    } else {
        d.reported.clear();
        if (m_changing && !inUse.isEmpty() && wanted != inUse)
            d.left = inUse;
    }
    if (input)
        m_engine.setAudioInDevice(wanted);
    else
        m_engine.setAudioOutDevice(wanted);
}
