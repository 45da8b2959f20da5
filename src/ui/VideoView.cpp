#include "ui/VideoView.h"

#include <QEvent>
#include <QPainter>

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoView::showFrame(const QImage &frame)
{
    m_frame = frame;
    if (!window()->isMinimized())
        update();
}

void VideoView::showEvent(QShowEvent *event)
{
    // The window it sits in says when it is restored; it may be given a parent late.
    if (window() != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        if (m_watchedWindow != this)
            m_watchedWindow->installEventFilter(this);
    }
    QWidget::showEvent(event);
}

bool VideoView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowStateChange && !m_watchedWindow->isMinimized())
        update();
    return QWidget::eventFilter(watched, event);
}

void VideoView::clearFrame()
{
    m_frame = QImage();
    update();
}

void VideoView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (m_frame.isNull()) {
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, QColor(22, 36, 58));
        g.setColorAt(1, QColor(8, 12, 22));
        p.fillRect(rect(), g);
        return;
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(), m_frame);
}
