#pragma once

#include "media/devices/DeviceProvider.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>

class AudioEngine;

// Which sound devices the engine uses, as they come and go: the one the user pinned while
// it is there, otherwise the system's default, followed when it changes (a headset
// plugged in, a Bluetooth device connecting), during a call too. A device in use that
// disappears is replaced by the default, with one line in the activity log.
class AudioRoute : public QObject
{
    Q_OBJECT

public:
    // How long after a change the devices are looked at again: the sound server may
    // announce a device before its list shows it.
    static constexpr int SettleMs[] = {100, 300, 700};

    AudioRoute(DeviceProvider &devices, AudioEngine &engine, std::function<void(const QString &)> logLine,
               QObject *parent = nullptr);

    // Starts watching the devices and applies the pins.
    void start();

    // Pins a device (empty: follow the system's default).
    void pinInput(const QByteArray &id);
    void pinOutput(const QByteArray &id);
    QByteArray pinnedInput() const { return m_pinnedInput; }
    QByteArray pinnedOutput() const { return m_pinnedOutput; }

    QList<DeviceProvider::SoundDevice> inputs() const { return m_devices.audioInputs(); }
    QList<DeviceProvider::SoundDevice> outputs() const { return m_devices.audioOutputs(); }
    // The device each direction uses, or would use once opened.
    QByteArray currentInput() const;
    QByteArray currentOutput() const;

    // Looks at the devices again and moves the engine where it belongs.
    void follow();

signals:
    // The devices, the defaults or the ones in use changed.
    void devicesChanged();

private:
    struct Direction
    {
        // The device in use that went away and was reported, so it is said once.
        QByteArray reported;
        // The device left during this change for a new default: the sound server makes
        // another device the default before it drops the one being unplugged.
        QByteArray left;
    };
    void followOne(bool input);
    void changed();
    void settle();

    DeviceProvider &m_devices;
    AudioEngine &m_engine;
    std::function<void(const QString &)> m_logLine;
    QByteArray m_pinnedInput;
    QByteArray m_pinnedOutput;
    Direction m_in;
    Direction m_out;
    // The descriptions of the devices seen, to name one that has gone.
    QHash<QByteArray, QString> m_names;
    QTimer m_settle;
    int m_settleStep = 0;
    // Between a device change and the last look at the devices after it.
    bool m_changing = false;
};
