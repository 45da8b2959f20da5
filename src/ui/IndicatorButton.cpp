#include "ui/IndicatorButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace {

constexpr int FocusMargin = 2;

} // namespace

IndicatorButton::IndicatorButton(const QString &objectName, const QString &tip, QWidget *parent)
    : QAbstractButton(parent)
{
    setObjectName(objectName);
    setToolTip(tip);
    setAccessibleName(tip);
    setFocusPolicy(Qt::TabFocus);
}

void IndicatorButton::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    updateGeometry();
    update();
}

QSize IndicatorButton::sizeHint() const
{
    const QSize logical = m_picture.isNull() ? QSize(16, 16) : m_picture.deviceIndependentSize().toSize();
    return logical + QSize(2 * FocusMargin, 2 * FocusMargin);
}

void IndicatorButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!m_picture.isNull()) {
        const QSize size = m_picture.deviceIndependentSize().toSize();
        p.drawPixmap((width() - size.width()) / 2, (height() - size.height()) / 2, m_picture);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void IndicatorButton::mousePressEvent(QMouseEvent *event)
{
    if (m_doubleClickOnly) {
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void IndicatorButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_doubleClickOnly) {
        event->accept();
        return;
    }
    QAbstractButton::mouseReleaseEvent(event);
}

void IndicatorButton::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_doubleClickOnly && event->button() == Qt::LeftButton) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::mouseDoubleClickEvent(event);
}

void IndicatorButton::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !event->isAutoRepeat()) {
        event->accept();
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
