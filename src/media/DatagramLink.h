#pragma once

#include "media/DatagramSession.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

class DatagramModule;

// Moves a call's picture and sound from the encrypted media channel to datagrams when the
// line carries them, and leaves them where they are when it does not.
//
// Both ends of a call that agreed on datagrams do the same:
//  1. Each binds a UDP socket on a port of its own and sends its offer (that port and the
//     key it encrypts with) inside the encrypted media channel.
//  2. With the peer's offer, it sends its sound over datagrams as well as over the channel
//     (a probe that costs little), for at most the probe time. Nobody need be talking at
//     the start of a call: while no sound goes, a frame of silence goes every
//     SilentProbeMs instead.
//  3. The first of the peer's datagrams that decrypts makes it tell the peer, inside the
//     channel, that its datagrams arrive (acknowledgementWanted).
//  4. With the peer's acknowledgement it sends picture and sound over datagrams only
//     (sendsOverDatagrams, with a key frame first). Without one in the probe time it stops
//     the probe: the call goes on as before over the channel.
// A receiver plays the peer's sound from datagrams once any came, and from then on drops
// the copies that come over the channel; the picture it takes from either, as it comes.
//  5. Once switched, the peer's reports alone come several times a second: when nothing of
//     the peer's decrypts for StallMs, the line has stopped carrying datagrams, and this
//     side goes back to the channel for good (fellBack) and tells the peer so inside the
//     channel (takePeerStopped), which goes back at once: otherwise it would keep sending
//     where nothing arrives until it noticed the silence itself, and what it sent meanwhile
//     would be lost.
// The offer needs nothing of the datagram media (the socket is this object's, the key
// OpenSSL's), but the datagram media module is opened before it goes: a program without the
// module offers nothing, and the peer's offer finds no answer, so the call stays on the
// channel from the start.
class DatagramLink : public QObject, private DatagramSession::Events
{
    Q_OBJECT

public:
    static constexpr int DefaultProbeMs = 5000;
    static constexpr int StallMs = 2000;
    static constexpr int SilentProbeMs = 100;
    // An offer: the port (two bytes, high first) and the key.
    static constexpr int OfferBytes = 2 + 30;

    // Binds a socket on any port for datagrams with `peer` only, and opens `module`, which
    // makes the session once the peer's offer comes and must outlive this link. Not valid
    // when the module cannot be opened, no socket could be bound or no key drawn.
    DatagramLink(const QHostAddress &peer, DatagramModule &module, int probeMs = DefaultProbeMs,
                 QObject *parent = nullptr);
    ~DatagramLink() override;

    bool isValid() const
    {
        return m_moduleOpen && !m_key.isEmpty() && m_socket.state() == QUdpSocket::BoundState;
    }
    // Why datagrams cannot be used: the module could not be opened, or the session the
    // peer's offer needs could not be made. Empty otherwise.
    QString problem() const { return m_problem; }
    QByteArray offer() const;
    // The peer's offer; false (and nothing changes) for one that is not an offer, or a second,
    // and after a session could not be made for one (problem() says why).
    bool takeOffer(QByteArrayView offer);
    // The peer says this side's datagrams arrive.
    void takeAcknowledgement();
    // The peer says it went back to the channel: so does this side.
    void takePeerStopped();
    // The peer's datagrams, as the socket gives them; for a test, the port its offer names
    // may be overridden before the offer is taken.
    void setPeerPort(quint16 port) { m_peerPortOverride = port; }
    quint16 localPort() const { return m_socket.localPort(); }

    // Sound goes over datagrams too while probing, and only there after the switch.
    bool probing() const { return m_probing; }
    bool sendsOverDatagrams() const { return m_sending; }
    // Some of the peer's sound came over datagrams: its copies over the channel are dropped.
    bool receivesSound() const { return m_soundCame; }

    // The path's queueing delay and loss as the peer's reports show them (delay -1 before
    // one came), and what this side has put on the line, in bytes with their headers.
    DatagramSession::PathReport pathReport();
    DatagramSession::WireBytes wireBytesSent() const;
    void sendVideo(const QByteArray &frame, bool droppable);
    void sendSound(const QByteArray &packet);

signals:
    void acknowledgementWanted();
    // Picture and sound go over datagrams from now on.
    void switched();
    // The probe ended without an acknowledgement: everything stays on the channel.
    void probeFailed();
    // Picture and sound go back to the channel after the switch: the peer's datagrams
    // stopped coming, or (toldByPeer) the peer went back.
    void fellBack(bool toldByPeer);
    void videoReceived(const QByteArray &frame);
    void soundReceived(const QByteArray &packet, int lostSamples);
    void keyFrameWanted();

private:
    void datagramToSend(const QByteArray &datagram) override;
    void pictureFromPeer(const QByteArray &frame) override;
    void soundFromPeer(const QByteArray &packet, int lostSamples) override;
    void firstDatagramDecrypted() override;
    void keyFrameAskedFor() override;

    void readDatagrams();
    void onProbeTimeout();
    void checkStall();
    void fallBack(bool toldByPeer);
    void sendSilentProbe();

    DatagramModule &m_module;
    bool m_moduleOpen = false;
    QString m_problem;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
    quint16 m_peerPortOverride = 0;
    QByteArray m_key;
    QUdpSocket m_socket;
    QTimer m_probeTimer;
    QTimer m_stallCheck;
    QTimer m_silentProbe;
    // One Opus frame of silence, and whether sound went out since the last probe turn.
    QByteArray m_silence;
    bool m_soundSent = false;
    // The peer's datagrams decrypted at the last check, and how long that count has stood.
    int m_lastDecrypted = 0;
    qint64 m_takenFromPeer = 0;
    QElapsedTimer m_sinceDecrypted;
    std::unique_ptr<DatagramSession> m_media;
    bool m_probing = false;
    bool m_sending = false;
    bool m_soundCame = false;
};
