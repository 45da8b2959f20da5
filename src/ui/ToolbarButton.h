#pragma once

#include <QAbstractButton>

class QLabel;

// One button of the main window's toolbar: its picture panel (which shows the look the
// window gives it) above its caption. It is a real button: Tab reaches it, Space and
// Enter press it, and assistive technology sees a button named by its caption. The
// push-to-talk button reports presses and releases of every mouse button instead of
// clicks, and Space talks while held.
class ToolbarButton : public QAbstractButton
{
    Q_OBJECT

public:
    ToolbarButton(int index, const QString &caption, const QString &tip, QWidget *parent = nullptr);

    QLabel *picture() const { return m_picture; }
    QLabel *caption() const { return m_caption; }
    void setPicture(const QPixmap &picture);
    void setCaption(const QString &caption);
    void setCaptionBold(bool bold);
    // Narrow windows show the pictures only; the caption stays the button's name.
    void setCompact(bool compact);
    // Push to talk: presses and releases are reported, never clicks.
    void setPushToTalk(bool pushToTalk) { m_pushToTalk = pushToTalk; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void talkPressed(Qt::MouseButton button);
    void talkReleased(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    // The window decides whether the button is held down; a click never flips it.
    void nextCheckState() override {}

private:
    QLabel *m_picture;
    QLabel *m_caption;
    bool m_pushToTalk = false;
};
