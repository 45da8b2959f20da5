#pragma once

#include <QImage>
#include <QWidget>

// The incoming-video picture: paints the last decoded frame scaled to its own size, or a
// dark field when there is none.
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

private:
    QImage m_frame;
};
