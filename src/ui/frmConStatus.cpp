#include "ui/frmConStatus.h"

#include "call/CallControl.h"
#include "core/CallStates.h"
#include "ui/Artwork.h"
#include "ui/SecurityNote.h"
#include "ui/WindowPlacement.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

frmConStatus::frmConStatus(CallControl &calls, QWidget *parent)
    : CallDialog(parent)
    , m_calls(calls)
{
    setObjectName(QStringLiteral("frmConStatus"));
    setWindowTitle(tr("Connecting..."));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("pnlConStatus"));
    m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_status->setMinimumWidth(230);
    QFont bold = m_status->font();
    bold.setBold(true);
    m_status->setFont(bold);
    m_seconds = new QLabel(ConnectProgress::initialSecondsText(), this);
    m_seconds->setObjectName(QStringLiteral("pnlSecond"));
    m_seconds->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_seconds->setAlignment(Qt::AlignCenter);
    m_seconds->setMinimumWidth(60);
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("pnlUserName"));
    m_location = new QLabel(this);
    m_location->setObjectName(QStringLiteral("pnlUserLocation"));
    m_activity = new QLabel(this);
    m_activity->setObjectName(QStringLiteral("pnlActivity"));
    m_activity->setPixmap(Artwork::activity(0));
    m_cancel = new QPushButton(ConnectProgress::cancelCaption(), this);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), m_name);
    form->addRow(tr("From:"), m_location);
    auto *statusRow = new QHBoxLayout;
    statusRow->addWidget(m_activity);
    statusRow->addWidget(m_status, 1);
    statusRow->addWidget(m_seconds);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(statusRow);
    m_securityNote = new SecurityNote(QStringLiteral("pnlSecurity"), this);
    layout->addWidget(m_securityNote);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_cancel, &QPushButton::clicked, this, &frmConStatus::close);
    m_tmrSecond = new QTimer(this);
    m_tmrSecond->setObjectName(QStringLiteral("tmrSecond"));
    m_tmrSecond->setInterval(ConnectProgress::TickMs);
    connect(m_tmrSecond, &QTimer::timeout, this, &frmConStatus::onTick);

    adjustSize();
    WindowPlacement::centre(this);
    m_tmrSecond->start();
}

void frmConStatus::setCallee(const QString &name, const QString &location)
{
    m_name->setText(name);
    m_location->setText(location);
    m_progress = ConnectProgress();
    m_cancel->setText(ConnectProgress::cancelCaption());
    m_seconds->setText(ConnectProgress::initialSecondsText());
}

void frmConStatus::closing()
{
    m_tmrSecond->stop();
    if (!m_closedByTick)
        m_calls.cancelAttempt();
}

void frmConStatus::onTick()
{
    const ConnectProgress::Output out = m_progress.tick(m_calls.status().ConnectState, m_calls.mediaClientConnected());
    if (!out.statusText.isNull())
        m_status->setText(out.statusText);
    if (out.close) {
        m_closedByTick = true;
        close();
        return;
    }
    if (out.attemptOver)
        m_cancel->setText(ConnectProgress::okCaption());
    if (!out.secondsText.isNull())
        m_seconds->setText(out.secondsText);
    if (out.frame >= 0) {
        m_activity->setPixmap(Artwork::activity(out.frame));
        m_activity->setProperty("frame", out.frame);
    }
}
