#include "support/SoundRig.h"

#include "media/AudioSettings.h"
#include "media/sound/Resampler.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <utility>

SoundRig::SoundRig() = default;

SoundRig::~SoundRig()
{
    for (auto &player : m_players) {
        if (player->state() != QProcess::NotRunning) {
            player->kill();
            player->waitForFinished(2000);
        }
    }
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it)
        pactl({QStringLiteral("unload-module"), QString::number(*it)});
}

QString SoundRig::missing()
{
    if (!qEnvironmentVariableIsSet("PULSE_SERVER"))
        return QStringLiteral("needs the private sound server that scripts/test.sh starts");
    if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("pacat")).isEmpty())
        return QStringLiteral("needs pactl and pacat (pulseaudio-utils, installed by scripts/deps.sh)");
    return {};
}

QString SoundRig::name(const QString &base)
{
    return QStringLiteral("%1_%2_%3").arg(base).arg(QCoreApplication::applicationPid()).arg(++m_count);
}

bool SoundRig::pactl(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("pactl %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                                    QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
        return false;
    }
    m_error = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

int SoundRig::load(const QString &module, const QStringList &arguments)
{
    if (!pactl(QStringList{QStringLiteral("load-module"), module} + arguments))
        return -1;
    bool ok = false;
    const int index = m_error.toInt(&ok);
    if (!ok)
        return -1;
    m_modules.append(index);
    return index;
}

bool SoundRig::unload(int module)
{
    m_modules.removeAll(module);
    return pactl({QStringLiteral("unload-module"), QString::number(module)});
}

void SoundRig::play(const QString &sink, const std::vector<qint16> &samples)
{
    auto player = std::make_unique<QProcess>();
    player->start(QStringLiteral("pacat"),
                  {QStringLiteral("--playback"), QStringLiteral("--device=") + sink, QStringLiteral("--rate=8000"),
                   QStringLiteral("--channels=1"), QStringLiteral("--format=s16le"), QStringLiteral("--raw"),
                   QStringLiteral("--latency-msec=40")});
    if (!player->waitForStarted(5000))
        return;
    QByteArray bytes(reinterpret_cast<const char *>(samples.data()), qsizetype(samples.size() * sizeof(qint16)));
    player->write(bytes);
    player->closeWriteChannel();
    m_players.push_back(std::move(player));
}

bool SoundRig::playersDone() const
{
    return std::all_of(m_players.begin(), m_players.end(),
                       [](const auto &p) { return p->state() == QProcess::NotRunning; });
}

bool SoundRig::waitForDevice(bool input, const QByteArray &id, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            const QList<QAudioDevice> devices = input ? QMediaDevices::audioInputs() : QMediaDevices::audioOutputs();
            return std::any_of(devices.begin(), devices.end(), [&](const QAudioDevice &d) { return d.id() == id; });
        },
        timeoutMs);
}

SoundListener::SoundListener(const QByteArray &sourceId)
{
    for (const QAudioDevice &d : QMediaDevices::audioInputs()) {
        if (d.id() == sourceId) {
            m_format = d.preferredFormat();
            m_source = std::make_unique<QAudioSource>(d, m_format);
            m_io = m_source->start();
        }
    }
}

bool SoundListener::heardFor(double seconds)
{
    if (m_io)
        m_heard += m_io->readAll();
    return m_heard.size() >= m_format.bytesForDuration(qint64(seconds * 1e6));
}

double SoundListener::level()
{
    heardFor(0);
    const QByteArray bytes = std::exchange(m_heard, {});
    const int frame = m_format.bytesPerFrame();
    if (frame <= 0 || bytes.size() < frame)
        return 0;
    double sum = 0;
    const int frames = int(bytes.size() / frame);
    for (int i = 0; i < frames; ++i) {
        const float v = m_format.normalizedSampleValue(bytes.constData() + i * frame);
        sum += double(v) * v;
    }
    return std::sqrt(sum / frames);
}

SoundPeer::SoundPeer(const QString &name, bool autoAccept, bool testDevices, const QByteArray &audioIni,
                     bool windows)
    : RunningProgram(name, {.windows = windows, .testDevices = testDevices, .autoAccept = autoAccept, .start = false})
{
    if (!audioIni.isEmpty())
        TestSupport::writeBytes(QDir(folder).filePath(AudioSettings::FileName), audioIni);
    start();
}

namespace TestSupport {

std::vector<qint16> spokenPhrase(const QString &text, const QString &voice)
{
    if (QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty())
        return {};
    QProcess p;
    p.start(QStringLiteral("espeak-ng"), {QStringLiteral("--stdout"), QStringLiteral("-v"), voice, text});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    const QByteArray wav = p.readAllStandardOutput();
    // RIFF: the format chunk gives the rate, the data chunk the 16-bit mono samples. The
    // synthesiser writes to a pipe, so its data length may be a placeholder: take the rest.
    if (wav.size() < 44 || !wav.startsWith("RIFF"))
        return {};
    int rate = 0;
    qsizetype at = 12;
    qsizetype dataAt = -1;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(wav.constData() + at + 4);
        if (id == "fmt " && at + 16 <= wav.size())
            rate = int(qFromLittleEndian<quint32>(wav.constData() + at + 12));
        if (id == "data") {
            dataAt = at + 8;
            break;
        }
        at += 8 + qsizetype(size);
    }
    if (rate <= 0 || dataAt < 0)
        return {};
    const qsizetype count = (wav.size() - dataAt) / 2;
    std::vector<float> in(static_cast<size_t>(count));
    for (qsizetype i = 0; i < count; ++i)
        in[size_t(i)] = float(qFromLittleEndian<qint16>(wav.constData() + dataAt + 2 * i));
    Resampler down(rate, 8000);
    std::vector<float> out;
    down.process(in.data(), int(in.size()), out);
    std::vector<qint16> samples(out.size());
    std::transform(out.begin(), out.end(), samples.begin(),
                   [](float v) { return qint16(std::clamp(std::lround(v), -32768L, 32767L)); });
    return samples;
}

bool writeWav(const QString &path, const std::vector<qint16> &samples)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const quint32 dataBytes = quint32(samples.size() * 2);
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    // PCM, mono, 8000 samples of 2 bytes a second.
    out << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(16000) << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (const qint16 s : samples)
        out << s;
    return file.error() == QFileDevice::NoError;
}

double levelDb(const qint16 *samples, size_t count)
{
    if (count == 0)
        return -100;
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    const double rms = std::sqrt(sum / double(count)) / 32768.0;
    return rms > 0 ? std::max(-100.0, 20 * std::log10(rms)) : -100.0;
}

} // namespace TestSupport
