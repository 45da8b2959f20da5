#pragma once

#include "media/picture/CameraFormat.h"
#include "media/picture/Vp8Decoder.h"
#include "media/picture/FrameConverter.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QVideoFrame>
#include <QVideoSink>

#include <memory>
#include <vector>

class CameraDevice;
class CaptureProfile;
class DeviceProvider;
class VideoCodec;
struct YuvPicture;

// Capture, still and frame coding, and decoding of received video frames. Cameras come
// from a device provider; their frames arrive in videoSink() and are kept, converted on
// demand to 24-bit RGB at the capture size, as the latest frame. Received video frames
// are decoded into the incoming picture and announced with frameDrawn; the window that
// shows them paints that picture.
class VideoEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int FrameNumberModulo = 4096;
    // Capture choices per driver are kept in profileDir/capture.ini (an empty profileDir
    // keeps them in memory only).
    VideoEngine(std::shared_ptr<DeviceProvider> devices, const QString &profileDir, QObject *parent = nullptr);
    ~VideoEngine() override;

    static QString profileFileName();
    // The sizes captured frames are sent at.
    static QList<QSize> captureSizes();

    bool initialize();
    void terminate();
    void setCompType(int type);
    int compType() const { return m_compType; }
    // Forgets the last received frame (the end of a connection).
    void flushEvents();

    // Decodes a received video frame (a packet's body) into the incoming picture, announces
    // it with frameDrawn and returns it. Null, with the incoming picture as it was, for a
    // body that is not a picture of one of captureSizes().
    QImage drawFrame(QByteArrayView body);
    // Decodes a peer's VP8 frame the same way; the decoder refuses pictures beyond
    // MaxSharedSize. Null when the frame gives no picture; after one that does not decode,
    // the decoder waits for a key frame (vp8KeyFrameNeeded).
    QImage drawVp8Frame(QByteArrayView frame);
    bool vp8KeyFrameNeeded() const { return m_vp8.keyFrameNeeded(); }
    // VP8 frames of this call that could not be drawn.
    int vp8Failures() const { return m_vp8.failures(); }
    QImage incomingImage() const { return m_incoming; }

    // Still and frame coding on 24-bit RGB pictures (QImage::Format_RGB888); see VideoCodec.
    // A JPEG of the picture of at most maxLength bytes; empty when none can be made.
    QByteArray compressPicture(const QImage &picture, int quality, int maxLength);
    // A JPEG decoded to 24-bit RGB; null when it does not decode, is larger than 640 x 480
    // or, with `expect` given, has another size.
    QImage decodeStill(QByteArrayView jpeg, QSize expect = {});
    // The picture at another size, by the codec's own scaling; null for a null picture.
    static QImage scaledPicture(const QImage &picture, QSize size);
    // A line of text as a picture of its own size (white on black); null when it is too long.
    static QImage textPicture(const QString &text);
    // Burns `image` into `frame` at `at`; false when it does not lie wholly inside.
    static bool burnPicture(QImage &frame, const QImage &image, QPoint at);

    // Capture drivers: the provider's cameras, by index from 0.
    QStringList driverNames() const;
    int driverCount() const;
    // Selects a driver (disconnecting any other). False when there is no such driver.
    bool driverConnect(int index);
    QString driverGetName() const;
    int connectedDriver() const { return m_driverIndex; }
    void driverDisconnect();
    // Starts the connected camera. 0 on success, 1 without a connected driver, 2 when the
    // camera cannot be started. Failures found later are reported with captureFailed.
    int initCapture();
    bool isCaptureInitialized() const { return m_captureInitialized; }
    // Off: frames are not taken (the camera is stopped). On: taken again.
    void setCapStatus(bool on);
    bool capStatus() const { return m_capStatus; }
    void setCompOnFrame(bool on) { m_compOnFrame = on; }
    // Who needs the camera's pictures. A connected, started camera only runs while someone
    // does: out of a call with the self view closed it is stopped, and its light goes off.
    enum CameraUse { SelfViewUse = 1, CallUse = 2, MessageUse = 4 };
    void useCamera(CameraUse use, bool on);
    bool cameraWanted() const { return m_cameraUses != 0; }
    // The self view is shown (on) or hidden; a use of the camera.
    void preview(bool on);
    bool isPreviewing() const { return m_preview; }
    // Least interval between two self-view pictures in milliseconds; 0 sends every frame.
    void previewRate(int ms);
    // On: self-view pictures wider than 320 are halved to 320 x 240.
    void previewScale(bool on);
    // The capture size. False (and 0 x 0) when no driver is connected.
    bool getVideoSettings(int *width, int *height) const;
    void closeCapture();
    // Keeps the next frame; restarts delivery after a pause.
    void grabFrameNoStop();
    // Frames delivered so far, modulo 4096.
    int getFrameNum() const;
    // The latest frame as 24-bit RGB at the capture size; null when there is none or its
    // pixel format cannot be converted.
    QImage latestPicture();
    // The latest frame compressed straight from the camera's YUV planes, when the camera
    // gives YUV at the capture size; empty otherwise (the caller takes the RGB way).
    QByteArray compressLatest(int quality, int maxLength);
    // The latest frame as the VP8 coder takes it, at `size` (a capture size or a smaller
    // one): from the camera's own YUV when it gives that. False when there is none.
    bool latestYuv(QSize size, YuvPicture &out);
    // Whether compressLatest can take the latest frame.
    bool latestIsPlanar() const;
    // A frame has arrived since capture (re)started; a null latestPicture then means the frame
    // could not be used rather than that there is none yet.
    bool hasFrame() const;
    // Lets tests push frames of their own, as a camera delivers them.
    QVideoSink *videoSink();

    // A shared screen or window in the camera's place: its frames are taken, scaled, shown
    // and sent as the camera's would be, and the camera rests (its light off) until the
    // sharing ends. The source is started at the capture size; false (and the camera as
    // it was) when it cannot start. A source that fails ends the sharing with sharingEnded.
    bool shareSource(std::unique_ptr<CameraDevice> source);
    // Back to the camera; nothing when nothing is shared.
    void endSharing();
    bool isSharing() const { return m_shared != nullptr; }
    // Between two programs that code video, a shared screen goes at its own size, up to
    // MaxSharedSize, so that its text stays readable; otherwise it is fitted into the
    // capture size like a camera's picture. A running source restarts at the new size.
    static constexpr QSize MaxSharedSize = Vp8Decoder::MaxSize;
    void setSharpSharing(bool on);
    bool isSharpSharing() const { return m_shared != nullptr && m_sharpSharing; }
    // The latest frame's own size (empty when there is none).
    QSize latestSize() const { return m_latestFrame.isValid() ? m_latestFrame.size() : QSize(); }
    const CameraDevice *sharedSource() const { return m_shared.get(); }

    // Formats of the connected camera and the choice kept for it.
    QList<CameraFormat> driverFormats() const;
    // Index into driverFormats(), -1 when the engine picks one.
    int chosenFormat() const;
    // The format the camera actually uses (chosen or picked), -1 when there is none.
    int activeFormat() const;
    QSize captureSize() const { return m_captureSize; }
    // Keeps the choice for the connected driver and applies it (restarting a running
    // camera when the format changes). The size must be one of captureSizes(). Without a
    // connected driver only the capture size changes, for this run.
    bool setCaptureFormat(int formatIndex, QSize captureSize);
    bool previewMirror() const { return m_mirror; }
    void setPreviewMirror(bool on);

    // The format a camera should use for a capture size: the smallest that covers it at
    // 15 fps or more, preferring 4:3 and uncompressed pixels; -1 for an empty list.
    static int pickFormat(const QList<CameraFormat> &formats, QSize captureSize);

