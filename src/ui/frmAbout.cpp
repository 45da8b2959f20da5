#include "ui/frmAbout.h"

#include "ui/Artwork.h"
#include "ui/WindowPlacement.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>

QString frmAbout::platformLine()
{
    return tr("ZELMO for %1, %2").arg(QSysInfo::prettyProductName(), QSysInfo::currentCpuArchitecture());
}

frmAbout::frmAbout(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About ZELMO"));
    setModal(false);

    auto *picture = new QLabel(this);
    picture->setPixmap(Artwork::logo(160, 120));
    picture->setAlignment(Qt::AlignCenter);
    picture->setStyleSheet(QStringLiteral("background: #16243a; border-radius: 6px; padding: 8px;"));

    auto *version = new QLabel(tr("Version ") + QStringLiteral(ZELMO_VERSION), this);
    version->setObjectName(QStringLiteral("pnlVersion"));
    version->setAlignment(Qt::AlignCenter);
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);

    auto *about1 = new QLabel(platformLine(), this);
    about1->setObjectName(QStringLiteral("pnlAbout1"));
    about1->setAlignment(Qt::AlignCenter);

    QString support;
    QFile file(QStringLiteral(":/about.txt"));
    if (file.open(QIODevice::ReadOnly))
        support = QString::fromUtf8(file.readAll()).trimmed();
    auto *about2 = new QLabel(support, this);
    about2->setObjectName(QStringLiteral("pnlAbout2"));
    about2->setAlignment(Qt::AlignCenter);
    about2->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(picture);
    layout->addWidget(version);
    layout->addWidget(about1);
    layout->addWidget(about2);
    layout->addSpacing(6);
    layout->addWidget(close, 0, Qt::AlignCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void frmAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    WindowPlacement::centre(this);
}
