#pragma once

#include <QWidget>

class QPlainTextEdit;
class QSplitter;

// The text chat window: what the peer typed above (txtIn), own typing below (txtOut).
// Closing it only hides it; it lives for the whole run.
class frmNewChat : public QWidget
{
    Q_OBJECT

public:
    explicit frmNewChat(QWidget *parent = nullptr);

    QPlainTextEdit *txtIn() const { return m_txtIn; }
    QPlainTextEdit *txtOut() const { return m_txtOut; }
    // Inserts text at the end of the conversation box.
    void appendToConversation(const QString &text);
    QString conversation() const;
    void allowClose() { m_closing = true; }

signals:
    void hiddenByUser();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QPlainTextEdit *m_txtIn;
    QPlainTextEdit *m_txtOut;
    bool m_closing = false;
};
