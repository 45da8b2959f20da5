#pragma once

#include "support/RunningProgram.h"

#include <QAudioFormat>
#include <QAudioSource>
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// Sinks, sources and loopbacks a scenario loads into the test script's private sound
// server, under names of its own, and players that sound into them. Everything it loaded
// is unloaded, and every player stopped, when it goes.
class SoundRig
{
public:
    SoundRig();
    ~SoundRig();
    SoundRig(const SoundRig &) = delete;
    SoundRig &operator=(const SoundRig &) = delete;

    // Why scenarios on the sound server cannot run here; empty when they can.
    static QString missing();

    // A sink or source name no other scenario uses: the base, the process and a count.
    QString name(const QString &base);
    // pactl load-module; the module's index, or -1 (with the reason in lastError()).
    int load(const QString &module, const QStringList &arguments);
    bool unload(int module);
    // Any other pactl command (set-default-sink and the like).
    bool pactl(const QStringList &arguments);
    QString lastError() const { return m_error; }

    // Plays 8 kHz mono samples into a sink, once, starting now.
    void play(const QString &sink, const std::vector<qint16> &samples);
    // Whether the players started so far have played everything.
    bool playersDone() const;

    // Waits until Qt lists a device with this id (the server announces new ones a
    // moment later than it made them).
    static bool waitForDevice(bool input, const QByteArray &id, int timeoutMs = 5000);

private:
    QList<int> m_modules;
    std::vector<std::unique_ptr<QProcess>> m_players;
    QString m_error;
    int m_count = 0;
};

// Listens to a source of the sound server (a remapped monitor hears a sink).
class SoundListener
{
public:
    explicit SoundListener(const QByteArray &sourceId);
    bool isOpen() const { return m_io != nullptr; }
    // Heard at least this many seconds since the last level().
    bool heardFor(double seconds);
    // Root mean square of what arrived since the last call, on a 0..1 scale.
    double level();

private:
    QAudioFormat m_format;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    QByteArray m_heard;
};

// A program of a sound scenario, on the machine's sound devices (the test server's) or on
// test devices, with lines for its "audio.ini" written before it starts.
struct SoundPeer : RunningProgram
{
    SoundPeer(const QString &name, bool autoAccept, bool testDevices = false, const QByteArray &audioIni = {},
              bool windows = false);
};

namespace TestSupport {

// A phrase spoken by the speech synthesiser that scripts/deps.sh installs, at 8 kHz
// (empty when it is missing). `voice` is one of its voices ("en", "en-us+f3", ...).
std::vector<qint16> spokenPhrase(const QString &text, const QString &voice = QStringLiteral("en"));
// A WAV file of 8 kHz mono samples, for a person to listen to.
bool writeWav(const QString &path, const std::vector<qint16> &samples);
// Energy of samples in dB relative to full scale (-100 for silence).
double levelDb(const qint16 *samples, size_t count);

} // namespace TestSupport
