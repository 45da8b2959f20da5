#include "media/MediaSession.h"

#include "core/Fields.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/CallOwner.h"
#include "core/PeerChannel.h"
#include "core/Settings.h"
#include "media/SoundPlayer.h"
#include "media/AudioControl.h"
#include "media/AudioPlayQueue.h"
#include "media/AudioSendQueue.h"
#include "media/CallClock.h"
#include "media/CaptureControl.h"
#include "media/CodedMediaPacket.h"
#include "media/DatagramLink.h"
#include "media/DatagramModule.h"
#include "media/LinkPacer.h"
#include "media/MediaClock.h"
#include "media/MediaPacket.h"
#include "media/MediaStats.h"
#include "media/OutgoingTextQueue.h"
#include "media/sound/OpusVoiceDecoder.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/picture/Vp8Encoder.h"
#include "media/AudioEngine.h"
#include "media/picture/FrameConverter.h"
#include "media/sound/Resampler.h"
#include "media/VideoEngine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr int AnimationFrames = 8;
constexpr int BlockSampleRoom = AudioBlock::DataBytes / int(sizeof(qint16));

const QString DisconnectSound = QStringLiteral("discon.wav");
// A line that contains the terminator would be cut short at the peer; a zero-width space
// inside it keeps what the peer reads the same.
const QByteArray Terminator = QByteArrayLiteral("<E>");
const QByteArray BrokenTerminator = QByteArrayLiteral("<E\xE2\x80\x8B>");

double markAfter(double now, int seconds)
{
    return std::round(now + seconds);
}

// The log's line when datagrams cannot be used, whatever the peer offers.
QString withoutDatagrams(const QString &why)
{
    return QStringLiteral("No datagrams, picture and sound stay on the connection: %1").arg(why);
}

} // namespace

