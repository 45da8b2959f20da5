#pragma once

#include "media/picture/CameraDevice.h"
#include "share/ScreenFit.h"

#include <QElapsedTimer>
#include <QSize>

#include <pipewire/pipewire.h>
#include <spa/param/video/raw.h>

class QSocketNotifier;

// The stream of a screen or window the desktop handed over (through its portal) as a video
// source. PipeWire's own loop is run by the program's event loop: its descriptor is
// watched and the loop turned once whenever it is ready, so every callback, and every
// frame, comes on the main thread and no thread of PipeWire's is needed. Frames are taken
// no faster than the call's rate (the rest go back unread) and fitted into the call's
// size; a stream that ends or fails, or a desktop's node that goes, ends the source
// (failed).
class PipeWireScreenSource : public CameraDevice
{
    Q_OBJECT

public:
    // The largest picture taken from the desktop.
    static constexpr int MaxDimension = 8192;

    // Takes its own copy of the PipeWire connection's descriptor.
    PipeWireScreenSource(int pipeWireFd, quint32 node, int intervalMs, QObject *parent = nullptr);
    ~PipeWireScreenSource() override;

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start() override;
    void stop() override;
    bool isActive() const override;

    // The size the desktop sends at (empty before it said).
    QSize streamSize() const { return QSize(int(m_info.size.width), int(m_info.size.height)); }

private:
    static void onStateChanged(void *data, enum pw_stream_state old, enum pw_stream_state state, const char *error);
    static void onParamChanged(void *data, uint32_t id, const struct spa_pod *param);
    static void onProcess(void *data);
    static void onCoreError(void *data, uint32_t id, int seq, int res, const char *message);
    static void onGlobalRemoved(void *data, uint32_t id);

    bool connectStream();
    void turnLoop();
    void takeBuffer(struct pw_buffer *buffer);
    void fail(const QString &reason);
    void release();

    int m_fd = -1;
    quint32 m_node = 0;
    int m_intervalMs;
    int m_format = -1;
    bool m_active = false;
    bool m_failed = false;
    struct pw_loop *m_loop = nullptr;
    struct pw_context *m_context = nullptr;
    struct pw_core *m_core = nullptr;
    struct pw_stream *m_stream = nullptr;
    // Watches for the desktop's node going: the reading stream itself only pauses then.
    struct pw_registry *m_registry = nullptr;
    struct spa_hook m_coreListener = {};
    struct spa_hook m_streamListener = {};
    struct spa_hook m_registryListener = {};
    struct pw_core_events m_coreEvents = {};
    struct pw_stream_events m_streamEvents = {};
    struct pw_registry_events m_registryEvents = {};
    struct spa_video_info_raw m_info = {};
    QSocketNotifier *m_notifier = nullptr;
    QElapsedTimer m_sinceFrame;
    ScreenFit m_fit;
};
