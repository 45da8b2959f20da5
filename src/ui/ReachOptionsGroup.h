#pragma once

#include <QGroupBox>

class QCheckBox;
class QLabel;
class ReachabilityService;

// The options' "Reachability" group: whether the router is asked to forward this
// program's ports, and how others reach it now. The choice applies at once.
class ReachOptionsGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit ReachOptionsGroup(ReachabilityService &reach, QWidget *parent = nullptr);

    // Shows the choice as it is now.
    void load();

private:
    ReachabilityService &m_reach;
    QCheckBox *m_askRouter;
    QLabel *m_line;
};
