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
    // A conversation box holding more than ConversationLimit characters is cut to its last
    // ConversationKeep before a received line goes in.
    static constexpr int ConversationLimit = 12000;
    static constexpr int ConversationKeep = 8000;

    // Inserts text at the end of the conversation box.
    void appendToConversation(const QString &text);
    // A line the peer sent: at the end of the conversation, with a line break.
    void insertReceivedLine(const QString &text);
    // The call is over: the typing box is emptied and the conversation says so.
    void endConnection();
    QString conversation() const;

private:
    QPlainTextEdit *m_txtIn;
    QPlainTextEdit *m_txtOut;
};
