#pragma once

#include "media/DatagramSession.h"

#include <QByteArray>
#include <QObject>

#include <memory>

// The picture and sound of a call between two programs of this version over datagrams,
// where a lost packet is repaired or concealed instead of waited for.
//
// Design. Coded frames from our own VP8 and Opus coders go into one GStreamer pipeline
// through app sources; everything the wire carries leaves it through one app sink as
// whole datagrams, and what arrives is pushed back in. Whoever owns the socket moves the
// datagrams (datagramReady / takeDatagram), so the repair can be tested over a model of a
// lossy line without a network.
//  - RTP: rtpvp8pay (payload type 96) and rtpopuspay (111) merged by rtpfunnel into one
//    rtpbin session, RTP and RTCP on the same datagram flow (told apart by the packet
//    type byte, as RTP and RTCP sharing a port are).
//  - Encryption: srtpenc / srtpdec, AES-128 counter mode with HMAC-SHA1-80 for RTP and
//    RTCP. Each side draws its own 30-byte master key with OpenSSL (newKey) and sends it to
//    the other inside the call's TLS media channel; nothing leaves in clear, and a datagram
//    that does not authenticate is dropped by srtpdec. A side's RTP sources (SSRCs) follow
//    from its key, so each end takes only the peer's three and keeps no decryption state
//    for sources a stranger makes up.
//  - Picture repair: the receiver's jitter buffer asks for lost packets (RTCP NACK, AVPF
//    profile, reports every ReportIntervalMs so that requests go out at once, in reduced
//    size between reports), again after a short wait while the packet's time allows;
//    rtprtxsend keeps a second of sent packets and resends them as RTX (payload type 97,
//    from the side's second source), rtprtxreceive restores them. A frame that still
//    cannot be completed is dropped by the depayloader. Frames the sender marked as ones
//    no later frame refers to are counted apart from the others (the payload descriptor's
//    layer fields), so their loss costs only themselves; after the loss of any other,
//    whole frames are dropped and a key frame asked for (RTCP PLI) until one comes
//    (FrameReferenceCheck). The sending side reports the request as keyFrameWanted.
//  - Sound repair: the sound comes out as RTP packets, in order, after the jitter buffer;
//    a gap in their sequence is reported with the next packet (lostSamples), so that the
//    Opus decoder fills it from that packet's in-band repair data or its concealment.
// All hand-offs from GStreamer's streaming threads reach this object queued, on the
// thread that owns it. It lives in the module zelmo-datagrams.so, which makes it for
// DatagramLink as a DatagramSession (its signals turned into that interface's events).
class DatagramMedia : public QObject, public DatagramSession
{
    Q_OBJECT

public:
    static constexpr int Vp8PayloadType = 96;
    static constexpr int Vp8RetransmissionPayloadType = 97;
    static constexpr int OpusPayloadType = 111;
    // How long a sound packet waits in the jitter buffer for its predecessors.
    static constexpr int LatencyMs = 120;
    // How long a picture packet waits for a lost predecessor's resent copy. Packets in order
    // pass at once, so this costs delay only after a loss; the request and the copy may each
    // wait behind a filling queue on the line, and a frame given up costs the picture until
    // the next key frame arrives, far longer than this.
    static constexpr int PictureLatencyMs = 300;
    // Largest RTP packet the payloaders make: well under a path's usual MTU.
    static constexpr int MaxPacketBytes = 1200;
    // The wide-band Opus rate the decoder works at: lostSamples counts in it.
    static constexpr int SoundRate = 16000;
    // Reports (and with them the round trip and the requests for lost packets) about this
    // often: a request must reach the sender well inside PictureLatencyMs.
    static constexpr int ReportIntervalMs = 100;

    // `sendKey` protects what this side sends, `receiveKey` (the peer's send key) what it
    // takes. Not valid with a key of the wrong size or when the pipeline cannot be built.
    DatagramMedia(const QByteArray &sendKey, const QByteArray &receiveKey, QObject *parent = nullptr);
    ~DatagramMedia() override;
    DatagramMedia(const DatagramMedia &) = delete;
    DatagramMedia &operator=(const DatagramMedia &) = delete;

    bool isValid() const;
    // Why it is not valid (empty when it is).
    QString problem() const;

    // One coded VP8 frame (`droppable` when no later frame refers to it), and one Opus
    // packet (one that does not parse is not sent).
    void sendVideo(const QByteArray &frame, bool droppable) override;
    void sendSound(const QByteArray &packet) override;
    // A datagram from the wire, as it came.
    void takeDatagram(const QByteArray &datagram) override;

    // Datagrams that passed decryption, and those too short or too long to be looked at.
    int datagramsDecrypted() const override;
    int datagramsRefused() const { return m_refused; }
    PathReport pathReport() override;
    WireBytes wireBytesSent() const override { return m_wire; }

    // The share of our picture's packets lost between two of the peer's reports, in 1/256,
    // from their running totals: packets lost and the highest sequence number that came
    // (extended). The fraction a report gives for its own interval is taken only from the
    // first: on a line whose full queue lost a quarter of the picture's packets, most reports
    // gave 0 while their total of lost packets grew, and the rate was never cut.
    struct ReportTotals
    {
        qint64 lost = 0;
        qint64 highest = -1;
        int share = -1;
    };
    static int lostBetweenReports(ReportTotals &totals, int fraction, qint64 packetsLost, qint64 highest);

signals:
    // A datagram to send to the peer.
    void datagramReady(const QByteArray &datagram);
    // A whole VP8 frame from the peer, in order; frames that could not be repaired are left
    // out (a key frame has then been asked for).
    void videoReceived(const QByteArray &frame);
    // An Opus packet from the peer; `lostSamples` of sound (at SoundRate) were lost just
    // before it.
    void soundReceived(const QByteArray &packet, int lostSamples);
    // The first of the peer's datagrams passed decryption: datagrams get through.
    void firstDatagramTaken();
    // The peer could not repair the picture and asks for a key frame.
    void keyFrameWanted();

private:
    struct Pipeline;
    void drainOutgoing();
    void drainVideo();
    void drainSound();

    std::unique_ptr<Pipeline> m_p;
    int m_refused = 0;
    WireBytes m_wire;
    // The sequence number of the last sound packet given out.
    int m_leastRoundTripMs = -1;
    bool m_haveSound = false;
    quint16 m_lastSoundSeq = 0;
};
