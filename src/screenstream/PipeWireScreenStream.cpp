#include "screenstream/PipeWireScreenStream.h"

#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <fcntl.h>

PipeWireScreenStream::PipeWireScreenStream(Events &events)
    : m_events(events)
{
    m_coreEvents.version = PW_VERSION_CORE_EVENTS;
    m_coreEvents.error = &PipeWireScreenStream::onCoreError;
    m_streamEvents.version = PW_VERSION_STREAM_EVENTS;
    m_streamEvents.state_changed = &PipeWireScreenStream::onStateChanged;
    m_streamEvents.param_changed = &PipeWireScreenStream::onParamChanged;
    m_streamEvents.process = &PipeWireScreenStream::onProcess;
    m_registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    m_registryEvents.global_remove = &PipeWireScreenStream::onGlobalRemoved;
}

PipeWireScreenStream::~PipeWireScreenStream()
{
    release();
}

bool PipeWireScreenStream::connect(int fd, quint32 node)
{
    if (m_stream)
        return true;
    m_node = node;
    if (!connectStream(fd)) {
        release();
        return false;
    }
    return true;
}

int PipeWireScreenStream::loopDescriptor() const
{
    return m_loop ? pw_loop_get_fd(m_loop) : -1;
}

bool PipeWireScreenStream::connectStream(int fd)
{
    if (fd < 0)
        return false;
    pw_init(nullptr, nullptr);
    m_loop = pw_loop_new(nullptr);
    if (!m_loop)
        return false;
    m_context = pw_context_new(m_loop, nullptr, 0);
    if (!m_context)
        return false;
    // The core takes the descriptor: it gets a copy of its own.
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    m_core = own >= 0 ? pw_context_connect_fd(m_context, own, nullptr, 0) : nullptr;
    if (!m_core)
        return false;
    pw_core_add_listener(m_core, &m_coreListener, &m_coreEvents, this);
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    if (!m_registry)
        return false;
    pw_registry_add_listener(m_registry, &m_registryListener, &m_registryEvents, this);
    m_stream = pw_stream_new(m_core, "ZELMO screen",
                             pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                               PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!m_stream)
        return false;
    pw_stream_add_listener(m_stream, &m_streamListener, &m_streamEvents, this);

    uint8_t buffer[1024];
    struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    struct spa_rectangle preferred = SPA_RECTANGLE(1920, 1080);
    struct spa_rectangle least = SPA_RECTANGLE(1, 1);
    struct spa_rectangle most = SPA_RECTANGLE(MaxDimension, MaxDimension);
    const struct spa_pod *params[1];
    params[0] = static_cast<const struct spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&preferred, &least, &most)));
    return pw_stream_connect(m_stream, PW_DIRECTION_INPUT, m_node,
                             static_cast<enum pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                             params, 1)
           >= 0;
}

void PipeWireScreenStream::turn()
{
    if (!m_loop)
        return;
    pw_loop_enter(m_loop);
    pw_loop_iterate(m_loop, 0);
    pw_loop_leave(m_loop);
}

void PipeWireScreenStream::onStateChanged(void *data, enum pw_stream_state, enum pw_stream_state state, const char *error)
{
    auto *self = static_cast<PipeWireScreenStream *>(data);
    if (state == PW_STREAM_STATE_ERROR)
        self->end(Ending::Failed, error);
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        self->end(Ending::Stopped);
}

void PipeWireScreenStream::onParamChanged(void *data, uint32_t id, const struct spa_pod *param)
{
    auto *self = static_cast<PipeWireScreenStream *>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    struct spa_video_info_raw info = {};
    if (spa_format_video_raw_parse(param, &info) < 0 || info.size.width == 0 || info.size.height == 0
        || info.size.width > MaxDimension || info.size.height > MaxDimension) {
        self->m_info = {};
        return;
    }
    self->m_info = info;
    // Buffers in memory this process can read, not on the graphics card.
    uint8_t buffer[256];
    struct spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const struct spa_pod *params[1];
    params[0] = static_cast<const struct spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    pw_stream_update_params(self->m_stream, params, 1);
}

