#pragma once

#include "core/ChannelSecurity.h"
#include "media/CodedFrameParts.h"
#include "media/CodedMediaPacket.h"
#include "media/DatagramSession.h"
#include "media/LinkPacer.h"
#include "media/PictureFit.h"
#include "media/VideoRateControl.h"
#include "media/picture/OutgoingFrame.h"
#include "media/picture/YuvPicture.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class AudioControl;
class AudioEngine;
class AudioPlayQueue;
class AudioSendQueue;
class CallClock;
class CaptureControl;
class DatagramLink;
class DatagramModule;
class IPDaemon;
class IPPort;
class MediaClock;
class MediaStats;
class OpusVoiceDecoder;
class OutgoingTextQueue;
class Resampler;
class SoundPlayer;
class VideoEngine;
class Vp8Encoder;
class CallOwner;
struct Settings;

// The media channel of a call: the 75 ms send loop, the receive path of both media
// endpoints, and call start and end. It works on the program's endpoints, engines and
// queues, moves the call's media state, and tells the windows through its signals what to
// show.
class MediaSession : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // The call's state is CallControl's; the media channel reads it and reports its turns.
        CallOwner &calls;
        Settings &settings;
        IPDaemon &ipdControl;
        IPDaemon &ipdMedia;
        IPPort &ippControl;
        IPPort &ippClient;
        VideoEngine &video;
        AudioEngine &audio;
        // The microphone's step each tick and the speaker.
        AudioControl &audioControl;
        const CaptureControl &capture;
        SoundPlayer &sounds;
        const MediaClock &clock;
        MediaStats &stats;
        CallClock &callClock;
        OutgoingTextQueue &textQueue;
        AudioSendQueue &audioSendQueue;
        AudioPlayQueue &audioPlayQueue;
        std::function<void(const QString &)> logLine;
        // Where the datagram media module is looked for; empty: where the program's modules
        // are installed.
        QStringList datagramModuleFolders = {};
    };

    // The largest frame the sender produces plus its 8-byte header: a packet that size
    // must reach the receive path whole.
    static constexpr int MaxFrameLength = 40000;
    static constexpr int UnusableFramesForFormatMessage = 3;
    static constexpr int MediaInputBufferSize = MaxFrameLength + 8;
    static constexpr int MediaOutputBufferSize = 16384;
    // The longest sound or text body taken: a text line of the longest length the sender
    // queues. A longer one is dropped.
    static constexpr int MaxSoundOrTextBytes = 32000;
    static constexpr int DefaultDisplayWidth = 320;
    static constexpr int DefaultDisplayHeight = 240;
    // The main timer's interval.
    static constexpr int TickMs = 75;
    // The sound a call starts playing with (five 80 ms blocks at 8000 samples a second),
    // and the most that may wait in the speaker before a burst is trimmed back to it;
    // twice as many samples at the wide rate.
    static constexpr int SpeakerLeadSamples = 3200;
    static constexpr int MaxSpeakerBacklogSamples = 6400;
    // A call in today's formats: a sender makes at most one key frame in this time, however
    // often the peer asks; a receiver asks at most once in KeyFrameAskMs.
    static constexpr int KeyFrameIntervalMs = 1000;
    // Over datagrams, a picture the peer could not repair stands still until the key frame
    // comes: its request (RTCP's, which GStreamer's session already spaces out) is met
    // sooner, though still at most once in this time.
    static constexpr int DatagramKeyFrameIntervalMs = 300;
    static constexpr int KeyFrameAskMs = 500;
    // What the sound takes of the rate the path carries, framing included.
    static constexpr int SoundShareBps = 32000;
    // What RTCP's reports (every 100 ms, with the requests for lost packets) take of it on a
    // call over datagrams: with the sound's share, the guess until what they take is measured.
    static constexpr int RtcpShareBps = 10000;
    // What the Opus coder prepares for once sound goes over datagrams.
    static constexpr int ExpectedDatagramLossPercent = 5;
    // A screen shared at its own size goes at most one frame in this time: its text needs
    // the bits more than its movement does.
    static constexpr int SharpScreenFrameMs = 140;
    // A received picture larger than this is shown fitted into it until the window grows.
    static constexpr int MaxDisplayWidth = 640;
    static constexpr int MaxDisplayHeight = 480;

    MediaSession(Context context, QObject *parent = nullptr);
    ~MediaSession() override;

    // One tick of the main timer after the pending call: animation, speaker, capture
    // rate, sound capture, frame request, and in a call the clock, the rates and one text,
    // one sound block and one video frame.
    void tick();

    // Offers a packet to the media connection; the bytes it accepted, 0 when nothing went.
    int sendMediaPacket(const QByteArray &packet);
    // The data event of either media endpoint: one packet without its terminator. Video
    // goes to the video engine, sound through the audio engine to the play queue, text to
    // textReceived.
    void receiveMediaData(const QByteArray &text, bool eol);

    // Queues a line for the peer (cut to the longest line the queue keeps). False, with
    // textRefused, when the queue is full; the queued lines stay as they are.
    bool queueText(const QByteArray &line);

    // The size incoming video is shown at (zoom menu, a received frame of another width,
    // the end of a call).
    void setDisplaySize(int width, int height);
    int displayWidth() const { return m_displayWidth; }
    int displayHeight() const { return m_displayHeight; }

    // Whether the main window is in its normal state (not minimised or maximised); the
    // end of a call sets the display back only then. Normal unless told otherwise.
    void setWindowNormalQuery(std::function<bool()> isNormal);
    // Takes the camera's newest frame, if it is new, and reports a format that cannot be
    // sent. Each tick of a call does this before sending; resumed capture does it at once.
    void fetchFrame();
    // The frame fetchFrame took last, as it would be sent (null when none).
    QImage fetchedPicture();

    int activityFrame() const { return m_animationFrame; }
    // A call is being set up or under way, or the activity picture has not come to rest.
    bool wantsTicks() const;
    // The quality and size the last video frame of this call went at (zeros before one
    // went): the options' picture, or less when the link does not carry it.
    PictureFit::Picture sentPicture() const { return m_sentPicture; }
    // The call agreed on today's formats (VP8 pictures, Opus sound) in its encrypted media
    // channel's handshake; false out of a call and for the published formats.
    bool currentFormats() const { return m_currentFormats; }
    // What the path is estimated to carry now, bits a second (calls in today's formats).
    int rateEstimate() const { return m_rate.targetBps(); }
    // Key frames this call has made, and asked the peer for.
    int keyFramesSent() const { return m_keyFramesSent; }
    int keyFramesAsked() const { return m_keyFramesAsked; }
    // Picture and sound go to the peer over encrypted datagrams (a call that agreed on
    // them, on a line that carries them).
    bool sendsOverDatagrams() const;
    // What this call has put on the line as datagrams, and the picture's part of it (zeros
    // on the channel).
    DatagramSession::WireBytes datagramBytesSent() const;
    // Whether a call that agreed on datagrams offers them (from the next call on); on unless
    // turned off. Off, the peer gets no offer and both ends stay on the channel.
    void setDatagramsAllowed(bool allowed) { m_datagramsAllowed = allowed; }

