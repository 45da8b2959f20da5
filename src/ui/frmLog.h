#pragma once

#include <QWidget>
#include <functional>

class ActivityLog;
class QListWidget;

// The activity log window. Closing it only hides it; the log is written at exit.
class frmLog : public QWidget
{
    Q_OBJECT

public:
    explicit frmLog(ActivityLog &log, QWidget *parent = nullptr);

    // Asks before clearing; tests answer in place of the user.
    void setConfirm(std::function<bool(const QString &)> confirm);
    // Lets the program's own shutdown close the window for real.
    void allowClose() { m_closing = true; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void reload();

    ActivityLog &m_log;
    QListWidget *m_list;
    std::function<bool(const QString &)> m_confirm;
    bool m_closing = false;
    bool m_placed = false;
};
