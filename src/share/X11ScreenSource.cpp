#include "share/X11ScreenSource.h"

#include <xcb/shm.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

constexpr qsizetype MaxSegmentBytes =
    qsizetype(X11ScreenSource::MaxTileWidth) * X11ScreenSource::MaxTileHeight * 4;

// Bits per pixel of the display's images of this depth (0 when it has none).
int bitsPerPixel(xcb_connection_t *c, int depth)
{
    const xcb_setup_t *setup = xcb_get_setup(c);
    for (xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel;
    }
    return 0;
}

} // namespace

X11ScreenSource::X11ScreenSource(const QString &display, const ScreenTarget &target, int intervalMs, QObject *parent)
    : CameraDevice(parent)
    , m_display(display)
    , m_target(target)
    , m_intervalMs(std::max(1, intervalMs))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(m_intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &X11ScreenSource::captureFrame);
}

X11ScreenSource::~X11ScreenSource()
{
    close();
}

QString X11ScreenSource::name() const
{
    return m_target.name;
}

QList<CameraFormat> X11ScreenSource::formats() const
{
    return ScreenFit::formats(1000.0f / float(m_intervalMs));
}

void X11ScreenSource::setFormat(int index)
{
    m_format = ScreenFit::checkedFormat(index);
}

bool X11ScreenSource::start()
{
    if (!m_connection && !open())
        return false;
    m_active = true;
    m_timer.start();
    // The first picture as soon as the loop turns, not a tick later.
    QTimer::singleShot(0, this, [this] {
        if (m_active)
            captureFrame();
    });
    return true;
}

void X11ScreenSource::stop()
{
    m_active = false;
    m_timer.stop();
}

bool X11ScreenSource::isActive() const
{
    return m_active;
}

bool X11ScreenSource::open()
{
    const QByteArray name = m_display.toLocal8Bit();
    m_connection = xcb_connect(name.isEmpty() ? nullptr : name.constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return false;
    }
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_target.window), nullptr));
    if (!geometry) {
        close();
        return false;
    }
    m_root = geometry->root;
    // Only 32-bit pixels are read: every true-colour display of today has them.
    if (bitsPerPixel(m_connection, geometry->depth) != 32) {
        close();
        return false;
    }
    const xcb_query_extension_reply_t *shm = xcb_get_extension_data(m_connection, &xcb_shm_id);
    if (shm && shm->present) {
        Reply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(m_connection, xcb_shm_query_version(m_connection), nullptr));
        // Segments handed over as descriptors: no System V memory to leak if this process dies.
        m_shm = version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
    }
    return true;
}

void X11ScreenSource::close()
{
    stop();
    std::free(m_plainReply);
    m_plainReply = nullptr;
    if (!m_connection)
        return;
    releaseSegment();
    xcb_disconnect(m_connection);
    m_connection = nullptr;
}

bool X11ScreenSource::ensureSegment(qsizetype bytes)
{
    if (m_memory && m_segmentBytes >= bytes)
        return true;
    releaseSegment();
    // A window that grows a little every frame does not get a new segment every frame.
    const qsizetype size = std::min(MaxSegmentBytes, std::max(bytes, bytes + bytes / 2));
    const int fd = memfd_create("zelmo-screen", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    if (ftruncate(fd, off_t(size)) != 0) {
        ::close(fd);
        return false;
    }
    void *memory = mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    const quint32 segment = xcb_generate_id(m_connection);
    // The server takes the descriptor (xcb closes this copy of it).
    xcb_generic_error_t *error =
        xcb_request_check(m_connection, xcb_shm_attach_fd_checked(m_connection, segment, fd, 0));
    if (error) {
        std::free(error);
        munmap(memory, size_t(size));
        m_shm = false;
        return false;
    }
    m_segment = segment;
    m_memory = memory;
    m_segmentBytes = size;
    return true;
}

void X11ScreenSource::releaseSegment()
{
    if (!m_memory)
        return;
    xcb_shm_detach(m_connection, m_segment);
    xcb_flush(m_connection);
    munmap(m_memory, size_t(m_segmentBytes));
    m_memory = nullptr;
    m_segmentBytes = 0;
}

const uchar *X11ScreenSource::readTile(const QRect &rect, int *stride)
{
    const qsizetype bytes = qsizetype(rect.width()) * rect.height() * 4;
    *stride = rect.width() * 4;
    if (m_shm && ensureSegment(bytes)) {
        xcb_generic_error_t *error = nullptr;
        Reply<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
            m_connection,
            xcb_shm_get_image(m_connection, m_target.window, qint16(rect.x()), qint16(rect.y()), quint16(rect.width()),
                              quint16(rect.height()), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, m_segment, 0),
            &error));
        std::free(error);
        if (!reply || qsizetype(reply->size) < bytes)
            return nullptr;
        return static_cast<const uchar *>(m_memory);
    }
    std::free(m_plainReply);
    m_plainReply = nullptr;
    xcb_generic_error_t *error = nullptr;
    xcb_get_image_reply_t *reply = xcb_get_image_reply(
        m_connection,
        xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_target.window, qint16(rect.x()), qint16(rect.y()),
                      quint16(rect.width()), quint16(rect.height()), ~0u),
        &error);
    std::free(error);
    if (!reply)
        return nullptr;
    m_plainReply = reply;
    if (xcb_get_image_data_length(reply) < bytes)
        return nullptr;
    return xcb_get_image_data(reply);
}

bool X11ScreenSource::captureFrame()
{
    if (!m_connection)
        return false;
    if (xcb_connection_has_error(m_connection)) {
        fail(tr("The connection to the display was lost."));
        return false;
    }
    // Nothing is asked to be sent here; what comes (errors of requests without replies) goes.
    for (int i = 0; i < 64; ++i) {
        xcb_generic_event_t *event = xcb_poll_for_event(m_connection);
        if (!event)
            break;
        std::free(event);
    }
    const bool window = m_target.kind == ScreenTarget::Kind::Window;
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_target.window), nullptr));
    if (!geometry) {
        fail(window ? tr("The shared window was closed.") : tr("The shared screen is gone."));
        return false;
    }
    QRect area(0, 0, geometry->width, geometry->height);
    if (window) {
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, m_target.window), nullptr));
        if (!attributes) {
            fail(tr("The shared window was closed."));
            return false;
        }
        if (attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            return false;
        // Only the part on the screen can be read.
        Reply<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, m_target.window, m_root, 0, 0), nullptr));
        Reply<xcb_get_geometry_reply_t> root(
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, m_root), nullptr));
        if (!place || !root)
            return false;
        area &= QRect(-place->dst_x, -place->dst_y, root->width, root->height);
        if (area.isEmpty())
            return false;
    }
    m_sourceSize = area.size();
    if (!m_fit.begin(ScreenFit::frameSize(m_format, area.size()), area.size()))
        return false;
    for (const ScreenFit::Tile &tile : m_fit.tiles(QSize(MaxTileWidth, MaxTileHeight))) {
        int stride = 0;
        // A window that changed size since it was measured gives no picture this time.
        const uchar *pixels = readTile(tile.source.translated(area.topLeft()), &stride);
        if (!pixels)
            return false;
        m_fit.put(pixels, stride, tile);
    }
    std::free(m_plainReply);
    m_plainReply = nullptr;
    emit frameReady(m_fit.frame());
    return true;
}

void X11ScreenSource::fail(const QString &reason)
{
    stop();
    emit failed(reason);
}