signals:
    void activityFrameChanged(int frame);
    // Every 5 seconds, after the capture rate was worked out.
    void fiveSecondMark();
    void captureRateChanged(const QString &fps);
    void streamRatesChanged(const QString &fpsIn, const QString &fpsOut, const QString &throughputIn,
                            const QString &throughputOut);
    void callClockChanged(int minutes, int seconds);
    // The capture delivers frames in a format that cannot be sent.
    void unsupportedCaptureFormat();
    // Call start (true) and end (false): lamp, buttons, menu items, logo.
    void inCallChanged(bool inCall);
    void chatCaptionChanged(const QString &caption);
    void directoryHideRequested();
    void displaySizeChanged(int width, int height);
    // A text line from the peer.
    void textReceived(const QString &text);
    // The end of a call for the chat window: typing box emptied, the end noted.
    void connectionEnded();
    // The calling side's media is up: the chat connection goes to this host and port.
    void chatConnectionWanted(const QString &host, int port);
    // A line could not be queued; the text says why.
    void textRefused(const QString &message);
    // The quality or size video is sent at changed (all zero: no video is being sent).
    void sentPictureChanged(int quality, int width, int height);
    // The call's formats for beside the lock ("VP8 640×480, Opus"); empty for the
    // published formats and out of a call.
    void codecsChanged(const QString &text);
    // With the stream rates: the formats, the estimate of the path and what was lost.
    void codecFiguresChanged(const QString &codec, const QString &estimate, const QString &lost);

