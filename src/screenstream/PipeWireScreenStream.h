#pragma once

#include "share/ScreenStream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/raw.h>

// The screen stream module's stream: PipeWire's own loop, turned by the owner's event loop
// (so every callback comes on the owner's thread and no thread of PipeWire's is needed),
// reading the desktop's node in 4-byte pixels from memory this process can map. Of the
// buffers that came since the last turn only the newest is offered; a stream that ends or
// fails, or a node that goes, is told once.
class PipeWireScreenStream : public ScreenStream
{
public:
    explicit PipeWireScreenStream(Events &events);
    ~PipeWireScreenStream() override;
    PipeWireScreenStream(const PipeWireScreenStream &) = delete;
    PipeWireScreenStream &operator=(const PipeWireScreenStream &) = delete;

    bool connect(int fd, quint32 node) override;
    int loopDescriptor() const override;
    void turn() override;

private:
    static void onStateChanged(void *data, enum pw_stream_state old, enum pw_stream_state state, const char *error);
    static void onParamChanged(void *data, uint32_t id, const struct spa_pod *param);
    static void onProcess(void *data);
    static void onCoreError(void *data, uint32_t id, int seq, int res, const char *message);
    static void onGlobalRemoved(void *data, uint32_t id);

    bool connectStream(int fd);
    void takeBuffer(struct pw_buffer *buffer);
    void end(Ending ending, const char *detail = nullptr);
    void release();

    Events &m_events;
    quint32 m_node = 0;
    bool m_ended = false;
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
};
