#include "ui/ReachOptionsGroup.h"

#include "reach/ReachabilityService.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

ReachOptionsGroup::ReachOptionsGroup(ReachabilityService &reach, QWidget *parent)
    : QGroupBox(tr("Reachability"), parent)
    , m_reach(reach)
{
    setObjectName(QStringLiteral("fraReach"));
    m_askRouter = new QCheckBox(tr("Ask the router to forward my ports (UPnP, NAT-PMP)"), this);
    m_askRouter->setObjectName(QStringLiteral("chkAskRouter"));
    m_askRouter->setToolTip(tr("Without it, others can call you only when your router forwards the ports by hand"));
    m_line = new QLabel(this);
    m_line->setObjectName(QStringLiteral("lblReachOptions"));
    m_line->setWordWrap(true);
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_askRouter);
    column->addWidget(m_line);
    connect(m_askRouter, &QCheckBox::toggled, &m_reach, &ReachabilityService::setAskRouter);
    connect(&m_reach, &ReachabilityService::lineChanged, m_line, &QLabel::setText);
    load();
}

void ReachOptionsGroup::load()
{
    const QSignalBlocker quiet(m_askRouter);
    m_askRouter->setChecked(m_reach.askRouter());
    m_line->setText(m_reach.line());
}
