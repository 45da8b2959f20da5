#include "media/SoundPlayer.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QFile>
#include <QMediaDevices>
#include <QRegularExpression>
#include <QTimer>
#include <QtEndian>

#include <utility>

namespace {

// The program's own sounds are small; anything larger is not one of them.
constexpr qsizetype MaxWaveBytes = 4 * 1024 * 1024;

quint32 le32(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

quint16 le16(const QByteArray &b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

} // namespace

SoundPlayer::SoundPlayer(QObject *parent)
    : QObject(parent)
{
    // The sounds live in the program's resources, which a static library must load itself.
    Q_INIT_RESOURCE(resources);
}

SoundPlayer::~SoundPlayer()
{
    stopAll();
}

void SoundPlayer::stopAll()
{
    const QList<QAudioSink *> sinks = std::exchange(m_sinks, {});
    for (QAudioSink *sink : sinks) {
        sink->stop();
        delete sink;
    }
    dropFinished();
}

void SoundPlayer::dropFinished()
{
    // Taken first: deleting a sink runs pending events, which may come back here.
    const QList<QAudioSink *> finished = std::exchange(m_finished, {});
    qDeleteAll(finished);
}

void SoundPlayer::setMuted(bool muted)
{
    m_muted = muted;
    if (muted)
        stopAll();
}

SoundPlayer::Wave SoundPlayer::readWave(const QByteArray &file)
{
    Wave wave;
    if (file.size() < 12 || file.size() > MaxWaveBytes || !file.startsWith("RIFF") || file.mid(8, 4) != "WAVE")
        return wave;
    QAudioFormat format;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= file.size()) {
        const QByteArray id = file.mid(at, 4);
        const qsizetype size = le32(file, at + 4);
        const qsizetype body = at + 8;
        if (size > file.size() - body)
            return wave;
        if (id == "fmt " && size >= 16) {
            const quint16 encoding = le16(file, body);
            const quint16 channels = le16(file, body + 2);
            const quint32 rate = le32(file, body + 4);
            const quint16 bits = le16(file, body + 14);
            // Plain PCM, 8 or 16 bits, the only kinds the program's sounds come in.
            if (encoding != 1 || channels < 1 || channels > 2 || rate < 1000 || rate > 192000
                || (bits != 8 && bits != 16))
                return wave;
            format.setChannelCount(channels);
            format.setSampleRate(int(rate));
            format.setSampleFormat(bits == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            wave.format = format;
            wave.samples = file.mid(body, size - size % format.bytesPerFrame());
            return wave;
        }
        at = body + size + (size & 1);
    }
    return wave;
}

void SoundPlayer::play(const QString &fileName)
{
    emit playRequested(fileName);
    if (m_muted)
        return;
    // Only plain names of the program's own sounds; nothing that could leave the folder.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-]+\\.wav$"));
    if (!plainName.match(fileName).hasMatch())
        return;
    auto found = m_waves.find(fileName);
    if (found == m_waves.end()) {
        QFile file(QStringLiteral(":/sounds/") + fileName);
        if (!file.open(QIODevice::ReadOnly))
            return;
        found = m_waves.insert(fileName, readWave(file.read(MaxWaveBytes + 1)));
    }
    const Wave &wave = found.value();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (!wave.format.isValid() || device.isNull() || !device.isFormatSupported(wave.format))
        return;

    auto *sink = new QAudioSink(device, wave.format, this);
    auto *buffer = new QBuffer(sink);
    buffer->setData(wave.samples);
    buffer->open(QIODevice::ReadOnly);
    m_sinks.append(sink);
    connect(sink, &QAudioSink::stateChanged, this, [this, sink](QAudio::State state) {
        // Played to the end (idle) or failed (stopped): the sink is done.
        if (state != QAudio::IdleState && state != QAudio::StoppedState)
            return;
        if (!m_sinks.removeOne(sink))
            return;
        sink->stop();
        m_finished.append(sink);
        QTimer::singleShot(0, this, &SoundPlayer::dropFinished);
    });
    sink->start(buffer);
}
