#include "media/DatagramLink.h"

#include "media/DatagramModule.h"
#include "media/sound/OpusVoiceEncoder.h"

#include <QNetworkDatagram>

#include <vector>

namespace {

// Datagrams read in one go at most; the rest wait for the next turn of the loop.
constexpr int MaxReadsPerTurn = 256;
// How often a switched link looks whether the peer's datagrams still come.
constexpr int StallCheckMs = 250;

} // namespace

DatagramLink::DatagramLink(const QHostAddress &peer, DatagramModule &module, int probeMs, QObject *parent)
    : QObject(parent), m_module(module), m_peer(peer), m_key(DatagramSession::newKey())
{
    m_moduleOpen = m_module.open(m_problem);
    // IPv4-mapped IPv6 addresses from a dual-stack listener compare as IPv4.
    bool isV4 = false;
    const quint32 v4 = m_peer.toIPv4Address(&isV4);
    if (isV4)
        m_peer = QHostAddress(v4);
    const QHostAddress any = m_peer.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::AnyIPv6
                                                                                : QHostAddress::AnyIPv4;
    m_socket.bind(any, 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, &DatagramLink::readDatagrams);
    m_probeTimer.setSingleShot(true);
    m_probeTimer.setInterval(probeMs);
    connect(&m_probeTimer, &QTimer::timeout, this, &DatagramLink::onProbeTimeout);
    m_stallCheck.setInterval(StallCheckMs);
    connect(&m_stallCheck, &QTimer::timeout, this, &DatagramLink::checkStall);
    m_silentProbe.setInterval(SilentProbeMs);
    connect(&m_silentProbe, &QTimer::timeout, this, &DatagramLink::sendSilentProbe);
}

DatagramLink::~DatagramLink() = default;

QByteArray DatagramLink::offer() const
{
    if (!isValid())
        return {};
    const quint16 port = m_socket.localPort();
    QByteArray out;
    out.append(char(port >> 8));
    out.append(char(port & 0xff));
    out.append(m_key);
    return out;
}

bool DatagramLink::takeOffer(QByteArrayView offer)
{
    if (!isValid() || m_media || !m_problem.isEmpty() || offer.size() != OfferBytes)
        return false;
    const quint16 port = quint16((quint8(offer[0]) << 8) | quint8(offer[1]));
    if (port == 0)
        return false;
    const QByteArray peerKey = offer.sliced(2).toByteArray();
    QString why;
    m_media = m_module.make(m_key, peerKey, *this, why);
    if (!m_media) {
        m_problem = why.isEmpty() ? QStringLiteral("the datagram media could not be set up") : why;
        return false;
    }
    m_peerPort = m_peerPortOverride ? m_peerPortOverride : port;
    m_probing = true;
    m_probeTimer.start();
    m_silentProbe.start();
    return true;
}

void DatagramLink::datagramToSend(const QByteArray &datagram)
{
    m_socket.writeDatagram(datagram, m_peer, m_peerPort);
}

void DatagramLink::pictureFromPeer(const QByteArray &frame)
{
    emit videoReceived(frame);
}

void DatagramLink::soundFromPeer(const QByteArray &packet, int lostSamples)
{
    m_soundCame = true;
    emit soundReceived(packet, lostSamples);
}

void DatagramLink::firstDatagramDecrypted()
{
    emit acknowledgementWanted();
}

void DatagramLink::keyFrameAskedFor()
{
    emit keyFrameWanted();
}

void DatagramLink::takeAcknowledgement()
{
    if (!m_media || m_sending || !m_probing)
        return;
    m_probing = false;
    m_probeTimer.stop();
    m_silentProbe.stop();
    m_sending = true;
    m_lastDecrypted = m_media->datagramsDecrypted();
    m_sinceDecrypted.start();
    m_stallCheck.start();
    emit switched();
}

void DatagramLink::checkStall()
{
    if (!m_sending)
        return;
    // Now and then the socket does not signal datagrams that came while earlier ones were
    // read (seen in the two-party demo on a busy machine: seventeen waiting, and on about one
    // run in ten none read for StallMs): unread, they would make a working line look dead;
    // the peer's that are read here are decrypted by the next look.
    if (m_socket.hasPendingDatagrams()) {
        const qint64 taken = m_takenFromPeer;
        readDatagrams();
        if (m_takenFromPeer != taken)
            return;
    }
    const int decrypted = m_media->datagramsDecrypted();
    if (decrypted != m_lastDecrypted) {
        m_lastDecrypted = decrypted;
        m_sinceDecrypted.start();
        return;
    }
    if (m_sinceDecrypted.elapsed() < StallMs)
        return;
    fallBack(false);
}

void DatagramLink::takePeerStopped()
{
    if (m_sending)
        fallBack(true);
}

void DatagramLink::fallBack(bool toldByPeer)
{
    m_stallCheck.stop();
    m_sending = false;
    // The channel's sound is played again.
    m_soundCame = false;
    // Nothing more goes out, reports included: the peer, still hearing them, would keep
    // sending here and drop the sound that now comes over the channel.
    m_media.reset();
    emit fellBack(toldByPeer);
}

void DatagramLink::onProbeTimeout()
{
    if (!m_probing)
        return;
    m_probing = false;
    m_silentProbe.stop();
    emit probeFailed();
}

void DatagramLink::sendSilentProbe()
{
    if (!m_probing || !m_media)
        return;
    if (m_soundSent) {
        m_soundSent = false;
        return;
    }
    if (m_silence.isEmpty()) {
        OpusVoiceEncoder encoder;
        const std::vector<qint16> quiet(OpusVoiceEncoder::FrameSamples, 0);
        if (encoder.isValid())
            m_silence = encoder.encode(quiet.data(), int(quiet.size()));
    }
    if (!m_silence.isEmpty())
        m_media->sendSound(m_silence);
}

DatagramSession::PathReport DatagramLink::pathReport()
{
    return m_media ? m_media->pathReport() : DatagramSession::PathReport{};
}

DatagramSession::WireBytes DatagramLink::wireBytesSent() const
{
    return m_media ? m_media->wireBytesSent() : DatagramSession::WireBytes{};
}

void DatagramLink::sendVideo(const QByteArray &frame, bool droppable)
{
    if (m_sending)
        m_media->sendVideo(frame, droppable);
}

void DatagramLink::sendSound(const QByteArray &packet)
{
    if (m_sending || m_probing) {
        m_media->sendSound(packet);
        m_soundSent = true;
    }
}

void DatagramLink::readDatagrams()
{
    for (int i = 0; i < MaxReadsPerTurn && m_socket.hasPendingDatagrams(); ++i) {
        const QNetworkDatagram d = m_socket.receiveDatagram(DatagramSession::MaxDatagramBytes + 1);
        bool isV4 = false;
        const quint32 v4 = d.senderAddress().toIPv4Address(&isV4);
        const QHostAddress from = isV4 ? QHostAddress(v4) : d.senderAddress();
        // Datagrams from anyone but the peer, or before its offer, are not looked at.
        if (!m_media || from != m_peer)
            continue;
        ++m_takenFromPeer;
        m_media->takeDatagram(d.data());
    }
    if (m_socket.hasPendingDatagrams())
        QMetaObject::invokeMethod(this, &DatagramLink::readDatagrams, Qt::QueuedConnection);
}