private:
    // A frame left in the camera's planes is taken out as RGB.
    void takeFrameFromCamera();
    // The fetched frame at another size (taken out of the camera first).
    void scaleFrame(QSize size);
    // Counts frames that could not be used, and gives up on a format that gives none.
    void countUsable();
    void playAudioQueue();
    void receiveVideo(const QByteArray &body);
    void receiveSound(const QByteArray &body);
    void sendVideoFrame();
    void onCameraFrame();
    // Today's formats: one VP8 frame of the fetched picture at what the path carries.
    void sendVp8Frame();
    void sendFramePackets();
    void receiveCoded(const QByteArray &text);
    void receiveVp8(const QByteArray &frame);
    void pictureDrawn(QSize size);
    // An Opus packet; `lostSamples` before it (datagrams) are filled in from its repair
    // data or the decoder's concealment.
    void receiveOpus(const QByteArray &packet, int lostSamples = 0);
    // The datagram path of a call that agreed on it: offered at the start, used once the
    // peer's acknowledgement came.
    void startDatagrams();
    void takeDatagramPacket(CodedMediaPacket::Kind kind, const QByteArray &payload);
    // Samples at the speaker's rate into the play queue, as many entries as they take.
    void queueForSpeaker(const std::vector<float> &samples);
    // Samples waiting in the play queue.
    qint64 queuedSoundSamples() const;
    void askForKeyFrame();
    ChannelSecurity mediaSecurity() const;
    void showCodecs(QSize picture);
    QByteArray textPacket(const QByteArray &line) const;

    void onMediaRequest(const QString &remoteAddress, bool *accept);
    void onListenerConnected(int connectionId, int statusCode);
    void onClientConnected(int statusCode);
    void onListenerDisconnected(int connectionId);
    void onClientDisconnected();
    void startCall();
    void endCall(const QString &peerAddress);
    void resetMediaState();
    void openChatClient();
    void queueWelcome();
    void showCallClock();
    void showStreamRates();
    void showSentPicture(const PictureFit::Picture &picture);

    Context m_;
    std::function<bool()> m_windowNormal;

    int m_displayWidth = DefaultDisplayWidth;
    int m_displayHeight = DefaultDisplayHeight;
    int m_animationFrame = 0;
    int m_animationDivider = 0;
    double m_secondMark = 0.0;

    // Sending video.
    OutgoingFrame m_frame;
    // The still-image message as last rendered, and the text it was rendered from.
    QString m_imageMessageText;
    QImage m_imageMessage;
    int m_lastFrameTaken = 0;
    int m_lastFrameSkipped = -1;
    // Frames in a row that could not be used; one bad frame is not a wrong format.
    int m_unusableFrames = 0;

    LinkPacer m_pacer;
    PictureFit m_fit;
    PictureFit::Picture m_sentPicture;
    QElapsedTimer m_linkClock;

    // Today's formats, for a call that agreed on them.
    bool m_currentFormats = false;
    std::unique_ptr<Vp8Encoder> m_vp8;
    std::unique_ptr<OpusVoiceDecoder> m_opus;
    // Opus's samples to the speaker's rate (the same at the wide rate), and a GSM block
    // raised to it.
    std::unique_ptr<Resampler> m_downsampler;
    std::vector<float> m_lowered;
    std::unique_ptr<Resampler> m_gsmRaiser;
    YuvPicture m_yuv;
    VideoRateControl m_rate;
    QString m_codecText;
    // The spacing the waiting key-frame request allows since the last key frame (by the way
    // it came); 0 while none waits.
    int m_keyFrameWaitMs = 0;
    qint64 m_lastKeyFrameMs = -1;
    qint64 m_lastKeyAskMs = -1;
    int m_keyFramesSent = 0;
    int m_keyFramesAsked = 0;
    CodedFrameParts m_vp8Parts;
    // The packets of a coded frame larger than one packet not yet sent: they go as the
    // link takes them, after the sound, and no new frame is coded before they are out.
    std::deque<QByteArray> m_framePackets;
    qint64 m_lastSharpFrameMs = -1;
    // What makes the datagram sessions, opened by the first call that agreed on them; it
    // outlives every link.
    std::unique_ptr<DatagramModule> m_datagramModule;
    // Picture and sound over datagrams, on a call that agreed on them.
    std::unique_ptr<DatagramLink> m_datagrams;
    // A picture came over datagrams: late copies over the channel are dropped.
    bool m_datagramPictureCame = false;
    bool m_datagramsAllowed = true;
};
