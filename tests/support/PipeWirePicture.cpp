#include "support/PipeWirePicture.h"

#include <QFile>
#include <QTest>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

struct PipeWirePicture::Hooks
{
    spa_hook registry = {};
    spa_hook stream = {};
    pw_registry_events registryEvents = {};
    pw_stream_events streamEvents = {};
};

PipeWirePicture::PipeWirePicture(QString socket, QImage picture, int frameMs)
    : m_socket(std::move(socket))
    , m_picture(picture.convertToFormat(QImage::Format_RGB32))
    , m_frameMs(frameMs)
{
}

PipeWirePicture::~PipeWirePicture()
{
    stop();
    if (m_thread) {
        pw_thread_loop_stop(m_thread);
        if (m_registry)
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(m_registry));
        if (m_core)
            pw_core_disconnect(m_core);
        if (m_context)
            pw_context_destroy(m_context);
        pw_thread_loop_destroy(m_thread);
    }
    delete m_hooks;
}

bool PipeWirePicture::start(QString *why)
{
    pw_init(nullptr, nullptr);
    m_hooks = new Hooks;
    m_thread = pw_thread_loop_new("test-picture", nullptr);
    if (!m_thread) {
        *why = QStringLiteral("no PipeWire loop");
        return false;
    }
    m_context = pw_context_new(pw_thread_loop_get_loop(m_thread), nullptr, 0);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(m_socket);
    std::memcpy(address.sun_path, path.constData(), std::min<size_t>(path.size(), sizeof(address.sun_path) - 1));
    if (!m_context || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        *why = QStringLiteral("no connection to the PipeWire daemon at ") + m_socket;
        return false;
    }
    pw_thread_loop_lock(m_thread);
    m_core = pw_context_connect_fd(m_context, fd, nullptr, 0);
    if (!m_core) {
        pw_thread_loop_unlock(m_thread);
        *why = QStringLiteral("the PipeWire daemon did not take the connection");
        return false;
    }
    m_hooks->registryEvents.version = PW_VERSION_REGISTRY_EVENTS;
    m_hooks->registryEvents.global = &PipeWirePicture::onGlobal;
    m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(m_registry, &m_hooks->registry, &m_hooks->registryEvents, this);

    m_hooks->streamEvents.version = PW_VERSION_STREAM_EVENTS;
    m_hooks->streamEvents.param_changed = &PipeWirePicture::onParamChanged;
    m_hooks->streamEvents.process = &PipeWirePicture::onProcess;
    m_stream = pw_stream_new(m_core, "test-picture",
                             pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, "test-picture",
                                               nullptr));
    pw_stream_add_listener(m_stream, &m_hooks->stream, &m_hooks->streamEvents, this);
    uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    spa_rectangle size = SPA_RECTANGLE(uint32_t(m_picture.width()), uint32_t(m_picture.height()));
    spa_fraction rate = SPA_FRACTION(uint32_t(1000 / m_frameMs), 1);
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&rate)));
    const int connected = pw_stream_connect(
        m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    m_timer = pw_loop_add_timer(pw_thread_loop_get_loop(m_thread), &PipeWirePicture::onTimer, this);
    timespec first{0, 1000000};
    timespec every{0, long(m_frameMs) * 1000000};
    pw_loop_update_timer(pw_thread_loop_get_loop(m_thread), m_timer, &first, &every, false);
    pw_thread_loop_unlock(m_thread);
    if (connected < 0 || pw_thread_loop_start(m_thread) < 0) {
        *why = QStringLiteral("the picture's stream could not be connected");
        return false;
    }
    const bool numbered = QTest::qWaitFor(
        [this] {
            pw_thread_loop_lock(m_thread);
            m_node = pw_stream_get_node_id(m_stream);
            pw_thread_loop_unlock(m_thread);
            return m_node != 0xffffffff;
        },
        10000);
    if (!numbered)
        *why = QStringLiteral("the picture's stream got no node");
    return m_node != 0xffffffff;
}

