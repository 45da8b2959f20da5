#include "share/PipeWireScreenSource.h"

#include "share/ScreenStreamModule.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

PipeWireScreenSource::PipeWireScreenSource(ScreenStreamModule &module, int pipeWireFd, quint32 node, int intervalMs,
                                           QObject *parent)
    : CameraDevice(parent)
    , m_module(module)
    , m_fd(pipeWireFd >= 0 ? fcntl(pipeWireFd, F_DUPFD_CLOEXEC, 3) : -1)
    , m_node(node)
    , m_intervalMs(std::max(1, intervalMs))
{
}

PipeWireScreenSource::~PipeWireScreenSource()
{
    release();
    if (m_fd >= 0)
        ::close(m_fd);
}

QString PipeWireScreenSource::name() const
{
    return tr("Shared screen");
}

QList<CameraFormat> PipeWireScreenSource::formats() const
{
    return ScreenFit::formats(1000.0f / float(m_intervalMs));
}

void PipeWireScreenSource::setFormat(int index)
{
    m_format = ScreenFit::checkedFormat(index);
}

bool PipeWireScreenSource::start()
{
    if (m_failed)
        return false;
    if (!m_stream) {
        if (m_fd < 0)
            return false;
        QString why;
        m_stream = m_module.make(*this, why);
        if (!m_stream || !m_stream->connect(m_fd, m_node)) {
            release();
            return false;
        }
        m_notifier = new QSocketNotifier(m_stream->loopDescriptor(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &PipeWireScreenSource::turnLoop);
        // What the connection queued goes out now.
        QMetaObject::invokeMethod(this, &PipeWireScreenSource::turnLoop, Qt::QueuedConnection);
    }
    m_active = true;
    return true;
}

void PipeWireScreenSource::stop()
{
    // The stream stays connected: frames that come meanwhile go back unread.
    m_active = false;
}

bool PipeWireScreenSource::isActive() const
{
    return m_active;
}

void PipeWireScreenSource::turnLoop()
{
    if (m_stream)
        m_stream->turn();
}

bool PipeWireScreenSource::wantsPicture()
{
    // The call's rate and no faster: a frame within the interval of the last is not read.
    return m_active && (!m_sinceFrame.isValid() || m_sinceFrame.elapsed() >= m_intervalMs);
}

void PipeWireScreenSource::picture(const uchar *pixels, int width, int height, qint64 stride, bool redFirst)
{
    if (!m_fit.begin(ScreenFit::frameSize(m_format, QSize(width, height)), QSize(width, height)))
        return;
    for (const ScreenFit::Tile &tile : m_fit.tiles(QSize(MaxDimension, MaxDimension)))
        m_fit.put(pixels + tile.source.y() * stride + qint64(tile.source.x()) * 4, int(stride), tile, redFirst);
    m_sinceFrame.start();
    emit frameReady(m_fit.frame());
}

void PipeWireScreenSource::ended(ScreenStream::Ending ending, const QString &detail)
{
    switch (ending) {
    case ScreenStream::Ending::Failed:
        fail(tr("The desktop's picture failed: %1").arg(detail));
        break;
    case ScreenStream::Ending::Stopped:
        fail(tr("The desktop stopped sending the picture."));
        break;
    case ScreenStream::Ending::ConnectionLost:
        fail(tr("The connection to the desktop's picture was lost."));
        break;
    }
}

void PipeWireScreenSource::fail(const QString &reason)
{
    if (m_failed)
        return;
    m_failed = true;
    m_active = false;
    // Told once the loop has finished its turn: the receiver may let this source go.
    QMetaObject::invokeMethod(this, [this, reason] { emit failed(reason); }, Qt::QueuedConnection);
}

void PipeWireScreenSource::release()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_stream.reset();
}
