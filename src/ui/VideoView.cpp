#include "ui/VideoView.h"

#include <QPainter>

VideoView::VideoView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoView::showFrame(const QImage &frame)
{
    m_frame = frame;
    update();
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