MediaSession::MediaSession(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_windowNormal([] { return true; })
    , m_pacer(TickMs)
    , m_fit(TickMs)
    , m_datagramModule(std::make_unique<DatagramModule>(
          m_.datagramModuleFolders.isEmpty() ? RuntimeModule::defaultFolders() : m_.datagramModuleFolders))
{
    m_linkClock.start();
    m_.ipdMedia.setInputBufferSize(MediaInputBufferSize);
    m_.ipdMedia.setOutputBufferSize(MediaOutputBufferSize);
    m_.ippClient.setInputBufferSize(MediaInputBufferSize);
    m_.ippClient.setOutputBufferSize(MediaOutputBufferSize);
    m_.ippClient.setLineEnd(Terminator);

    connect(&m_.ipdMedia, &IPDaemon::connectionRequest, this, &MediaSession::onMediaRequest);
    connect(&m_.ipdMedia, &IPDaemon::connected, this,
            [this](int id, int status, const QString &) { onListenerConnected(id, status); });
    connect(&m_.ipdMedia, &IPDaemon::dataIn, this, [this](int id, const QByteArray &text, bool eol) {
        if (id == 1)
            receiveMediaData(text, eol);
    });
    connect(&m_.ipdMedia, &IPDaemon::disconnected, this,
            [this](int id, int, const QString &) { onListenerDisconnected(id); });
    connect(&m_.ippClient, &IPPort::connected, this, [this](int status, const QString &) { onClientConnected(status); });
    connect(&m_.ippClient, &IPPort::dataIn, this, &MediaSession::receiveMediaData);
    connect(&m_.ippClient, &IPPort::disconnected, this, [this](int, const QString &) { onClientDisconnected(); });
    connect(&m_.video, &VideoEngine::frameArrived, this, &MediaSession::onCameraFrame);
}

MediaSession::~MediaSession() = default;

void MediaSession::setWindowNormalQuery(std::function<bool()> isNormal)
{
    m_windowNormal = isNormal ? std::move(isNormal) : [] { return true; };
}

void MediaSession::setDisplaySize(int width, int height)
{
    m_displayWidth = width;
    m_displayHeight = height;
    emit displaySizeChanged(width, height);
}

// ---- The send loop ----------------------------------------------------------------------

void MediaSession::tick()
{
    const bool inCall = m_.calls.status().callState == CallState::InCall;

    // The activity lamp turns during a call and until it has come round after one.
    if (wantsTicks()) {
        if (++m_animationDivider >= 2) {
            m_animationDivider = 0;
            m_animationFrame = (m_animationFrame + 1) % AnimationFrames;
            emit activityFrameChanged(m_animationFrame);
        }
    }

    m_.audioControl.followSpeaker();

    // The capture rate is due every 5 seconds; the stream rates every 10 seconds of a call,
    // with early figures once a second before the first full period.
    const MediaStats::Figures figures = m_.stats.tick(inCall);
    if (figures & (MediaStats::CaptureRate | MediaStats::EarlyCaptureRate))
        emit captureRateChanged(m_.stats.capturedFpsText());
    if (figures & MediaStats::CaptureRate)
        emit fiveSecondMark();

    m_.audioControl.captureStep();

    // Sound goes first: a new frame is asked for only while no block waits.
    const bool capturing = m_.capture.isRunning() && m_.capture.isReady();
    if (capturing && !m_.audioSendQueue.hasWaiting())
        m_.video.grabFrameNoStop();

    const double now = m_.clock.now();
    if (!inCall) {
        m_secondMark = markAfter(now, 1);
        return;
    }

    if (queuedSoundSamples() >= qint64(SpeakerLeadSamples) * (m_.audio.sampleRate() / AudioEngine::SampleRate)
        || m_.audioControl.isSpeakerPlaying())
        playAudioQueue();

    if (now > m_secondMark) {
        m_secondMark = markAfter(now, 1);
        m_.callClock.tickCallClock(1);
        showCallClock();
    }
    if (figures & (MediaStats::StreamRates | MediaStats::EarlyStreamRates))
        showStreamRates();

    if (m_.ipdMedia.isConnected(1))
        m_pacer.update(m_.ipdMedia.pendingOutput(1), m_.ipdMedia.minRoundTripMs(1), m_linkClock.elapsed());
    else
        m_pacer.update(m_.ippClient.pendingOutput(), m_.ippClient.minRoundTripMs(), m_linkClock.elapsed());
    m_fit.update(m_pacer.drainRate(), m_pacer.linkBusy(), m_linkClock.elapsed());
    if (sendsOverDatagrams()) {
        // The channel carries next to nothing now: delay and loss come from the peer's
        // reports, what goes on the line from the datagrams sent.
        const DatagramSession::PathReport report = m_datagrams->pathReport();
        const DatagramSession::WireBytes sent = m_datagrams->wireBytesSent();
        m_rate.updateFromReports(report.delayMs, report.lost, sent.all, sent.picture, m_linkClock.elapsed());
    } else if (m_currentFormats) {
        m_rate.update(m_pacer.queueDelayMs(), m_pacer.drainRate(), m_linkClock.elapsed());
    }

    // A text line the connection does not take is offered again next tick, before anything else.
    if (!m_.textQueue.isEmpty()) {
        if (sendMediaPacket(textPacket(m_.textQueue.front())) <= 0)
            return;
        m_.textQueue.pop();
    }

    // Sound keeps its place unless the link has stopped taking even that.
    if (m_.audioSendQueue.hasWaiting() && !m_.audioControl.isMessageRecording() && m_pacer.soundAllowed()) {
        const QByteArray block = m_.audioSendQueue.front().bytes();
        if (sendsOverDatagrams()) {
            m_datagrams->sendSound(block);
            m_.audioSendQueue.pop();
        } else {
            const QByteArray packet = m_currentFormats ? CodedMediaPacket::build(CodedMediaPacket::Kind::Opus, block)
                                                       : MediaPacket::build(MediaPacket::AudioKind, block);
            if (sendMediaPacket(packet) > 0) {
                m_.audioSendQueue.pop();
                // The probe of the datagram path: the same sound goes there too.
                if (m_datagrams && m_datagrams->probing())
                    m_datagrams->sendSound(block);
            }
        }
    }
    sendFramePackets();

    // Today's formats send each camera frame as it comes (onCameraFrame).
    if (capturing && !m_currentFormats) {
        // A frame that would wait behind more than a tick of data is skipped, not queued:
        // the next one is newer.
        if (!m_pacer.videoAllowed()) {
            const int n = m_.video.getFrameNum();
            if (m_.video.hasFrame() && n != m_lastFrameTaken && n != m_lastFrameSkipped) {
                m_lastFrameSkipped = n;
                m_.stats.addFrameSkipped();
            }
            return;
        }
        fetchFrame();
        if (!m_frame.isEmpty())
            sendVideoFrame();
    }
}

void MediaSession::onCameraFrame()
{
    // A call in today's formats codes every frame the camera gives, not one a tick: the
    // picture moves at the camera's rate as far as the path carries it.
    if (!m_currentFormats || m_.calls.status().callState != CallState::InCall || !m_.capture.isRunning()
        || !m_.capture.isReady())
        return;
    sendFramePackets();
    if (!m_pacer.videoAllowed() || !m_framePackets.empty()) {
        m_.stats.addFrameSkipped();
        return;
    }
    if (m_.video.isSharpSharing()) {
        const qint64 now = m_linkClock.elapsed();
        if (m_lastSharpFrameMs >= 0 && now - m_lastSharpFrameMs < SharpScreenFrameMs)
            return;
        m_lastSharpFrameMs = now;
    }
    fetchFrame();
    if (!m_frame.isEmpty())
        sendVideoFrame();
}

bool MediaSession::wantsTicks() const
{
    return m_.calls.status().callState != CallState::Idle || m_animationFrame != 0;
}

int MediaSession::sendMediaPacket(const QByteArray &packet)
{
    if (packet.isEmpty())
        return 0;
    qint64 sent = 0;
    if (m_.ipdMedia.isConnected(1)) {
        m_.ipdMedia.sendData(1, packet);
        sent = m_.ipdMedia.sentCount(1);
    } else if (m_.ippClient.isConnected()) {
        m_.ippClient.sendData(packet);
        sent = m_.ippClient.sentCount();
    }
    m_.stats.addBytesSent(sent);
    // Today's formats send between ticks too: the pacer learns when.
    m_pacer.sent(sent, m_currentFormats ? m_linkClock.elapsed() : -1);
    m_fit.sent(sent);
    return int(std::min<qint64>(sent, std::numeric_limits<int>::max()));
}

QByteArray MediaSession::textPacket(const QByteArray &line) const
{
    QByteArray body = line;
    if (body.contains(Terminator)) {
        body.replace(Terminator, BrokenTerminator);
        body = Fields::utf8Left(body, OutgoingTextQueue::MaxLineBytes);
    }
    return MediaPacket::build(MediaPacket::TextKind, body);
}

bool MediaSession::queueText(const QByteArray &line)
{
    if (m_.textQueue.push(line))
        return true;
    emit textRefused(tr("The text was not sent: %1 lines are still waiting to go out. "
                        "Please send it again in a moment.")
                         .arg(OutgoingTextQueue::Entries - 1));
    return false;
}

qint64 MediaSession::queuedSoundSamples() const
{
    qint64 samples = 0;
    for (int i = 1; i <= m_.audioPlayQueue.audioPlayCount(); ++i)
        samples += std::clamp<qint32>(m_.audioPlayQueue.block(i).count, 0, AudioBlock::DataBytes) / int(sizeof(qint16));
    return samples;
}

void MediaSession::playAudioQueue()
{
    AudioPlayQueue &queue = m_.audioPlayQueue;
    if (queue.audioPlayCount() == 0)
        return;
    AudioControl &speaker = m_.audioControl;
    speaker.startSpeaker();
    const auto samplesOf = [&queue](int entry) {
        return std::clamp<qint32>(queue.block(entry).count, 0, AudioBlock::DataBytes) / int(sizeof(qint16));
    };
    // A call's sound is live. After a stall on the link the talker's blocks arrive in a
    // burst, and playing them all would keep the conversation that far behind for as long
    // as the talk goes on; past a limit the oldest of them are left out, down to the lead
    // a call starts with.
    const qint64 scale = m_.audio.sampleRate() / AudioEngine::SampleRate;
    int first = 1;
    qint64 backlog = speaker.speakerBacklog();
    for (int i = 1; i <= queue.audioPlayCount(); ++i)
        backlog += samplesOf(i);
    if (backlog > MaxSpeakerBacklogSamples * scale) {
        while (first < queue.audioPlayCount() && backlog > SpeakerLeadSamples * scale)
            backlog -= samplesOf(first++);
    }
    for (int i = first; i <= queue.audioPlayCount(); ++i)
        speaker.play(reinterpret_cast<const qint16 *>(queue.block(i).data.data()), samplesOf(i));
    if (speaker.isSpeakerPlaying())
        queue.clear();
}

void MediaSession::fetchFrame()
{
    m_frame = {};
    if (!m_.capture.isReady())
        return;
    const int n = m_.video.getFrameNum();
    if (n == m_lastFrameTaken || !m_.video.hasFrame())
        return;
    m_lastFrameTaken = n;
    int width = 0;
    int height = 0;
    Settings &s = m_.settings;
    // Today's formats take any camera's frame as it is; JPEG only planar ones.
    if (!s.SendImageMsg && (m_currentFormats || m_.video.latestIsPlanar())
        && m_.video.getVideoSettings(&width, &height)) {
        // A screen shared at its own size goes at that size.
        const bool ownSize = m_.video.isSharpSharing() && !m_.video.latestSize().isEmpty();
        // Compressed later straight from the camera's planes; taken as RGB only if it must be scaled.
        m_frame = OutgoingFrame::fromCamera(ownSize ? m_.video.latestSize() : QSize(width, height));
        m_unusableFrames = 0;
        return;
    }
    m_frame = OutgoingFrame::fromPicture(m_.video.latestPicture());

    if (s.SendImageMsg && !m_frame.isEmpty()) {
        // The message is rendered once per text, not once per frame.
        if (m_imageMessageText != s.ImageMsg || m_imageMessage.isNull()) {
            m_imageMessageText = s.ImageMsg;
            m_imageMessage = VideoEngine::textPicture(s.ImageMsg);
        }
        const QPoint at((m_frame.size.width() - m_imageMessage.width()) / 2, 0);
        if (m_imageMessage.isNull() || !VideoEngine::burnPicture(m_frame.picture, m_imageMessage, at)) {
            s.SendImageMsg = false;
            s.ImageMsg = QStringLiteral("Previous message too long");
        }
    }
    countUsable();
}

void MediaSession::countUsable()
{
    // A corrupt frame now and then (a damaged compressed frame from a camera) is skipped;
    // a format that never gives a usable frame stops capture with the message.
    m_unusableFrames = m_frame.isEmpty() ? m_unusableFrames + 1 : 0;
    if (m_unusableFrames >= UnusableFramesForFormatMessage) {
        m_unusableFrames = 0;
        emit unsupportedCaptureFormat();
    }
}

QImage MediaSession::fetchedPicture()
{
    takeFrameFromCamera();
    return m_frame.picture;
}

void MediaSession::takeFrameFromCamera()
{
    if (!m_frame.inCamera)
        return;
    m_frame = OutgoingFrame::fromPicture(m_.video.latestPicture());
    countUsable();
}

void MediaSession::scaleFrame(QSize size)
{
    takeFrameFromCamera();
    m_frame = OutgoingFrame::fromPicture(VideoEngine::scaledPicture(m_frame.picture, size));
}

void MediaSession::sendVideoFrame()
{
    if (m_currentFormats) {
        sendVp8Frame();
        return;
    }
    int quality = m_.settings.VQualityLow ? 15 : 30;
    if (m_frame.size == QSize(640, 480)) {
        if (m_.calls.status().PeerIsV25)
            quality -= 3;
        else
            scaleFrame(QSize(320, 240));
    }
    if (VideoEngine::captureSizes().contains(m_frame.size)) {
        // What the link carries decides how much of the options' picture goes.
        const PictureFit::Picture picture = m_fit.picture({quality, m_frame.size.width(), m_frame.size.height()});
        if (picture.width != m_frame.size.width())
            scaleFrame(QSize(picture.width, picture.height));
        QByteArray jpeg;
        if (m_frame.inCamera)
            jpeg = m_.video.compressLatest(picture.quality, MaxFrameLength);
        if (jpeg.isEmpty()) {
            takeFrameFromCamera();
            jpeg = m_.video.compressPicture(m_frame.picture, picture.quality, MaxFrameLength);
        }
        if (!jpeg.isEmpty()) {
            const QByteArray packet = MediaPacket::build(MediaPacket::VideoKind, jpeg);
            // A frame the connection does not take is dropped: the next one is newer.
            const int sent = sendMediaPacket(packet);
            if (sent > 0) {
                m_.stats.addFrameSent();
                m_fit.frameSent(sent);
                showSentPicture(picture);
            }
        }
    }
    m_frame = {};
}

void MediaSession::sendVp8Frame()
{
    const qint64 now = m_linkClock.elapsed();
    // Over datagrams the sound and the reports take what they were seen to take.
    const int videoBps = sendsOverDatagrams()
                             ? m_rate.pictureBps(SoundShareBps + RtcpShareBps)
                             : std::max(VideoRateControl::MinBps, m_rate.targetBps() - SoundShareBps);
    // A screen keeps its size, and its text, on a poor line; it loses frames instead.
    const bool screen = m_frame.inCamera && m_.video.isSharpSharing();
    const QSize size = screen ? m_frame.size : m_rate.pictureFor(m_frame.size, videoBps);
    bool ok = m_frame.inCamera && m_.video.latestYuv(size, m_yuv);
    if (!ok) {
        // The picture with the image message burnt in (or a frame the camera no longer holds).
        scaleFrame(size);
        ok = !m_frame.isEmpty() && FrameConverter::rgbToYuvPicture(m_frame.picture, m_yuv);
    }
    m_frame = {};
    if (!ok || !m_vp8)
        return;
    m_vp8->setScreenContent(screen);
    // Only datagrams lose frames; over the connection every frame arrives.
    m_vp8->setLayered(sendsOverDatagrams());
    m_vp8->setBitrate(m_rate.encoderBps(videoBps) / 1000);
    if (m_keyFrameWaitMs > 0 && (m_lastKeyFrameMs < 0 || now - m_lastKeyFrameMs >= m_keyFrameWaitMs)) {
        m_keyFrameWaitMs = 0;
        m_vp8->requestKeyFrame();
    }
    const Vp8Encoder::Frame frame = m_vp8->encode(m_yuv, now);
    if (!screen)
        m_rate.pictureCoded(frame.quantizer);
    // The encoder leaves a frame out when the rate falls short.
    if (frame.data.isEmpty())
        return;
    if (sendsOverDatagrams()) {
        m_datagrams->sendVideo(frame.data, frame.droppable);
        m_.stats.addBytesSent(frame.data.size());
    } else {
        const QList<QByteArray> packets = CodedMediaPacket::buildVp8Frame(frame.data);
        if (packets.size() == 1 && sendMediaPacket(packets.first()) <= 0) {
            // The peer would miss the frame the next one builds on.
            m_vp8->requestKeyFrame();
            return;
        }
        if (packets.size() > 1) {
            m_framePackets.assign(packets.begin(), packets.end());
            sendFramePackets();
        }
    }
    if (frame.key) {
        m_lastKeyFrameMs = now;
        ++m_keyFramesSent;
    }
    m_.stats.addFrameSent();
    showSentPicture({0, m_yuv.width, m_yuv.height});
    showCodecs(m_yuv.size());
}

void MediaSession::sendFramePackets()
{
    while (!m_framePackets.empty() && m_pacer.videoAllowed() && sendMediaPacket(m_framePackets.front()) > 0)
        m_framePackets.pop_front();
}

// ---- The receive path -------------------------------------------------------------------

void MediaSession::receiveMediaData(const QByteArray &text, bool eol)
{
    m_.stats.addBytesReceived(text.size());
    if (!eol)
        return;
    // The header is read by position only; a length the data does not cover drops the packet.
    const MediaPacket::Received packet = MediaPacket::parse(text);
    switch (packet.kind) {
    case MediaPacket::Kind::Video:
        receiveVideo(packet.body);
        break;
    case MediaPacket::Kind::Audio:
        if (packet.body.size() <= MaxSoundOrTextBytes)
            receiveSound(packet.body);
        break;
    case MediaPacket::Kind::Text:
        if (packet.body.size() <= MaxSoundOrTextBytes)
            emit textReceived(Fields::fromWire(packet.body));
        break;
    case MediaPacket::Kind::Unknown:
        // Only a call that agreed on today's formats reads their packets.
        if (m_currentFormats)
            receiveCoded(text);
        break;
    }
}

void MediaSession::receiveCoded(const QByteArray &text)
{
    const CodedMediaPacket::Received packet = CodedMediaPacket::parse(text);
    switch (packet.kind) {
    case CodedMediaPacket::Kind::Vp8Part:
        m_vp8Parts.addPart(packet.payload);
        break;
    case CodedMediaPacket::Kind::Vp8: {
        const QByteArray frame = m_vp8Parts.finish(packet.payload);
        // The peer has moved its picture to datagrams: this one was overtaken.
        if (m_datagramPictureCame)
            break;
        if (frame.isEmpty())
            askForKeyFrame();
        else
            receiveVp8(frame);
        break;
    }
    case CodedMediaPacket::Kind::Opus:
        // The same sound comes over datagrams, repaired there; this copy is not played twice.
        if (!(m_datagrams && m_datagrams->receivesSound()))
            receiveOpus(packet.payload);
        break;
    case CodedMediaPacket::Kind::DatagramOffer:
    case CodedMediaPacket::Kind::DatagramArrived:
    case CodedMediaPacket::Kind::DatagramStopped:
        takeDatagramPacket(packet.kind, packet.payload);
        break;
    case CodedMediaPacket::Kind::KeyFrameRequest:
        // However many come, the next key frame waits for its interval.
        m_keyFrameWaitMs = KeyFrameIntervalMs;
        break;
    case CodedMediaPacket::Kind::Unknown:
        break;
    }
}

void MediaSession::receiveVp8(const QByteArray &frame)
{
    const QImage picture = m_.video.drawVp8Frame(frame);
    if (picture.isNull()) {
        if (m_.video.vp8KeyFrameNeeded())
            askForKeyFrame();
        return;
    }
    pictureDrawn(picture.size());
}

// A received picture is drawn, whatever its format: the view follows its size.
void MediaSession::pictureDrawn(QSize size)
{
    // A shared screen's picture is shown fitted until the window is made larger.
    QSize shown = size;
    if (size.width() > MaxDisplayWidth || size.height() > MaxDisplayHeight)
        shown.scale(MaxDisplayWidth, MaxDisplayHeight, Qt::KeepAspectRatio);
    if (shown.width() > 0 && (shown.width() != m_displayWidth || shown.height() != m_displayHeight))
        setDisplaySize(shown.width(), shown.height());
    m_.stats.addFrameReceived();
}

void MediaSession::askForKeyFrame()
{
    const qint64 now = m_linkClock.elapsed();
    if (m_lastKeyAskMs >= 0 && now - m_lastKeyAskMs < KeyFrameAskMs)
        return;
    if (sendMediaPacket(CodedMediaPacket::build(CodedMediaPacket::Kind::KeyFrameRequest, "1")) > 0) {
        m_lastKeyAskMs = now;
        ++m_keyFramesAsked;
    }
}

void MediaSession::receiveOpus(const QByteArray &packet, int lostSamples)
{
    if (!m_opus || !m_downsampler)
        return;
    std::vector<float> samples;
    std::array<qint16, OpusVoiceDecoder::MaxSamples> wide{};
    // A lost stretch is filled a frame at a time: the last frame from this packet's repair
    // data, the ones before by the decoder's concealment.
    for (int left = lostSamples; left > 0; left -= OpusVoiceEncoder::FrameSamples) {
        const int n = m_opus->recover(packet, std::min(left, OpusVoiceEncoder::FrameSamples), wide.data(),
                                      int(wide.size()));
        samples.insert(samples.end(), wide.begin(), wide.begin() + std::max(n, 0));
    }
    const int n = m_opus->decode(packet, wide.data(), int(wide.size()));
    if (n > 0)
        samples.insert(samples.end(), wide.begin(), wide.begin() + n);
    if (samples.empty())
        return;
    // To the speaker's rate (the same as the coder's when the devices are wide).
    m_lowered.clear();
    m_downsampler->process(samples.data(), int(samples.size()), m_lowered);
    queueForSpeaker(m_lowered);
}

void MediaSession::receiveVideo(const QByteArray &body)
{
    const QImage picture = m_.video.drawFrame(body);
    if (picture.isNull())
        return;
    pictureDrawn(picture.size());
    // The calling side keeps the last frame's length for the zoom menu's Small item.
    if (m_.ippClient.isConnected())
        m_.calls.videoReceived(int(body.size()));
}

void MediaSession::receiveSound(const QByteArray &body)
{
    std::array<qint16, BlockSampleRoom> samples{};
    const int n = m_.audio.unCompressAudioGSM(reinterpret_cast<const uchar *>(body.constData()), int(body.size()),
                                              samples.data(), int(samples.size()));
    if (n <= 0)
        return;
    if (m_.audio.sampleRate() == AudioEngine::SampleRate) {
        m_.audioPlayQueue.push(
            QByteArrayView(reinterpret_cast<const char *>(samples.data()), qsizetype(n) * qsizetype(sizeof(qint16))));
        return;
    }
    // GSM in a call whose speaker plays at the wide rate.
    if (!m_gsmRaiser || m_gsmRaiser->outputRate() != m_.audio.sampleRate())
        m_gsmRaiser = std::make_unique<Resampler>(AudioEngine::SampleRate, m_.audio.sampleRate());
    const std::vector<float> narrow(samples.begin(), samples.begin() + n);
    m_lowered.clear();
    m_gsmRaiser->process(narrow.data(), n, m_lowered);
    queueForSpeaker(m_lowered);
}

void MediaSession::queueForSpeaker(const std::vector<float> &samples)
{
    // A play queue entry holds BlockSampleRoom samples; a longer stretch takes several.
    std::array<qint16, BlockSampleRoom> entry{};
    for (size_t at = 0; at < samples.size(); at += BlockSampleRoom) {
        const int count = int(std::min<size_t>(BlockSampleRoom, samples.size() - at));
        for (int i = 0; i < count; ++i)
            entry[size_t(i)] = qint16(std::clamp(std::lround(samples[at + size_t(i)]), -32768L, 32767L));
        m_.audioPlayQueue.push(
            QByteArrayView(reinterpret_cast<const char *>(entry.data()), qsizetype(count) * qsizetype(sizeof(qint16))));
    }
}

// ---- Call start and end -----------------------------------------------------------------

void MediaSession::onMediaRequest(const QString &remoteAddress, bool *accept)
{
    // Only the caller this program has just accepted may open the media channel, once.
    const bool allowed = m_.calls.isAcceptedCaller(remoteAddress) && m_.ipdMedia.connectionIds().isEmpty()
                         && !m_.ippClient.isConnected();
    if (!allowed) {
        *accept = false;
        return;
    }
    *accept = true;
    m_.calls.mediaStateChanged(CallState::Accepting);
    m_.ipdMedia.setInputBufferSize(MediaInputBufferSize);
    m_.ipdMedia.setOutputBufferSize(MediaOutputBufferSize);
}

void MediaSession::onListenerConnected(int connectionId, int statusCode)
{
    if (connectionId != 1) {
        m_.ipdMedia.closeConnection(connectionId);
        return;
    }
    if (statusCode != 0) {
        if (m_.ippControl.isConnected())
            m_.ippControl.setConnected(false);
        return;
    }
    m_.ipdMedia.setLineEnd(1, Terminator);
    startCall();
}

void MediaSession::onClientConnected(int statusCode)
{
    if (statusCode != 0) {
        m_.ippControl.setConnected(false);
        m_.calls.mediaConnectFailed();
        return;
    }
    openChatClient();
    m_.callClock.tickCallClock(0);
    showCallClock();
    m_.logLine(QStringLiteral("Placed call to ") + m_.ippClient.remoteAddress());
    startCall();
}

ChannelSecurity MediaSession::mediaSecurity() const
{
    return m_.ipdMedia.isConnected(1) ? m_.ipdMedia.security(1) : m_.ippClient.security();
}

void MediaSession::startCall()
{
    const ChannelSecurity security = mediaSecurity();
    m_currentFormats = security.encrypted() && security.currentFormats;
    m_rate.reset();
    m_keyFrameWaitMs = 0;
    m_lastKeyFrameMs = -1;
    m_lastKeyAskMs = -1;
    m_keyFramesSent = 0;
    m_keyFramesAsked = 0;
    m_vp8Parts.reset();
    m_framePackets.clear();
    m_lastSharpFrameMs = -1;
    m_.video.setSharpSharing(m_currentFormats);
    if (m_currentFormats) {
        m_vp8 = std::make_unique<Vp8Encoder>(VideoRateControl::StartBps / 1000);
        m_opus = std::make_unique<OpusVoiceDecoder>();
        m_.logLine(QStringLiteral("The call uses VP8 pictures and Opus sound"));
    }
    // Switches the devices' rate too.
    m_.audioControl.setOpusCoding(m_currentFormats);
    if (m_currentFormats)
        m_downsampler = std::make_unique<Resampler>(OpusVoiceDecoder::SampleRate, m_.audio.sampleRate());
    showCodecs({});
    if (m_currentFormats && security.datagrams && m_datagramsAllowed)
        startDatagrams();
    // Both sides start from empty queues, so the welcome text is the first line each way.
    m_.audioSendQueue.reset();
    m_.textQueue.reset();
    emit inCallChanged(true);
    emit chatCaptionChanged(tr("Text Chat - ") + m_.calls.status().PeerName);
    emit directoryHideRequested();
    queueWelcome();
    // The call's first second starts now, even when no tick ran before the call.
    m_secondMark = markAfter(m_.clock.now(), 1);
    m_pacer.reset();
    m_fit.reset();
    m_.calls.mediaStateChanged(CallState::InCall);
}

void MediaSession::queueWelcome()
{
    const Settings &s = m_.settings;
    if (s.SendWelcome)
        queueText(Fields::toWire(s.WelcomeMsg));
}

void MediaSession::openChatClient()
{
    emit chatConnectionWanted(m_.ippControl.remoteAddress(),
                              Fields::validPort(PortPlan::port(m_.ippControl.remotePort(), PeerChannel::Chat)));
}

void MediaSession::onListenerDisconnected(int connectionId)
{
    if (connectionId != 1)
        return;
    endCall(m_.ipdMedia.remoteAddress(1));
}

void MediaSession::onClientDisconnected()
{
    endCall(m_.ippClient.remoteAddress());
}

void MediaSession::endCall(const QString &peerAddress)
{
    if (m_.audioControl.soundIdle())
        m_.sounds.play(DisconnectSound);
    emit inCallChanged(false);
    emit chatCaptionChanged(tr("Text Chat"));
    m_.calls.mediaStateChanged(CallState::Idle);
    m_.callClock.tickCallClock(0);
    showCallClock();
    resetMediaState();
    m_.logLine(QStringLiteral("Disconnected from ") + peerAddress);
}

void MediaSession::resetMediaState()
{
    m_.textQueue.reset();
    m_.audioSendQueue.reset();
    // Sound of this call that was never played must not open the next one.
    m_.audioPlayQueue.clear();
    m_.calls.mediaEnded();
    m_currentFormats = false;
    m_datagrams.reset();
    m_datagramPictureCame = false;
    m_.video.setSharpSharing(false);
    m_vp8Parts.reset();
    m_framePackets.clear();
    m_vp8.reset();
    m_opus.reset();
    m_downsampler.reset();
    m_gsmRaiser.reset();
    m_.audioControl.setOpusCoding(false);
    showCodecs({});
    m_.stats.reset();
    showStreamRates();
    showSentPicture({});
    m_.video.flushEvents();
    emit connectionEnded();
    if (m_windowNormal())
        setDisplaySize(DefaultDisplayWidth, DefaultDisplayHeight);
}

bool MediaSession::sendsOverDatagrams() const
{
    return m_datagrams && m_datagrams->sendsOverDatagrams();
}

DatagramSession::WireBytes MediaSession::datagramBytesSent() const
{
    return m_datagrams ? m_datagrams->wireBytesSent() : DatagramSession::WireBytes{};
}

void MediaSession::startDatagrams()
{
    const QString peer = m_.ipdMedia.isConnected(1) ? m_.ipdMedia.remoteAddress(1) : m_.ippClient.remoteAddress();
    auto link = std::make_unique<DatagramLink>(QHostAddress(peer), *m_datagramModule);
    const QByteArray offer = link->offer();
    // Without its module this side offers nothing: the peer's offer goes unanswered, as on a
    // line that carries no datagrams.
    if (!link->problem().isEmpty())
        m_.logLine(withoutDatagrams(link->problem()));
    if (offer.isEmpty() || sendMediaPacket(CodedMediaPacket::build(CodedMediaPacket::Kind::DatagramOffer, offer)) <= 0)
        return;
    m_datagrams = std::move(link);
    DatagramLink *d = m_datagrams.get();
    connect(d, &DatagramLink::acknowledgementWanted, this, [this] {
        sendMediaPacket(CodedMediaPacket::build(CodedMediaPacket::Kind::DatagramArrived, "1"));
    });
    connect(d, &DatagramLink::switched, this, [this] {
        // The picture starts afresh there: nothing of it depends on what went before.
        if (m_vp8)
            m_vp8->requestKeyFrame();
        m_rate.startOverDatagrams();
        m_.audioControl.setExpectedLoss(ExpectedDatagramLossPercent);
        m_.logLine(QStringLiteral("Picture and sound go over encrypted datagrams"));
    });
    connect(d, &DatagramLink::fellBack, this, [this](bool toldByPeer) {
        // The peer's picture comes over the channel again, and ours starts afresh there.
        m_datagramPictureCame = false;
        if (m_vp8)
            m_vp8->requestKeyFrame();
        if (toldByPeer) {
            m_.logLine(QStringLiteral("The other side stopped getting datagrams: picture and sound go back to the connection"));
            return;
        }
        // The peer may still hear ours: it would go on sending where nothing arrives.
        sendMediaPacket(CodedMediaPacket::build(CodedMediaPacket::Kind::DatagramStopped, "1"));
        m_.logLine(QStringLiteral("Datagrams stopped: picture and sound go back to the connection"));
    });
    connect(d, &DatagramLink::probeFailed, this,
            [this] { m_.logLine(QStringLiteral("No datagrams get through: picture and sound stay on the connection")); });
    connect(d, &DatagramLink::videoReceived, this, [this](const QByteArray &frame) {
        m_datagramPictureCame = true;
        m_.stats.addBytesReceived(frame.size());
        receiveVp8(frame);
    });
    connect(d, &DatagramLink::soundReceived, this,
            [this](const QByteArray &packet, int lost) { receiveOpus(packet, lost); });
    // The peer's picture could not be repaired: a key frame, within DatagramKeyFrameIntervalMs
    // of the last (a request over the channel, already waiting, keeps its slower pace).
    connect(d, &DatagramLink::keyFrameWanted, this, [this] {
        if (m_keyFrameWaitMs == 0)
            m_keyFrameWaitMs = DatagramKeyFrameIntervalMs;
    });
}

void MediaSession::takeDatagramPacket(CodedMediaPacket::Kind kind, const QByteArray &payload)
{
    if (!m_datagrams)
        return;
    if (kind == CodedMediaPacket::Kind::DatagramOffer) {
        // A session that cannot be made leaves the call on the connection; this side sends
        // no datagrams, so the peer's probe finds no answer.
        if (!m_datagrams->takeOffer(payload) && !m_datagrams->problem().isEmpty()) {
            m_.logLine(withoutDatagrams(m_datagrams->problem()));
            m_datagrams.reset();
        }
    } else if (kind == CodedMediaPacket::Kind::DatagramArrived) {
        m_datagrams->takeAcknowledgement();
    } else {
        m_datagrams->takePeerStopped();
    }
}

void MediaSession::showCallClock()
{
    emit callClockChanged(m_.callClock.callMinutes(), m_.callClock.callSeconds());
}

void MediaSession::showSentPicture(const PictureFit::Picture &picture)
{
    if (picture == m_sentPicture)
        return;
    m_sentPicture = picture;
    emit sentPictureChanged(picture.quality, picture.width, picture.height);
}

void MediaSession::showStreamRates()
{
    emit streamRatesChanged(m_.stats.fpsInText(), m_.stats.fpsOutText(), m_.stats.throughputInText(),
                            m_.stats.throughputOutText());
    if (!m_currentFormats) {
        const bool inCall = m_.calls.status().callState == CallState::InCall;
        emit codecFiguresChanged(inCall ? QStringLiteral("JPEG, GSM") : QStringLiteral("-"), QStringLiteral("-"),
                                 QStringLiteral("-"));
        return;
    }
    const int lost = m_.video.vp8Failures() + (m_opus ? m_opus->failures() : 0);
    emit codecFiguresChanged(QStringLiteral("VP8, Opus"), QString::number(m_rate.targetBps() / 1000),
                             QString::number(lost));
}

void MediaSession::showCodecs(QSize picture)
{
    QString text;
    if (m_currentFormats) {
        text = picture.isEmpty() ? tr("VP8, Opus")
                                 : tr("VP8 %1×%2, Opus").arg(picture.width()).arg(picture.height());
    }
    if (text == m_codecText)
        return;
    m_codecText = text;
    emit codecsChanged(text);
}
