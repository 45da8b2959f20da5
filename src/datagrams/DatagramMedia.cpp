#include "datagrams/DatagramMedia.h"

#include "datagrams/FrameReferenceCheck.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtp/gstrtcpbuffer.h>
#include <gst/rtp/gstrtpbuffer.h>
#include <opus/opus.h>

#include <QCryptographicHash>
#include <QMetaObject>

#include <algorithm>
#include <array>
#include <atomic>

namespace {

// A longer run of lost sound is not filled in sample by sample: the speaker's own trimming
// covers an outage.
constexpr int MaxConcealedPackets = 10;
// Sent packets rtprtxsend keeps for resending.
constexpr guint RetransmissionHistoryMs = 1000;
// RTCP's share of the rate (above 1: bits per second): more than reports every
// ReportIntervalMs take, so the interval alone decides.
constexpr double RtcpShareBps = 200000;
// The shortest wait before a lost packet is asked for again.
constexpr gint RetryMinMs = 30;
// Packets in order that start the picture's jitter buffer.
constexpr guint FaststartPackets = 2;
// The name of the meta on a coded frame that tells rtpvp8pay the frame's layer.
constexpr const char *Vp8LayerMeta = "GstVP8Meta";
// Sources one session accepts: the peer's picture, its resent copies and its sound.
constexpr guint MaxStreams = 8;

// The sources a side sends from (picture, its resent copies, sound) follow from its key,
// so the other end knows them without being told and takes no others.
std::array<guint32, 3> sourcesOf(const QByteArray &key)
{
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
    std::array<guint32, 3> ssrcs{};
    for (size_t i = 0; i < ssrcs.size(); ++i) {
        guint32 v = 0;
        for (int b = 0; b < 4; ++b)
            v = (v << 8) | quint8(hash.at(int(i) * 4 + b));
        ssrcs[i] = v ? v : guint32(i + 1);
    }
    return ssrcs;
}

GstElement *make(const char *factory, const char *name = nullptr)
{
    return gst_element_factory_make(factory, name);
}

GstCaps *payloadCaps(guint pt)
{
    switch (pt) {
    case DatagramMedia::Vp8PayloadType:
        return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video", "clock-rate", G_TYPE_INT,
                                   90000, "encoding-name", G_TYPE_STRING, "VP8", "payload", G_TYPE_INT, int(pt),
                                   "rtcp-fb-nack", G_TYPE_BOOLEAN, TRUE, "rtcp-fb-nack-pli", G_TYPE_BOOLEAN, TRUE,
                                   nullptr);
    case DatagramMedia::Vp8RetransmissionPayloadType:
        return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "video", "clock-rate", G_TYPE_INT,
                                   90000, "encoding-name", G_TYPE_STRING, "RTX", "payload", G_TYPE_INT, int(pt),
                                   "apt", G_TYPE_INT, DatagramMedia::Vp8PayloadType, nullptr);
    case DatagramMedia::OpusPayloadType:
        return gst_caps_new_simple("application/x-rtp", "media", G_TYPE_STRING, "audio", "clock-rate", G_TYPE_INT,
                                   48000, "encoding-name", G_TYPE_STRING, "OPUS", "payload", G_TYPE_INT, int(pt),
                                   nullptr);
    default:
        return nullptr;
    }
}

// rtpbin's aux sender or receiver for the picture's retransmissions: a bin around one
// element with the pads rtpbin looks for.
GstElement *retransmissionBin(const char *factory, guint session, guint32 videoSsrc, guint32 resentSsrc)
{
    GstElement *bin = gst_bin_new(nullptr);
    GstElement *rtx = make(factory);
    if (!bin || !rtx)
        return nullptr;
    GstStructure *map = gst_structure_new("application/x-rtp-pt-map", "96", G_TYPE_UINT,
                                          guint(DatagramMedia::Vp8RetransmissionPayloadType), nullptr);
    g_object_set(rtx, "payload-type-map", map, nullptr);
    gst_structure_free(map);
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(rtx), "ssrc-map")) {
        GstStructure *ssrcs = gst_structure_new_empty("application/x-rtp-ssrc-map");
        gst_structure_set(ssrcs, QByteArray::number(videoSsrc).constData(), G_TYPE_UINT, resentSsrc, nullptr);
        g_object_set(rtx, "ssrc-map", ssrcs, nullptr);
        gst_structure_free(ssrcs);
    }
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(rtx), "max-size-time")) {
        // The funnel in front hands on caps without a clock rate: the history's age is
        // measured in RTP time, so it is given here.
        GstStructure *rates = gst_structure_new("application/x-rtp-clock-rate-map", "96", G_TYPE_UINT, 90000u,
                                                nullptr);
        g_object_set(rtx, "clock-rate-map", rates, "max-size-time", RetransmissionHistoryMs, nullptr);
        gst_structure_free(rates);
    }
    gst_bin_add(GST_BIN(bin), rtx);
    for (const char *dir : {"src", "sink"}) {
        GstPad *pad = gst_element_get_static_pad(rtx, dir);
        gchar *name = g_strdup_printf("%s_%u", dir, session);
        gst_element_add_pad(bin, gst_ghost_pad_new(name, pad));
        g_free(name);
        gst_object_unref(pad);
    }
    return bin;
}

