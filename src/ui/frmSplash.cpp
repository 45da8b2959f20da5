#include "ui/frmSplash.h"

#include "ui/Artwork.h"
#include "ui/WindowPlacement.h"

#include <QLabel>

frmSplash::frmSplash(QWidget *parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(400, 260);

    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(Artwork::splash(width(), height()));
    image->setGeometry(rect());

    auto *version = new QLabel(tr("Version ") + QStringLiteral(ZELMO_VERSION), this);
    version->setObjectName(QStringLiteral("pnlVersion"));
    version->setStyleSheet(QStringLiteral("color: #c8d7eb; font-size: 12px;"));
    version->setAlignment(Qt::AlignCenter);
    version->setGeometry(0, height() - 50, width(), 20);

    auto *tag = new QLabel(tr("Video calls, person to person"), this);
    tag->setStyleSheet(QStringLiteral("color: #7f95b3; font-size: 11px;"));
    tag->setAlignment(Qt::AlignCenter);
    tag->setGeometry(0, height() - 30, width(), 18);

    WindowPlacement::centre(this);
}
