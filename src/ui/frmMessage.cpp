#include "ui/frmMessage.h"

#include "ui/Artwork.h"
#include "ui/WindowPlacement.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmMessage::frmMessage(QWidget *parent)
    : frmMessage(QStringLiteral("frmMessage"), tr("ZELMO Information"), Artwork::information(), parent)
{
}

frmMessage::frmMessage(const QString &objectName, const QString &caption, const QPixmap &picture, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(objectName);
    setWindowTitle(caption);
    setModal(false);

    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(picture);
    image->setAlignment(Qt::AlignTop);

    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("pnlMessage"));
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setMinimumWidth(280);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        emit confirmed();
        close();
    });

    auto *row = new QHBoxLayout;
    row->addWidget(image);
    row->addSpacing(8);
    row->addWidget(m_text, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void frmMessage::showText(const QString &text)
{
    m_text->setText(text);
    adjustSize();
    if (!isVisible())
        WindowPlacement::centre(this);
    show();
    raise();
}

QString frmMessage::text() const
{
    return m_text->text();
}
