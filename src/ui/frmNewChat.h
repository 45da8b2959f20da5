#pragma once

#include "ui/SatelliteWindow.h"

class ChatSession;
class ChatText;
class QFrame;
class QKeyEvent;
class QPlainTextEdit;
class QPushButton;
class QSplitter;

// The text chat window: what the peer wrote above (txtIn), the user's own typing below
// (txtOut), and the buttons Ring User, Clear Text and the two font sizes. It shows the
// chat's texts and hands every key to the chat; the typing box only ever grows or shrinks
// at its end, so what the peer has received always matches its end. Closing it only hides
// it; it lives for the whole run.
class frmNewChat : public SatelliteWindow
{
    Q_OBJECT

public:
    explicit frmNewChat(ChatSession &chat, QWidget *parent = nullptr);

    QPlainTextEdit *txtIn() const { return m_txtIn; }
    QPlainTextEdit *txtOut() const { return m_txtOut; }
    // What the conversation box shows, brought up to date first.
    QString conversation();
    // The boxes follow the chat's texts once per pass of the event loop, so a burst of
    // characters costs one update; this brings them up to date at once.
    void showPending();

    // At the main window's left edge, directly below it; a window that would start below
    // the screen goes 150 pixels above the screen's bottom edge. While the main window's
    // frame is not known yet (it is not on screen), this is done again once it is.
    void placeBelow(QWidget *mainWindow);

signals:
    // The window became the active one: the main window shows it as open.
    void activated();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // A box and the changes of its text not shown yet: one change, or appends after it,
    // are replayed; anything more and the box takes the chat's text whole.
    struct BoxSync
    {
        QPlainTextEdit *box = nullptr;
        const ChatText *text = nullptr;
        bool scheduled = false;
        int edits = 0;
        bool whole = false;
        int cut = 0;
        int chop = 0;
        QString added;
    };

    bool typingKey(QKeyEvent *event);
    void applyFontSize(int points);
    void queueEdit(BoxSync &sync, int cut, int chop, const QString &added);
    static void catchUp(BoxSync &sync);

    ChatSession &m_chat;
    QSplitter *m_split;
    QPlainTextEdit *m_txtIn;
    QPlainTextEdit *m_txtOut;
    QFrame *m_panel;
    QWidget *m_placedBelow = nullptr;
    bool m_awaitingMainFrame = false;
    BoxSync m_inSync;
    BoxSync m_outSync;
};