// What comes faster than the pipeline takes it is dropped once max-bytes wait, rather than
// queued without end.
void dropWhenFull(GstElement *appsrc)
{
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(appsrc), "leaky-type"))
        g_object_set(appsrc, "leaky-type", 1 /* upstream: the new buffer */, nullptr);
}

bool linkPads(GstElement *from, const char *fromPad, GstElement *to, const char *toPad)
{
    GstPad *src = gst_element_get_static_pad(from, fromPad);
    if (!src)
        src = gst_element_request_pad_simple(from, fromPad);
    GstPad *sink = gst_element_get_static_pad(to, toPad);
    if (!sink)
        sink = gst_element_request_pad_simple(to, toPad);
    const bool ok = src && sink && gst_pad_link(src, sink) == GST_PAD_LINK_OK;
    if (src)
        gst_object_unref(src);
    if (sink)
        gst_object_unref(sink);
    return ok;
}

// RTCP packet types 192..223 where RTP has its marker and payload type: the two share the
// flow (payload types 96..127 of RTP stay clear of them), and SRTP leaves both in clear.
bool isRtcp(const QByteArray &datagram)
{
    const auto second = quint8(datagram.at(1));
    return second >= 192 && second <= 223;
}

QByteArray bufferBytes(GstBuffer *buffer)
{
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return {};
    QByteArray bytes(reinterpret_cast<const char *>(map.data), qsizetype(map.size));
    gst_buffer_unmap(buffer, &map);
    return bytes;
}

} // namespace

struct DatagramMedia::Pipeline
{
    DatagramMedia *owner = nullptr;
    GstElement *pipeline = nullptr;
    GstElement *rtpbin = nullptr;
    GstElement *videoIn = nullptr;
    GstElement *soundIn = nullptr;
    GstElement *rtpIn = nullptr;
    GstElement *rtcpIn = nullptr;
    GstElement *wireOut = nullptr;
    GstElement *videoOut = nullptr;
    GstElement *soundOut = nullptr;
    GstElement *vp8pay = nullptr;
    GstBuffer *receiveKey = nullptr;
    std::array<guint32, 3> ownSources{};
    std::array<guint32, 3> peerSources{};
    QString problem;
    std::atomic<int> decrypted{0};
    std::atomic<int> errors{0};
    // The share of our picture's packets lost, in 1/256, since the peer's report before its
    // newest; -1 before one came.
    std::atomic<int> pictureLost{-1};
    // The newest report's running totals on our picture. Read and written on the reports'
    // thread only.
    ReportTotals reportTotals;
    // Set while a drain of that kind is queued, so a burst queues one.
    std::atomic<bool> outgoingQueued{false};
    std::atomic<bool> videoQueued{false};
    std::atomic<bool> soundQueued{false};
    // Whether each whole frame of the peer's picture can be decoded, from the payload
    // descriptor of its first packet. Used on the picture's streaming thread only.
    FrameReferenceCheck frameCheck;
    FrameReferenceCheck::Descriptor frameStart;

