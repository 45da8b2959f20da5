#pragma once

#include "call/CallPrompt.h"

#include <QDialog>
#include <optional>

class CallControl;
class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
struct ProgramState;

// The incoming-call prompt: who calls, accept or decline, auto-accept, and the automatic
// decline after AutoDecTime seconds.
class frmCallIn : public QDialog
{
    Q_OBJECT

public:
    frmCallIn(ProgramState &state, CallControl &calls, QWidget *parent = nullptr);

    // Fills the prompt for a new offer; autoAccepted when the acceptance already went out.
    void offer(const QString &name, const QString &location, bool autoAccepted);
    QTimer *tmrCloseMe() const { return m_tmrCloseMe; }

    // Esc closes the prompt like its close box, with the same bookkeeping.
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void onTick();
    // What closing the prompt means, done once whichever way it closes.
    void finish();

    ProgramState &m_state;
    CallControl &m_calls;
    std::optional<CallPrompt> m_prompt;
    QLabel *m_name;
    QLabel *m_location;
    QLabel *m_message;
    QPushButton *m_yes;
    QPushButton *m_no;
    QCheckBox *m_autoAccept;
    QTimer *m_tmrCloseMe;
    bool m_finished = false;
};
