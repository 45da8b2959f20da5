#pragma once

#include "media/picture/CameraDevice.h"
#include "share/ScreenFit.h"
#include "share/ScreenTarget.h"

#include <QSize>
#include <QTimer>

#include <xcb/xcb.h>

// A screen or one window of an X display as a video source, read through the server's
// shared-memory images (without that extension, through plain images) on a display
// connection of its own. Frames come at the call's rate, not faster, each the whole target
// fitted into one of the call's sizes. A window that goes away ends the source (failed); a
// window that is not on the screen for a moment, or changes size while it is read, gives
// no frame that time.
class X11ScreenSource : public CameraDevice
{
    Q_OBJECT

public:
    // The most read at once: a larger screen is read in tiles of this size.
    static constexpr int MaxTileWidth = 4096;
    static constexpr int MaxTileHeight = 2048;

    X11ScreenSource(const QString &display, const ScreenTarget &target, int intervalMs, QObject *parent = nullptr);
    ~X11ScreenSource() override;

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start() override;
    void stop() override;
    bool isActive() const override;

    // Reads and delivers one frame now; false when there was none to give.
    bool captureFrame();
    // The size of the target when it was last read.
    QSize sourceSize() const { return m_sourceSize; }
    // Bytes of the shared image segment (0 without one).
    qsizetype segmentBytes() const { return m_segmentBytes; }

private:
    bool open();
    void close();
    bool ensureSegment(qsizetype bytes);
    void releaseSegment();
    // The tile's pixels, or nullptr when the server would not give them.
    const uchar *readTile(const QRect &rect, int *stride);
    void fail(const QString &reason);

    QString m_display;
    ScreenTarget m_target;
    int m_intervalMs;
    int m_format = -1;
    QTimer m_timer;
    bool m_active = false;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    bool m_shm = false;
    quint32 m_segment = 0;
    void *m_memory = nullptr;
    qsizetype m_segmentBytes = 0;
    // A reply of a plain image read, freed at the next read.
    void *m_plainReply = nullptr;
    QSize m_sourceSize;
    ScreenFit m_fit;
};