    ~Pipeline()
    {
        if (pipeline) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        }
        if (receiveKey)
            gst_buffer_unref(receiveKey);
    }

    // Queues one call of `drain` on the owner's thread unless one is waiting already.
    void queue(std::atomic<bool> &flag, void (DatagramMedia::*drain)())
    {
        if (flag.exchange(true))
            return;
        DatagramMedia *o = owner;
        QMetaObject::invokeMethod(o, [o, drain, &flag] {
            flag = false;
            (o->*drain)();
        }, Qt::QueuedConnection);
    }

    bool build(const QByteArray &sendKey, const QByteArray &peerKey);

    // The session keeps only the last report block of each report, whichever of our
    // sources (picture, sound, resent copies) it is about, so the block on the picture is
    // read here, as the report comes.
    static void onReceivingRtcp(GObject *, GstBuffer *buffer, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        GstRTCPBuffer rtcp = GST_RTCP_BUFFER_INIT;
        if (!gst_rtcp_buffer_map(buffer, GST_MAP_READ, &rtcp))
            return;
        GstRTCPPacket packet;
        for (gboolean more = gst_rtcp_buffer_get_first_packet(&rtcp, &packet); more;
             more = gst_rtcp_packet_move_to_next(&packet)) {
            const GstRTCPType type = gst_rtcp_packet_get_type(&packet);
            if (type != GST_RTCP_TYPE_RR && type != GST_RTCP_TYPE_SR)
                continue;
            for (guint i = 0; i < gst_rtcp_packet_get_rb_count(&packet); ++i) {
                guint32 ssrc = 0, highest = 0, jitter = 0, lsr = 0, dlsr = 0;
                guint8 fractionLost = 0;
                gint32 packetsLost = 0;
                gst_rtcp_packet_get_rb(&packet, i, &ssrc, &fractionLost, &packetsLost, &highest, &jitter, &lsr, &dlsr);
                if (ssrc == p->ownSources[0])
                    p->pictureLost = lostBetweenReports(p->reportTotals, fractionLost, packetsLost, highest);
            }
        }
        gst_rtcp_buffer_unmap(&rtcp);
    }

    // Each of our sources' reports would carry a block on each of the peer's; only the block
    // on its picture is read (for the loss and the round trip), so the blocks on its sound
    // and its resent copies are left out.
    static void onNewSource(GObject *, GObject *source, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        guint ssrc = 0;
        g_object_get(source, "ssrc", &ssrc, nullptr);
        if ((ssrc == p->peerSources[1] || ssrc == p->peerSources[2])
            && g_object_class_find_property(G_OBJECT_GET_CLASS(source), "disable-rtcp"))
            g_object_set(source, "disable-rtcp", TRUE, nullptr);
    }

    static GstCaps *onRequestPtMap(GstElement *, guint, guint pt, gpointer)
    {
        return payloadCaps(pt);
    }

    // A lost packet is asked for again soon enough for a second and third try to fit in the
    // jitter buffer's wait, as the request or the copy may be lost as well.
    // A packet counts as missing only once a later one came: guessed from the spacing of the
    // last ones, a packet held up in a filling queue would be asked for again (more for the
    // queue to carry) and then given up for lost while still on its way, and the picture
    // would wait for a key frame.
    // The sound is never resent (Opus fills a gap from the next packet): asking for it would
    // only spend reports, and the one early report allowed per interval, on nothing.
    static void onNewJitterBuffer(GstElement *, GstElement *jitterBuffer, guint, guint ssrc, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        if (ssrc == p->peerSources[2]) {
            g_object_set(jitterBuffer, "do-retransmission", FALSE, nullptr);
            return;
        }
        g_object_set(jitterBuffer, "latency", guint(PictureLatencyMs), "rtx-min-retry-timeout", RetryMinMs, nullptr);
        // The first picture shows as soon as its packets come in order, not after the wait.
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(jitterBuffer), "faststart-min-packets"))
            g_object_set(jitterBuffer, "faststart-min-packets", FaststartPackets, nullptr);
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(jitterBuffer), "rtx-next-seqnum"))
            g_object_set(jitterBuffer, "rtx-next-seqnum", FALSE, nullptr);
    }

    static GstElement *onAuxSender(GstElement *, guint session, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        return retransmissionBin("rtprtxsend", session, p->ownSources[0], p->ownSources[1]);
    }

    static GstElement *onAuxReceiver(GstElement *, guint session, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        return retransmissionBin("rtprtxreceive", session, p->peerSources[0], p->peerSources[1]);
    }

    // Only the peer's own sources get the key: a datagram claiming any other is dropped
    // without a decryption context being made for it.
    static GstCaps *onRequestKey(GstElement *, guint ssrc, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        if (std::find(p->peerSources.begin(), p->peerSources.end(), ssrc) == p->peerSources.end())
            return nullptr;
        GstBuffer *key = p->receiveKey;
        return gst_caps_new_simple("application/x-srtp", "srtp-key", GST_TYPE_BUFFER, key, "srtp-cipher", G_TYPE_STRING,
                                   "aes-128-icm", "srtp-auth", G_TYPE_STRING, "hmac-sha1-80", "srtcp-cipher",
                                   G_TYPE_STRING, "aes-128-icm", "srtcp-auth", G_TYPE_STRING, "hmac-sha1-80", nullptr);
    }

    static GstFlowReturn onWireSample(GstAppSink *, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        p->queue(p->outgoingQueued, &DatagramMedia::drainOutgoing);
        return GST_FLOW_OK;
    }

    static GstFlowReturn onVideoSample(GstAppSink *, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        p->queue(p->videoQueued, &DatagramMedia::drainVideo);
        return GST_FLOW_OK;
    }

    static GstFlowReturn onSoundSample(GstAppSink *, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        p->queue(p->soundQueued, &DatagramMedia::drainSound);
        return GST_FLOW_OK;
    }

    // Nobody reads the bus: its messages would pile up for the whole call. Errors are
    // counted; a stream that stops shows as missing picture or sound.
    static GstBusSyncReply onBusMessage(GstBus *, GstMessage *message, gpointer data)
    {
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
            static_cast<Pipeline *>(data)->errors++;
        return GST_BUS_DROP;
    }

    static GstPadProbeReturn onDecrypted(GstPad *, GstPadProbeInfo *, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        if (p->decrypted++ == 0) {
            DatagramMedia *o = p->owner;
            QMetaObject::invokeMethod(o, [o] { emit o->firstDatagramTaken(); }, Qt::QueuedConnection);
        }
        return GST_PAD_PROBE_OK;
    }

    // The session turned the peer's picture loss indication into a key-unit request, which
    // travels up to the payloader.
    static GstPadProbeReturn onUpstreamEvent(GstPad *, GstPadProbeInfo *info, gpointer data)
    {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (event && GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_UPSTREAM && gst_event_has_name(event, "GstForceKeyUnit")) {
            auto *p = static_cast<Pipeline *>(data);
            DatagramMedia *o = p->owner;
            QMetaObject::invokeMethod(o, [o] { emit o->keyFrameWanted(); }, Qt::QueuedConnection);
        }
        return GST_PAD_PROBE_OK;
    }

    // The descriptor of the first packet of each frame, for the frame when it is whole.
    static GstPadProbeReturn onPicturePacket(GstPad *, GstPadProbeInfo *info, gpointer data)
    {
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
        if (!buffer || !gst_rtp_buffer_map(buffer, GST_MAP_READ, &rtp))
            return GST_PAD_PROBE_OK;
        const auto descriptor = FrameReferenceCheck::parse(static_cast<const uint8_t *>(gst_rtp_buffer_get_payload(&rtp)),
                                                           gst_rtp_buffer_get_payload_len(&rtp));
        gst_rtp_buffer_unmap(&rtp);
        if (descriptor && descriptor->frameStart)
            static_cast<Pipeline *>(data)->frameStart = *descriptor;
        return GST_PAD_PROBE_OK;
    }

    // A whole frame that refers to one that was lost would decode into a broken picture:
    // it is dropped, and a key frame is asked for (RTCP PLI), until one comes.
    static GstPadProbeReturn onWholeFrame(GstPad *pad, GstPadProbeInfo *info, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        guint8 first = 1;
        const bool key = buffer && gst_buffer_extract(buffer, 0, &first, 1) == 1 && (first & 0x01) == 0;
        const bool decodable = p->frameCheck.take(p->frameStart, key);
        p->frameStart = {};
        if (decodable)
            return GST_PAD_PROBE_OK;
        GstElement *depay = gst_pad_get_parent_element(pad);
        if (depay) {
            GstPad *sink = gst_element_get_static_pad(depay, "sink");
            GstStructure *s = gst_structure_new("GstForceKeyUnit", "all-headers", G_TYPE_BOOLEAN, TRUE, "count",
                                                G_TYPE_UINT, 0u, nullptr);
            gst_pad_push_event(sink, gst_event_new_custom(GST_EVENT_CUSTOM_UPSTREAM, s));
            gst_object_unref(sink);
            gst_object_unref(depay);
        }
        return GST_PAD_PROBE_DROP;
    }

    // A stream of the peer's came out of the jitter buffer: the picture to its depayloader,
    // the sound as RTP packets to its sink. Others (a payload type never agreed) stay unlinked
    // and are dropped.
    static void onPadAdded(GstElement *, GstPad *pad, gpointer data)
    {
        auto *p = static_cast<Pipeline *>(data);
        gchar *name = gst_pad_get_name(pad);
        guint session = 0, ssrc = 0, pt = 0;
        const bool isRecv = sscanf(name, "recv_rtp_src_%u_%u_%u", &session, &ssrc, &pt) == 3;
        g_free(name);
        if (!isRecv)
            return;
        GstElement *target = nullptr;
        if (pt == DatagramMedia::Vp8PayloadType)
            target = gst_bin_get_by_name(GST_BIN(p->pipeline), "videodepay");
        else if (pt == DatagramMedia::OpusPayloadType)
            target = p->soundOut ? GST_ELEMENT(gst_object_ref(p->soundOut)) : nullptr;
        if (!target)
            return;
        GstPad *sink = gst_element_get_static_pad(target, "sink");
        if (sink && !gst_pad_is_linked(sink))
            gst_pad_link(pad, sink);
        if (sink)
            gst_object_unref(sink);
        gst_object_unref(target);
    }
};

