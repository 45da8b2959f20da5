#pragma once

#include <QWidget>

class CallerPanel;
class QTimer;

// Tells the user that a second caller is being sent a busy signal. Its timer hides it,
// so the notice stays up for at most five seconds.
class frmBusyNotify : public QWidget
{
    Q_OBJECT

public:
    explicit frmBusyNotify(QWidget *parent = nullptr);

    void notify(const QString &name, const QString &location);
    QTimer *closeTimer() const { return m_tmrCloseMe; }

private:
    CallerPanel *m_caller;
    QTimer *m_tmrCloseMe;
};
