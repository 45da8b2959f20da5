#pragma once

#include "ui/SatelliteWindow.h"

class QPlainTextEdit;
class QSplitter;

// The text chat window: what the peer typed above (txtIn), own typing below (txtOut).
// Closing it only hides it; it lives for the whole run.
class frmNewChat : public SatelliteWindow
{
    Q_OBJECT

public:
    explicit frmNewChat(QWidget *parent = nullptr);

    QPlainTextEdit *txtIn() const { return m_txtIn; }
    QPlainTextEdit *txtOut() const { return m_txtOut; }
    // Inserts text at the end of the conversation box.
    void appendToConversation(const QString &text);
    QString conversation() const;

private:
    QPlainTextEdit *m_txtIn;
    QPlainTextEdit *m_txtOut;
};