bool DatagramMedia::Pipeline::build(const QByteArray &sendKey, const QByteArray &peerKey)
{
    pipeline = gst_pipeline_new(nullptr);
    rtpbin = make("rtpbin");
    videoIn = make("appsrc");
    soundIn = make("appsrc");
    vp8pay = make("rtpvp8pay");
    GstElement *opuspay = make("rtpopuspay");
    GstElement *funnel = make("rtpfunnel");
    GstElement *srtpenc = make("srtpenc");
    GstElement *wireFunnel = make("funnel");
    wireOut = make("appsink");
    rtpIn = make("appsrc");
    rtcpIn = make("appsrc");
    GstElement *srtpdec = make("srtpdec");
    GstElement *depay = make("rtpvp8depay", "videodepay");
    videoOut = make("appsink");
    soundOut = make("appsink");
    for (GstElement *e : {pipeline, rtpbin, videoIn, soundIn, vp8pay, opuspay, funnel, srtpenc, wireFunnel, wireOut,
                          rtpIn, rtcpIn, srtpdec, depay, videoOut, soundOut}) {
        if (!e) {
            problem = QStringLiteral("A GStreamer element for RTP, SRTP or VP8/Opus payloads is missing.");
            return false;
        }
    }
    GstBus *bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline));
    gst_bus_set_sync_handler(bus, onBusMessage, this, nullptr);
    gst_object_unref(bus);
    gst_bin_add_many(GST_BIN(pipeline), rtpbin, videoIn, soundIn, vp8pay, opuspay, funnel, srtpenc, wireFunnel,
                     wireOut, rtpIn, rtcpIn, srtpdec, depay, videoOut, soundOut, nullptr);

    // rtp-profile 3: AVPF, feedback (NACK, PLI) as soon as a loss is seen.
    g_object_set(rtpbin, "latency", guint(LatencyMs), "do-retransmission", TRUE, "do-lost", TRUE, "rtp-profile", 3,
                 "max-streams", MaxStreams, nullptr);
    g_signal_connect(rtpbin, "request-pt-map", G_CALLBACK(onRequestPtMap), this);
    g_signal_connect(rtpbin, "request-aux-sender", G_CALLBACK(onAuxSender), this);
    g_signal_connect(rtpbin, "request-aux-receiver", G_CALLBACK(onAuxReceiver), this);
    g_signal_connect(rtpbin, "pad-added", G_CALLBACK(onPadAdded), this);
    g_signal_connect(rtpbin, "new-jitterbuffer", G_CALLBACK(onNewJitterBuffer), this);
    // Each of our sources sends its own report with this description, several times a second:
    // only the name RTP requires, short and drawn from the key, so that it says nothing of the
    // user, the machine or the program.
    const QByteArray name = QCryptographicHash::hash(sendKey, QCryptographicHash::Sha256).right(6).toBase64();
    GstStructure *sdes = gst_structure_new("application/x-rtp-source-sdes", "cname", G_TYPE_STRING,
                                           name.constData(), nullptr);
    g_object_set(rtpbin, "sdes", sdes, nullptr);
    gst_structure_free(sdes);

    GstCaps *vp8 = gst_caps_new_empty_simple("video/x-vp8");
    GstCaps *opus = gst_caps_new_simple("audio/x-opus", "channel-mapping-family", G_TYPE_INT, 0, "channels",
                                        G_TYPE_INT, 1, "rate", G_TYPE_INT, 48000, nullptr);
    for (auto [src, caps] : {std::pair{videoIn, vp8}, std::pair{soundIn, opus}}) {
        g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE,
                     "max-bytes", guint64(2 * 1024 * 1024), nullptr);
        dropWhenFull(src);
        gst_caps_unref(caps);
    }
    g_object_set(vp8pay, "pt", guint(Vp8PayloadType), "mtu", guint(MaxPacketBytes), "picture-id-mode", 2, "ssrc",
                 guint(sourcesOf(sendKey)[0]), nullptr);
    g_object_set(opuspay, "pt", guint(OpusPayloadType), "mtu", guint(MaxPacketBytes), "ssrc",
                 guint(sourcesOf(sendKey)[2]), nullptr);

    GstBuffer *key = gst_buffer_new_memdup(sendKey.constData(), gsize(sendKey.size()));
    g_object_set(srtpenc, "key", key, nullptr);
    gst_buffer_unref(key);
    receiveKey = gst_buffer_new_memdup(peerKey.constData(), gsize(peerKey.size()));
    g_signal_connect(srtpdec, "request-key", G_CALLBACK(onRequestKey), this);
    ownSources = sourcesOf(sendKey);
    peerSources = sourcesOf(peerKey);

    GstCaps *srtp = gst_caps_new_empty_simple("application/x-srtp");
    GstCaps *srtcp = gst_caps_new_empty_simple("application/x-srtcp");
    for (auto [src, caps] : {std::pair{rtpIn, srtp}, std::pair{rtcpIn, srtcp}}) {
        g_object_set(src, "caps", caps, "format", GST_FORMAT_TIME, "is-live", TRUE, "do-timestamp", TRUE,
                     "max-bytes", guint64(1024 * 1024), nullptr);
        dropWhenFull(src);
        gst_caps_unref(caps);
    }
    for (GstElement *sink : {wireOut, videoOut, soundOut}) {
        g_object_set(sink, "sync", FALSE, "async", FALSE, "max-buffers", 400u, "drop", TRUE, nullptr);
    }
    // The depayloader drops incomplete frames; which whole frames can be decoded, and when a
    // key frame is needed, onWholeFrame decides.
    g_object_set(depay, "request-keyframe", FALSE, "wait-for-keyframe", FALSE, nullptr);

    const bool linked = gst_element_link(videoIn, vp8pay) && gst_element_link(soundIn, opuspay)
        && linkPads(vp8pay, "src", funnel, "sink_%u") && linkPads(opuspay, "src", funnel, "sink_%u")
        && linkPads(funnel, "src", rtpbin, "send_rtp_sink_0") && linkPads(rtpbin, "send_rtp_src_0", srtpenc, "rtp_sink_0")
        && linkPads(rtpbin, "send_rtcp_src_0", srtpenc, "rtcp_sink_0")
        && linkPads(srtpenc, "rtp_src_0", wireFunnel, "sink_%u") && linkPads(srtpenc, "rtcp_src_0", wireFunnel, "sink_%u")
        && gst_element_link(wireFunnel, wireOut) && linkPads(rtpIn, "src", srtpdec, "rtp_sink")
        && linkPads(rtcpIn, "src", srtpdec, "rtcp_sink") && linkPads(srtpdec, "rtp_src", rtpbin, "recv_rtp_sink_0")
        && linkPads(srtpdec, "rtcp_src", rtpbin, "recv_rtcp_sink_0") && gst_element_link(depay, videoOut);
    if (!linked) {
        problem = QStringLiteral("The datagram media pipeline could not be linked.");
        return false;
    }

    for (const char *padName : {"rtp_src", "rtcp_src"}) {
        GstPad *pad = gst_element_get_static_pad(srtpdec, padName);
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, onDecrypted, this, nullptr);
        gst_object_unref(pad);
    }
    GstPad *depaySink = gst_element_get_static_pad(depay, "sink");
    gst_pad_add_probe(depaySink, GST_PAD_PROBE_TYPE_BUFFER, onPicturePacket, this, nullptr);
    gst_object_unref(depaySink);
    GstPad *depaySrc = gst_element_get_static_pad(depay, "src");
    gst_pad_add_probe(depaySrc, GST_PAD_PROBE_TYPE_BUFFER, onWholeFrame, this, nullptr);
    gst_object_unref(depaySrc);
    GstPad *paySrc = gst_element_get_static_pad(vp8pay, "src");
    gst_pad_add_probe(paySrc, GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, onUpstreamEvent, this, nullptr);
    gst_object_unref(paySrc);

    GstAppSinkCallbacks wire{};
    wire.new_sample = onWireSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(wireOut), &wire, this, nullptr);
    GstAppSinkCallbacks video{};
    video.new_sample = onVideoSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(videoOut), &video, this, nullptr);
    GstAppSinkCallbacks sound{};
    sound.new_sample = onSoundSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(soundOut), &sound, this, nullptr);

    GObject *session = nullptr;
    g_signal_emit_by_name(rtpbin, "get-internal-session", 0u, &session);
    if (session) {
        // Reports (and feedback) go out as the picture's source even before it sends: the
        // peer takes no other.
        // In the feedback profile a request for lost packets may go out early only once per
        // report interval, and otherwise waits for the next report: the interval has to be
        // well inside the jitter buffer's wait. The share of the rate RTCP may take is set so
        // high that this interval, not the share, decides how often reports go (about
        // 10 kbit/s).
        // Sources on probation hold their first packets back until a second one follows,
        // which would delay the first resent copy; only the peer's own sources get past
        // decryption, so there is nothing left to be wary of.
        g_object_set(session, "rtcp-min-interval", guint64(ReportIntervalMs) * GST_MSECOND, "rtcp-fraction",
                     RtcpShareBps, "probation", 0u, "internal-ssrc", guint(ownSources[0]), nullptr);
        // A request for lost packets that goes out between reports carries only itself, not
        // a full report from each of our sources.
        if (g_object_class_find_property(G_OBJECT_GET_CLASS(session), "rtcp-reduced-size"))
            g_object_set(session, "rtcp-reduced-size", TRUE, nullptr);
        g_signal_connect(session, "on-receiving-rtcp", G_CALLBACK(onReceivingRtcp), this);
        g_signal_connect(session, "on-new-ssrc", G_CALLBACK(onNewSource), this);
        g_object_unref(session);
    }

    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        problem = QStringLiteral("The datagram media pipeline did not start.");
        return false;
    }
    return true;
}