signals:
    // A received video frame was decoded into the incoming picture.
    void frameDrawn(const QImage &frame);
    // A picture for the self view (while previewing).
    void previewFrame(const QImage &frame);
    // The running camera failed (in use elsewhere, unplugged, ...).
    void captureFailed(const QString &reason);
    // A camera frame was kept as the latest frame.
    void frameArrived();
    // The self view was shown or hidden.
    void previewChanged(bool on);
    // The shared source stopped by itself (a window closed, the desktop ended the
    // session); the camera is back.
    void sharingEnded(const QString &reason);

private:
    VideoCodec &codec();
    void onFrame(const QVideoFrame &frame);
    void showPreview();
    void startCamera();
    void forgetLatestFrame();
    void saveChoice();
    void startShared();
    void releaseShared(bool now = false);
    void resumeCamera();

    std::shared_ptr<DeviceProvider> m_devices;
    std::unique_ptr<CaptureProfile> m_profile;
    std::unique_ptr<VideoCodec> m_codec;
    std::unique_ptr<CameraDevice> m_camera;
    // A shared screen in the camera's place.
    std::unique_ptr<CameraDevice> m_shared;
    bool m_sharpSharing = false;
    // Made only when asked for: the media framework's sink loads its whole back end.
    std::unique_ptr<QVideoSink> m_sink;
    int m_compType = 0;
    bool m_compOnFrame = false;

    // Receive side.
    Vp8Decoder m_vp8;
    QImage m_incoming;

    // Capture side.
    int m_driverIndex = -1;
    QString m_driverName;
    QList<CameraFormat> m_formats;
    int m_chosenFormat = -1;
    QSize m_captureSize;
    bool m_mirror = false;
    bool m_captureInitialized = false;
    bool m_capStatus = true;
    int m_cameraUses = 0;
    bool m_preview = false;
    bool m_previewScale = false;
    int m_previewRateMs = 0;
    QElapsedTimer m_previewClock;
    quint32 m_frameCount = 0;
    // The newest frame, and its converted picture once first asked for.
    QVideoFrame m_latestFrame;
    QImage m_latestImage;
    FrameConverter::Planes m_planes;
    bool m_latestConverted = false;
    bool m_frameSinceStart = false;
};