void PipeWirePicture::stop()
{
    if (!m_thread || !m_stream)
        return;
    pw_thread_loop_lock(m_thread);
    if (m_timer)
        pw_loop_destroy_source(pw_thread_loop_get_loop(m_thread), m_timer);
    m_timer = nullptr;
    for (pw_proxy *link : std::as_const(m_linkProxies))
        pw_proxy_destroy(link);
    m_linkProxies.clear();
    spa_hook_remove(&m_hooks->stream);
    pw_stream_destroy(m_stream);
    m_stream = nullptr;
    pw_thread_loop_unlock(m_thread);
}

void PipeWirePicture::onGlobal(void *data, uint32_t id, uint32_t, const char *type, uint32_t, const spa_dict *props)
{
    auto *self = static_cast<PipeWirePicture *>(data);
    if (!props || !self->m_stream)
        return;
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        const char *kind = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (kind && std::strcmp(kind, "Stream/Input/Video") == 0) {
            // A new reader: its own input port is awaited.
            self->m_readerNode = id;
            self->m_readerPort = 0xffffffff;
        }
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Port) != 0)
        return;
    const char *node = spa_dict_lookup(props, PW_KEY_NODE_ID);
    const char *direction = spa_dict_lookup(props, PW_KEY_PORT_DIRECTION);
    if (!node || !direction)
        return;
    const quint32 nodeId = quint32(std::strtoul(node, nullptr, 10));
    if (nodeId == self->m_readerNode && std::strcmp(direction, "in") == 0)
        self->m_readerPort = id;
    else if (nodeId == pw_stream_get_node_id(self->m_stream) && std::strcmp(direction, "out") == 0)
        self->m_ownPort = id;
    self->linkWhenReady();
}

void PipeWirePicture::linkWhenReady()
{
    if (m_readerPort == 0xffffffff || m_ownPort == 0xffffffff)
        return;
    pw_properties *props = pw_properties_new(nullptr, nullptr);
    pw_properties_setf(props, PW_KEY_LINK_OUTPUT_NODE, "%u", pw_stream_get_node_id(m_stream));
    pw_properties_setf(props, PW_KEY_LINK_OUTPUT_PORT, "%u", m_ownPort);
    pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", m_readerNode);
    pw_properties_setf(props, PW_KEY_LINK_INPUT_PORT, "%u", m_readerPort);
    auto *link = static_cast<pw_proxy *>(
        pw_core_create_object(m_core, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
    pw_properties_free(props);
    if (link) {
        m_linkProxies.append(link);
        ++m_links;
    }
    m_readerPort = 0xffffffff;
}

void PipeWirePicture::onParamChanged(void *data, uint32_t id, const spa_pod *param)
{
    auto *self = static_cast<PipeWirePicture *>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    const int stride = self->m_picture.width() * 4;
    uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod *params[1];
    params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
        &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
        SPA_POD_Int(stride * self->m_picture.height()), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride),
        SPA_PARAM_BUFFERS_dataType, SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    pw_stream_update_params(self->m_stream, params, 1);
}

void PipeWirePicture::onProcess(void *data)
{
    auto *self = static_cast<PipeWirePicture *>(data);
    pw_buffer *b = pw_stream_dequeue_buffer(self->m_stream);
    if (!b)
        return;
    spa_data &d = b->buffer->datas[0];
    const int stride = self->m_picture.width() * 4;
    const qint64 bytes = qint64(stride) * self->m_picture.height();
    if (d.data && d.maxsize >= bytes) {
        // RGB32 in memory is B, G, R, x: the stream's BGRx.
        for (int y = 0; y < self->m_picture.height(); ++y)
            std::memcpy(static_cast<uchar *>(d.data) + qint64(y) * stride, self->m_picture.constScanLine(y), size_t(stride));
        d.chunk->offset = 0;
        d.chunk->stride = stride;
        d.chunk->size = uint32_t(bytes);
        ++self->m_frames;
    }
    pw_stream_queue_buffer(self->m_stream, b);
}

void PipeWirePicture::onTimer(void *data, uint64_t)
{
    auto *self = static_cast<PipeWirePicture *>(data);
    if (self->m_stream)
        pw_stream_trigger_process(self->m_stream);
}