int DatagramMedia::lostBetweenReports(ReportTotals &totals, int fraction, qint64 packetsLost, qint64 highest)
{
    if (totals.highest < 0) {
        totals = {packetsLost, highest, fraction};
        return fraction;
    }
    // A report that covers no new packet says nothing new.
    const qint64 expected = highest - totals.highest;
    if (expected <= 0)
        return totals.share;
    const qint64 lost = packetsLost - totals.lost;
    totals = {packetsLost, highest, int(std::clamp<qint64>(lost * 256 / expected, 0, 255))};
    return totals.share;
}

DatagramMedia::DatagramMedia(const QByteArray &sendKey, const QByteArray &receiveKey, QObject *parent)
    : QObject(parent), m_p(std::make_unique<Pipeline>())
{
    m_p->owner = this;
    if (sendKey.size() != KeyBytes || receiveKey.size() != KeyBytes) {
        m_p->problem = QStringLiteral("A datagram media key has the wrong size.");
        return;
    }
    gst_init(nullptr, nullptr);
    // The meta the payloader reads a frame's layer from; GStreamer's own VP8 encoder, which
    // registers it too, is not loaded here.
    if (!gst_meta_get_info(Vp8LayerMeta)) {
        static const gchar *noTags[] = {nullptr};
        gst_meta_register_custom(Vp8LayerMeta, noTags, nullptr, nullptr, nullptr);
    }
    if (!m_p->build(sendKey, receiveKey) && m_p->pipeline) {
        gst_element_set_state(m_p->pipeline, GST_STATE_NULL);
        gst_object_unref(m_p->pipeline);
        m_p->pipeline = nullptr;
    }
}