void PipeWireScreenStream::onProcess(void *data)
{
    auto *self = static_cast<PipeWireScreenStream *>(data);
    // Only the newest buffer is worth reading; the others go straight back.
    struct pw_buffer *latest = nullptr;
    while (struct pw_buffer *buffer = pw_stream_dequeue_buffer(self->m_stream)) {
        if (latest)
            pw_stream_queue_buffer(self->m_stream, latest);
        latest = buffer;
    }
    if (!latest)
        return;
    if (!self->m_ended && self->m_events.wantsPicture())
        self->takeBuffer(latest);
    pw_stream_queue_buffer(self->m_stream, latest);
}

void PipeWireScreenStream::takeBuffer(struct pw_buffer *buffer)
{
    const struct spa_buffer *b = buffer->buffer;
    if (!b || b->n_datas < 1 || !b->datas[0].data || !b->datas[0].chunk)
        return;
    const struct spa_data &d = b->datas[0];
    const int width = int(m_info.size.width);
    const int height = int(m_info.size.height);
    if (width <= 0 || height <= 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
        return;
    const qint64 stride = d.chunk->stride > 0 ? d.chunk->stride : qint64(width) * 4;
    const qint64 offset = d.chunk->offset;
    // Every row read must lie within the buffer, whatever the chunk claims.
    if (stride < qint64(width) * 4 || offset < 0 || offset + stride * (height - 1) + qint64(width) * 4 > qint64(d.maxsize))
        return;
    const bool redFirst = m_info.format == SPA_VIDEO_FORMAT_RGBx || m_info.format == SPA_VIDEO_FORMAT_RGBA;
    if (!redFirst && m_info.format != SPA_VIDEO_FORMAT_BGRx && m_info.format != SPA_VIDEO_FORMAT_BGRA)
        return;
    m_events.picture(static_cast<const uchar *>(d.data) + offset, width, height, stride, redFirst);
}

void PipeWireScreenStream::onCoreError(void *data, uint32_t id, int, int res, const char *message)
{
    auto *self = static_cast<PipeWireScreenStream *>(data);
    if (id == PW_ID_CORE && res == -EPIPE)
        self->end(Ending::ConnectionLost);
    else if (id == PW_ID_CORE)
        self->end(Ending::Failed, message);
}

void PipeWireScreenStream::onGlobalRemoved(void *data, uint32_t id)
{
    auto *self = static_cast<PipeWireScreenStream *>(data);
    // The desktop stopped the stream it handed over (the shared window closed, say).
    if (id == self->m_node)
        self->end(Ending::Stopped);
}

void PipeWireScreenStream::end(Ending ending, const char *detail)
{
    if (m_ended)
        return;
    m_ended = true;
    m_events.ended(ending, QString::fromUtf8(detail ? detail : ""));
}

void PipeWireScreenStream::release()
{
    if (m_stream) {
        spa_hook_remove(&m_streamListener);
        pw_stream_destroy(m_stream);
        m_stream = nullptr;
    }
    if (m_registry) {
        spa_hook_remove(&m_registryListener);
        pw_proxy_destroy(reinterpret_cast<struct pw_proxy *>(m_registry));
        m_registry = nullptr;
    }
    if (m_core) {
        spa_hook_remove(&m_coreListener);
        pw_core_disconnect(m_core);
        m_core = nullptr;
    }
    if (m_context) {
        pw_context_destroy(m_context);
        m_context = nullptr;
    }
    if (m_loop) {
        pw_loop_destroy(m_loop);
        m_loop = nullptr;
    }
}

extern "C" __attribute__((visibility("default"))) ScreenStream *zelmo_make_screen_stream(int version,
                                                                                          ScreenStream::Events &events,
                                                                                          QString &why)
{
    if (version != ScreenStream::InterfaceVersion) {
        why = QStringLiteral("the screen stream module was built for interface version %1, the program asks for %2")
                  .arg(ScreenStream::InterfaceVersion)
                  .arg(version);
        return nullptr;
    }
    return new PipeWireScreenStream(events);
}
