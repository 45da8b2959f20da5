#include "ui/frmBusyNotify.h"

#include "ui/Announcement.h"

#include "ui/Artwork.h"
#include "ui/WindowPlacement.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

frmBusyNotify::frmBusyNotify(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmBusyNotify"));
    setWindowTitle(tr("ZELMO Incoming Call..."));
    // A notice: it never takes the keyboard from what the user is doing.
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto *picture = new QLabel(this);
    picture->setPixmap(Artwork::incomingCall());
    picture->setAlignment(Qt::AlignTop);

    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("pnlUserName"));
    m_location = new QLabel(this);
    m_location->setObjectName(QStringLiteral("pnlUserLocation"));
    auto *message = new QLabel(tr("A Busy signal is being sent to this Person"), this);
    message->setObjectName(QStringLiteral("lblCallMessage"));
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), m_name);
    form->addRow(tr("From:"), m_location);
    auto *column = new QVBoxLayout;
    column->addLayout(form);
    column->addWidget(message);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(picture);
    layout->addLayout(column, 1);
    setMinimumWidth(300);

    m_tmrCloseMe = new QTimer(this);
    m_tmrCloseMe->setObjectName(QStringLiteral("tmrCloseMe"));
    m_tmrCloseMe->setInterval(5000);
    connect(m_tmrCloseMe, &QTimer::timeout, this, &QWidget::hide);
    m_tmrCloseMe->start();
}

void frmBusyNotify::notify(const QString &name, const QString &location)
{
    m_name->setText(name);
    m_location->setText(location);
    adjustSize();
    WindowPlacement::topRight(this);
    // The notice stays up to five seconds from now, not from the timer's last tick.
    m_tmrCloseMe->start();
    show();
    Announcement::alert(this, tr("%1 of %2 called; a busy signal is being sent").arg(name, location));
}