// The pipeline stops (its threads joined) before anything it reports to is gone.
DatagramMedia::~DatagramMedia() = default;

bool DatagramMedia::isValid() const
{
    return m_p->pipeline != nullptr && m_p->problem.isEmpty();
}

QString DatagramMedia::problem() const
{
    return m_p->problem;
}

int DatagramMedia::datagramsDecrypted() const
{
    return m_p->decrypted;
}

DatagramMedia::PathReport DatagramMedia::pathReport()
{
    PathReport report;
    if (!isValid())
        return report;
    GObject *session = nullptr;
    g_signal_emit_by_name(m_p->rtpbin, "get-internal-session", 0u, &session);
    if (!session)
        return report;
    GstStructure *stats = nullptr;
    g_object_get(session, "stats", &stats, nullptr);
    g_object_unref(session);
    if (!stats)
        return report;
    // The session keeps a report block with the source that sent it (the peer's), or, in
    // some versions, with the source it is about (ours): either will do for the round trip,
    // which is the same for all our sources.
    int roundTripMs = -1;
    bool fromOwn = false;
    const GValue *sources = gst_structure_get_value(stats, "source-stats");
    // The session gives its sources' figures as a GLib value array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GValueArray *list = sources && G_VALUE_HOLDS(sources, G_TYPE_VALUE_ARRAY)
        ? static_cast<GValueArray *>(g_value_get_boxed(sources))
        : nullptr;
    if (list) {
        for (guint i = 0; i < list->n_values; ++i) {
            const GValue *v = g_value_array_get_nth(list, i);
            if (!GST_VALUE_HOLDS_STRUCTURE(v))
                continue;
            const GstStructure *s = gst_value_get_structure(v);
            guint ssrc = 0;
            gboolean haveReport = FALSE;
            guint rtt = 0;
            // The peer's report on what we send; the round trip in 1/65536 s.
            if (!gst_structure_get_uint(s, "ssrc", &ssrc)
                || (ssrc != m_p->ownSources[0] && ssrc != m_p->peerSources[0])
                || !gst_structure_get_boolean(s, "have-rb", &haveReport) || !haveReport
                || !gst_structure_get_uint(s, "rb-round-trip", &rtt) || rtt == 0)
                continue;
            const bool own = ssrc == m_p->ownSources[0];
            if (fromOwn && !own)
                continue;
            fromOwn = own;
            roundTripMs = int(qint64(rtt) * 1000 / 65536);
        }
    }
#pragma GCC diagnostic pop
    gst_structure_free(stats);
    if (roundTripMs < 0)
        return report;
    report.lost = std::max(0, m_p->pictureLost.load()) / 256.0;
    if (m_leastRoundTripMs < 0 || roundTripMs < m_leastRoundTripMs)
        m_leastRoundTripMs = roundTripMs;
    report.delayMs = roundTripMs - m_leastRoundTripMs;
    return report;
}

