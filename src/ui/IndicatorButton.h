#pragma once

#include <QAbstractButton>
#include <QPixmap>

// A picture on the main window that also acts (the connection lamp hangs up, the
// do-not-disturb lamp toggles, the message indicator opens the waiting message). It
// keeps the look of a picture, but is a button for the keyboard (Tab, Space, Enter) and
// for assistive technology, named by its tool tip.
class IndicatorButton : public QAbstractButton
{
    Q_OBJECT

public:
    IndicatorButton(const QString &objectName, const QString &tip, QWidget *parent = nullptr);

    void setPicture(const QPixmap &picture);
    const QPixmap &picture() const { return m_picture; }
    // The mouse acts with a double click only; the keyboard still presses it once.
    void setDoubleClickOnly(bool doubleClickOnly) { m_doubleClickOnly = doubleClickOnly; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QPixmap m_picture;
    bool m_doubleClickOnly = false;
};
