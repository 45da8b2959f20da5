#pragma once

#include "media/picture/CameraDevice.h"

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QVideoFrameFormat>

#include <memory>

class TexturedScene;

// A camera without hardware: a moving colour pattern at 20 frames a second (or the rate set). The top of
// every frame carries the frame number and a millisecond time stamp as large black and
// white cells, which survive JPEG coding at low quality and small sizes, so a receiver
// can count lost frames and measure latency (readStamp).
class TestPatternCamera : public CameraDevice
{
    Q_OBJECT

public:
    static constexpr int FramesPerSecond = 20;
    // The stamp is a grid of StampColumns x StampRows cells across the full width.
    static constexpr int StampColumns = 20;
    static constexpr int StampRows = 4;

    struct Stamp
    {
        bool valid = false;
        quint32 frameNumber = 0;
        // Low 32 bits of QDateTime::currentMSecsSinceEpoch() when the frame was made.
        quint32 msecs = 0;
    };

    explicit TestPatternCamera(QObject *parent = nullptr);
    ~TestPatternCamera() override;

    static QString deviceName();

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start() override;
    void stop() override;
    bool isActive() const override;

    quint32 framesMade() const { return m_frameNumber; }

    // The pixel layout frames come in: 32-bit BGRX (the default) or planar YUV 4:2:0 in
    // video range, as many cameras give. Takes effect with the next frame.
    void setPixelFormat(QVideoFrameFormat::PixelFormat format);
    QVideoFrameFormat::PixelFormat pixelFormat() const { return m_pixelFormat; }
    // What the frames show under the stamp: colour bars, which code small, or a textured
    // scene with sensor noise (TexturedScene), which codes as a real camera's picture does.
    enum class Scene { Bars, Textured };
    void setScene(Scene scene);
    Scene scene() const { return m_scene; }
    // Frames a second it delivers (1 to 60), as a camera of that rate would.
    void setFramesPerSecond(int fps);
    int framesPerSecond() const { return m_framesPerSecond; }

    // On demand, a started camera delivers a frame only when deliverFrame() is called, so a
    // test decides exactly when frames arrive.
    void setOnDemand(bool on);
    bool onDemand() const { return m_onDemand; }
    // Delivers the next frame now; nothing while the camera is stopped.
    void deliverFrame();

    // The picture of frame `frameNumber` at the given size (RGB32).
    static QImage renderFrame(quint32 frameNumber, quint32 msecs, QSize size);
    // The same picture painted into an RGB32 image of one of the pattern's sizes.
    static void paintFrame(QImage &image, quint32 frameNumber, quint32 msecs);
    // Paints only the stamp over the top of an RGB32 image.
    static void paintStamp(QImage &image, quint32 frameNumber, quint32 msecs);
    // Reads the stamp from a frame (any size at least 20 x 8 pixels, possibly coded and
    // decoded); valid is false when the cells do not carry a consistent stamp.
    static Stamp readStamp(const QImage &image);

private:
    void produce();

    QTimer m_timer;
    int m_format = -1;
    int m_framesPerSecond = FramesPerSecond;
    quint32 m_frameNumber = 0;
    bool m_active = false;
    bool m_onDemand = false;
    QVideoFrameFormat::PixelFormat m_pixelFormat = QVideoFrameFormat::Format_BGRX8888;
    Scene m_scene = Scene::Bars;
    // Made for the size being captured, when the scene is textured.
    std::unique_ptr<TexturedScene> m_textured;
    // The picture of a YUV frame before conversion, kept from frame to frame.
    QImage m_canvas;
};