void DatagramMedia::sendVideo(const QByteArray &frame, bool droppable)
{
    if (!isValid() || frame.isEmpty())
        return;
    GstBuffer *buffer = gst_buffer_new_memdup(frame.constData(), gsize(frame.size()));
    // The payloader numbers the frames others refer to and marks the rest, so the peer knows
    // which losses break its picture.
    if (droppable)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DROPPABLE);
    if (GstCustomMeta *meta = gst_buffer_add_custom_meta(buffer, Vp8LayerMeta)) {
        gst_structure_set(gst_custom_meta_get_structure(meta), "use-temporal-scaling", G_TYPE_BOOLEAN, TRUE,
                          "layer-id", G_TYPE_UINT, droppable ? 1u : 0u, "layer-sync", G_TYPE_BOOLEAN,
                          gboolean(droppable), nullptr);
    }
    gst_app_src_push_buffer(GST_APP_SRC(m_p->videoIn), buffer);
}

void DatagramMedia::sendSound(const QByteArray &packet)
{
    if (!isValid() || packet.isEmpty())
        return;
    const int samples = opus_packet_get_nb_samples(reinterpret_cast<const unsigned char *>(packet.constData()),
                                                   opus_int32(packet.size()), SoundRate);
    if (samples <= 0)
        return;
    GstBuffer *buffer = gst_buffer_new_memdup(packet.constData(), gsize(packet.size()));
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(GstClockTime(samples), GST_SECOND, SoundRate);
    gst_app_src_push_buffer(GST_APP_SRC(m_p->soundIn), buffer);
}

