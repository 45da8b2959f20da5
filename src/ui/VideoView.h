#pragma once

#include <QImage>
#include <QWidget>

// The incoming-video picture: paints the last decoded frame scaled to its own size, or a
// dark field when there is none. While its window is minimised frames are only kept; the
// newest is painted when the window comes back.
class VideoView : public QWidget
{
    Q_OBJECT

public:
    explicit VideoView(QWidget *parent = nullptr);

    void showFrame(const QImage &frame);
    void clearFrame();
    const QImage &frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QImage m_frame;
    QWidget *m_watchedWindow = nullptr;
};
