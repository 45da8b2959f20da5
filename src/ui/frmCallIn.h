#pragma once

#include "call/CallPrompt.h"

#include "ui/CallDialog.h"

#include <QKeySequence>
#include <optional>

class CallControl;
class CallerPanel;
class QCheckBox;
class SecurityNote;
class QPushButton;
class QTimer;
struct Settings;

// The incoming-call prompt: who calls, accept or decline, auto-accept, and the automatic
// decline after AutoDecTime seconds.
class frmCallIn : public CallDialog
{
    Q_OBJECT

public:
    frmCallIn(Settings &settings, CallControl &calls, QWidget *parent = nullptr);

    // Fills the prompt for a new offer; autoAccepted when the acceptance already went out.
    void offer(const QString &name, const QString &location, bool autoAccepted);
    // Yes and No: the answer goes out and the prompt closes (whoever pressed them).
    void answer();
    void decline();
    QTimer *tmrCloseMe() const { return m_tmrCloseMe; }
    // The prompt shows without taking the keyboard: these keys answer and refuse from
    // whichever ZELMO window has it.
    static QKeySequence answerKey() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Y); }
    static QKeySequence refuseKey() { return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N); }
    // Whether the call is encrypted, and a warning when the caller's key changed.
    SecurityNote *securityNote() const { return m_securityNote; }

protected:
    void closing() override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void onTick();

    Settings &m_settings;
    CallControl &m_calls;
    std::optional<CallPrompt> m_prompt;
    CallerPanel *m_caller;
    SecurityNote *m_securityNote;
    QPushButton *m_yes;
    QPushButton *m_no;
    QCheckBox *m_autoAccept;
    QTimer *m_tmrCloseMe;
};