void DatagramMedia::takeDatagram(const QByteArray &datagram)
{
    // RTP's fixed header is 12 bytes, an RTCP packet's 8; SRTP adds its tag to both.
    if (!isValid() || datagram.size() < 12 || datagram.size() > MaxDatagramBytes) {
        ++m_refused;
        return;
    }
    GstElement *into = isRtcp(datagram) ? m_p->rtcpIn : m_p->rtpIn;
    gst_app_src_push_buffer(GST_APP_SRC(into), gst_buffer_new_memdup(datagram.constData(), gsize(datagram.size())));
}

void DatagramMedia::drainOutgoing()
{
    while (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_p->wireOut), 0)) {
        const QByteArray bytes = bufferBytes(gst_sample_get_buffer(sample));
        gst_sample_unref(sample);
        if (bytes.size() < 2)
            continue;
        const qint64 onLine = bytes.size() + DatagramOverheadBytes;
        m_wire.all += onLine;
        const int payloadType = quint8(bytes.at(1)) & 0x7f;
        if (!isRtcp(bytes) && (payloadType == Vp8PayloadType || payloadType == Vp8RetransmissionPayloadType))
            m_wire.picture += onLine;
        emit datagramReady(bytes);
    }
}

void DatagramMedia::drainVideo()
{
    while (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_p->videoOut), 0)) {
        const QByteArray frame = bufferBytes(gst_sample_get_buffer(sample));
        gst_sample_unref(sample);
        if (!frame.isEmpty())
            emit videoReceived(frame);
    }
}

void DatagramMedia::drainSound()
{
    while (GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_p->soundOut), 0)) {
        GstBuffer *buffer = gst_sample_get_buffer(sample);
        GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
        if (!buffer || !gst_rtp_buffer_map(buffer, GST_MAP_READ, &rtp)) {
            gst_sample_unref(sample);
            continue;
        }
        const quint16 seq = gst_rtp_buffer_get_seq(&rtp);
        const QByteArray packet(static_cast<const char *>(gst_rtp_buffer_get_payload(&rtp)),
                                qsizetype(gst_rtp_buffer_get_payload_len(&rtp)));
        gst_rtp_buffer_unmap(&rtp);
        gst_sample_unref(sample);
        const int samples = packet.isEmpty()
            ? 0
            : opus_packet_get_nb_samples(reinterpret_cast<const unsigned char *>(packet.constData()),
                                         opus_int32(packet.size()), SoundRate);
        if (samples <= 0)
            continue;
        int lost = 0;
        if (m_haveSound) {
            const quint16 gap = quint16(seq - m_lastSoundSeq);
            // The jitter buffer gives packets in order; a step back is a restarted stream.
            if (gap >= 1 && gap < 0x8000)
                lost = qMin(int(gap) - 1, MaxConcealedPackets) * samples;
        }
        m_haveSound = true;
        m_lastSoundSeq = seq;
        emit soundReceived(packet, lost);
    }
}
