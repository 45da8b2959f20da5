#include "ui/frmBusyNotify.h"

#include "ui/Announcement.h"
#include "ui/CallerPanel.h"
#include "ui/WindowPlacement.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>

frmBusyNotify::frmBusyNotify(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmBusyNotify"));
    setWindowTitle(tr("ZELMO Incoming Call..."));
    // A notice: it never takes the keyboard from what the user is doing.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_caller = new CallerPanel(CallerPanel::Bold::Message, this);
    m_caller->message()->setText(tr("A Busy signal is being sent to this Person"));
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_caller);
    setMinimumWidth(300);

    m_tmrCloseMe = new QTimer(this);
    m_tmrCloseMe->setObjectName(QStringLiteral("tmrCloseMe"));
    m_tmrCloseMe->setInterval(5000);
    connect(m_tmrCloseMe, &QTimer::timeout, this, &QWidget::hide);
    m_tmrCloseMe->start();
}

void frmBusyNotify::notify(const QString &name, const QString &location)
{
    m_caller->setCaller(name, location);
    adjustSize();
    WindowPlacement::topRight(this);
    // The notice stays up to five seconds from now, not from the timer's last tick.
    m_tmrCloseMe->start();
    show();
    Announcement::alert(this, tr("%1 of %2 called; a busy signal is being sent").arg(name, location));
}
