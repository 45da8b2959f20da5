#pragma once

#include "ui/SatelliteWindow.h"

#include <functional>

class ActivityLog;
class QListWidget;

// The activity log window. Closing it only hides it; the log is written at exit.
class frmLog : public SatelliteWindow
{
    Q_OBJECT

public:
    explicit frmLog(ActivityLog &log, QWidget *parent = nullptr);

    // Asks before clearing; tests answer in place of the user.
    void setConfirm(std::function<bool(const QString &)> confirm);

private:
    void reload();

    ActivityLog &m_log;
    QListWidget *m_list;
    std::function<bool(const QString &)> m_confirm;
};
