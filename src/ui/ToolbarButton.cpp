#include "ui/ToolbarButton.h"

#include "ui/ToolbarButtonAccessible.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace {

constexpr int FocusMargin = 2;

} // namespace

ToolbarButton::ToolbarButton(int index, const QString &caption, const QString &tip, QWidget *parent)
    : QAbstractButton(parent)
{
    ToolbarButtonAccessible::install();
    setObjectName(QStringLiteral("cmdtoolbar%1").arg(index));
    setText(caption);
    setToolTip(tip);
    setAccessibleDescription(tip);
    // The mouse should not leave a focus ring behind; the keyboard reaches it with Tab.
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);

    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("pnlCmdButton%1").arg(3 * index));
    m_picture->setAlignment(Qt::AlignCenter);
    m_caption = new QLabel(caption, this);
    m_caption->setObjectName(QStringLiteral("lblcmd%1").arg(index));
    m_caption->setAlignment(Qt::AlignCenter);
    QFont small = m_caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_caption->setFont(small);
    // The button takes every mouse event over its picture and caption.
    for (QLabel *label : {m_picture, m_caption})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(FocusMargin, FocusMargin, FocusMargin, FocusMargin);
    column->setSpacing(0);
    column->addWidget(m_picture);
    column->addWidget(m_caption);
}

void ToolbarButton::setPicture(const QPixmap &picture)
{
    m_picture->setPixmap(picture);
}

void ToolbarButton::setCaption(const QString &caption)
{
    setText(caption);
    m_caption->setText(caption);
}

void ToolbarButton::setCaptionBold(bool bold)
{
    QFont f = m_caption->font();
    if (f.bold() == bold)
        return;
    f.setBold(bold);
    m_caption->setFont(f);
}

void ToolbarButton::setCompact(bool compact)
{
    m_caption->setVisible(!compact);
}

QSize ToolbarButton::sizeHint() const
{
    return layout()->sizeHint();
}

QSize ToolbarButton::minimumSizeHint() const
{
    return layout()->minimumSize();
}

void ToolbarButton::paintEvent(QPaintEvent *)
{
    if (!hasFocus())
        return;
    // The picture and caption paint themselves; the button only shows the keyboard focus.
    QPainter p(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.rect = rect().adjusted(0, 0, 0, 0);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
}

void ToolbarButton::mousePressEvent(QMouseEvent *event)
{
    if (!m_pushToTalk) {
        QAbstractButton::mousePressEvent(event);
        return;
    }
    event->accept();
    emit talkPressed(event->button());
}

void ToolbarButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pushToTalk) {
        QAbstractButton::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    emit talkReleased(event->button());
}

void ToolbarButton::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (m_pushToTalk && key == Qt::Key_Space) {
        // Held Space talks like the held left mouse button.
        if (!event->isAutoRepeat())
            emit talkPressed(Qt::LeftButton);
        event->accept();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void ToolbarButton::keyReleaseEvent(QKeyEvent *event)
{
    if (m_pushToTalk && event->key() == Qt::Key_Space) {
        if (!event->isAutoRepeat())
            emit talkReleased(Qt::LeftButton);
        event->accept();
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}
