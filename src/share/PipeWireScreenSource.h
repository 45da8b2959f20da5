#pragma once

#include "media/picture/CameraDevice.h"
#include "share/ScreenFit.h"
#include "share/ScreenStream.h"

#include <QElapsedTimer>

#include <memory>

class QSocketNotifier;
class ScreenStreamModule;

// The stream of a screen or window the desktop handed over (through its portal) as a video
// source. The stream itself is the screen stream module's (PipeWire), made at the first
// start; its loop is run by the program's event loop, turned whenever its descriptor is
// ready, so every frame comes on the main thread. Frames are taken no faster than the
// call's rate (the rest go back unread) and fitted into the call's size; a stream that
// ends or fails, or a desktop's node that goes, ends the source (failed).
class PipeWireScreenSource : public CameraDevice, private ScreenStream::Events
{
    Q_OBJECT

public:
    // The largest picture taken from the desktop.
    static constexpr int MaxDimension = ScreenStream::MaxDimension;

    // Takes its own copy of the PipeWire connection's descriptor; the stream is made by
    // `module`, which outlives the source.
    PipeWireScreenSource(ScreenStreamModule &module, int pipeWireFd, quint32 node, int intervalMs,
                         QObject *parent = nullptr);
    ~PipeWireScreenSource() override;

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start() override;
    void stop() override;
    bool isActive() const override;

private:
    bool wantsPicture() override;
    void picture(const uchar *pixels, int width, int height, qint64 stride, bool redFirst) override;
    void ended(ScreenStream::Ending ending, const QString &detail) override;

    void turnLoop();
    void fail(const QString &reason);
    void release();

    ScreenStreamModule &m_module;
    int m_fd = -1;
    quint32 m_node = 0;
    int m_intervalMs;
    int m_format = -1;
    bool m_active = false;
    bool m_failed = false;
    std::unique_ptr<ScreenStream> m_stream;
    QSocketNotifier *m_notifier = nullptr;
    QElapsedTimer m_sinceFrame;
    ScreenFit m_fit;
};
