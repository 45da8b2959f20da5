#pragma once

#include <QDialog>

// A call window that must do its bookkeeping however it closes: its buttons, its close
// box or Esc (which a plain dialog handles without a close event).
class CallDialog : public QDialog
{
    Q_OBJECT

public:
    using QDialog::QDialog;

    void reject() override;

signals:
    // Once per showing, whichever way the window closed.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Runs once per showing, whichever way the window closes.
    virtual void closing() = 0;
    // A window shown again (a new offer, a new attempt) closes anew.
    void reopen() { m_closed = false; }

private:
    void finish();

    bool m_closed = false;
};
