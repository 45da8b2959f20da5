#pragma once

#include "call/ConnectProgress.h"

#include "ui/CallDialog.h"

class CallControl;
class QLabel;
class SecurityNote;
class QPushButton;
class QTimer;

// The progress window of an outgoing call: what the attempt is doing, for how long, and a
// button to cancel it (which reads "OK" once the attempt is over).
class frmConStatus : public CallDialog
{
    Q_OBJECT

public:
    frmConStatus(CallControl &calls, QWidget *parent = nullptr);

    // A new attempt: who is called, and the count and button start afresh.
    void setCallee(const QString &name, const QString &location);
    QTimer *tmrSecond() const { return m_tmrSecond; }
    // Whether the call is encrypted, and a warning when the callee's key changed.
    SecurityNote *securityNote() const { return m_securityNote; }

protected:
    // Closed by the user (Cancel, OK, Esc, close box): the attempt is given up.
    void closing() override;

private:
    void onTick();

    CallControl &m_calls;
    ConnectProgress m_progress;
    QLabel *m_status;
    QLabel *m_seconds;
    QLabel *m_name;
    QLabel *m_location;
    QLabel *m_activity;
    SecurityNote *m_securityNote;
    QPushButton *m_cancel;
    QTimer *m_tmrSecond;
    bool m_closedByTick = false;
};
