#pragma once

#include <QByteArray>
#include <QString>

// One encrypted RTP session with repair, carrying a call's picture and sound as datagrams:
// what DatagramLink asks of the datagram media. GStreamer and the libraries it pulls in
// are loaded only when a call first agrees on datagrams, from a module of its own (see
// DatagramModule), so this is a plain interface: no Qt object, no GStreamer type. The
// module links the same Qt as the program, so Qt's value types may cross. Everything
// happens on the loop of the thread that made the session.
class DatagramSession
{
public:
    // Raised whenever the interface below changes: a module built against another version is
    // not used.
    static constexpr int InterfaceVersion = 3;
    // SRTP master key and salt for AES-128 counter mode.
    static constexpr int KeyBytes = 30;
    // A larger datagram is no packet of this flow and is dropped before it is looked at.
    static constexpr int MaxDatagramBytes = 1500;

    // A fresh random key. Drawn by the program, without the module: the key goes out in the
    // offer, before the peer's offer makes a session.
    static QByteArray newKey();

    // What the session tells its owner, on the loop. The owner does not delete the session
    // from inside one of them.
    class Events
    {
    public:
        // A datagram to send to the peer.
        virtual void datagramToSend(const QByteArray &datagram) = 0;
        // A whole VP8 frame from the peer, in order; frames that could not be repaired are
        // left out (a key frame has then been asked for).
        virtual void pictureFromPeer(const QByteArray &frame) = 0;
        // An Opus packet from the peer; `lostSamples` of sound (at 16 kHz) were lost just
        // before it.
        virtual void soundFromPeer(const QByteArray &packet, int lostSamples) = 0;
        // The first of the peer's datagrams passed decryption: datagrams get through.
        virtual void firstDatagramDecrypted() = 0;
        // The peer could not repair the picture and asks for a key frame.
        virtual void keyFrameAskedFor() = 0;

    protected:
        ~Events() = default;
    };

    virtual ~DatagramSession() = default;

    // One coded VP8 frame (`droppable` when no later frame refers to it), and one Opus
    // packet.
    virtual void sendVideo(const QByteArray &frame, bool droppable) = 0;
    virtual void sendSound(const QByteArray &packet) = 0;
    // A datagram from the wire, as it came.
    virtual void takeDatagram(const QByteArray &datagram) = 0;
    // Datagrams of the peer's that passed decryption so far.
    virtual int datagramsDecrypted() const = 0;
    // What the peer's RTCP reports on the picture say about the path.
    struct PathReport
    {
        // How much longer the round trip is than the shortest seen: the time sent packets
        // queue on the path. -1 before a report.
        int delayMs = -1;
        // The share of the picture's packets lost in the last report's interval (0 to 1).
        double lost = 0;
    };
    virtual PathReport pathReport() = 0;
    // Bytes of the datagrams sent so far, with their IP and UDP headers: all of them (RTP,
    // resent copies and RTCP), what the line carries for this side; and the picture's (its
    // packets and their resent copies), so that what the rest takes is known.
    struct WireBytes
    {
        qint64 all = 0;
        qint64 picture = 0;
    };
    virtual WireBytes wireBytesSent() const = 0;
    // The IP (v4) and UDP headers each datagram carries on the line.
    static constexpr int DatagramOverheadBytes = 28;
};

// The one symbol the module exports: makes a session that sends with `sendKey` and takes
// what the peer sent with `receiveKey`, or returns null with the reason. `version` must
// equal DatagramSession::InterfaceVersion.
using DatagramSessionMaker = DatagramSession *(*)(int version, const QByteArray &sendKey, const QByteArray &receiveKey,
                                                  DatagramSession::Events &events, QString &why);
inline constexpr char DatagramSessionMakerName[] = "zelmo_make_datagram_session";
