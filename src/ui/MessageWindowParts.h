#pragma once

#include "messages/QuickMessageProtocol.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QVBoxLayout>

// The pieces the compose window and the viewer share, so both show a person's details and
// name their controls alike.
namespace MessageWindowParts {

// A sunken, selectable field for a name, place or address; peer text is never read as markup.
inline QLabel *valuePanel(QWidget *parent, const char *name, const QString &text = {})
{
    auto *panel = new QLabel(text, parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setMinimumWidth(180);
    panel->setTextFormat(Qt::PlainText);
    panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return panel;
}

inline QPushButton *button(QWidget *parent, const char *name, const QString &caption)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

// The sunken frame around a message's picture (pnlThumbNail); *picture gets the label that
// shows it (imgThumb), black until there is one.
inline QFrame *thumbnailPanel(QWidget *parent, QLabel **picture)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QStringLiteral("pnlThumbNail"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(2, 2, 2, 2);
    *picture = new QLabel(panel);
    (*picture)->setObjectName(QStringLiteral("imgThumb"));
    (*picture)->setFixedSize(QuickMessageProtocol::ThumbnailWidth, QuickMessageProtocol::ThumbnailHeight);
    (*picture)->setStyleSheet(QStringLiteral("background: black;"));
    layout->addWidget(*picture);
    return panel;
}

} // namespace MessageWindowParts
