#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class AudioEngine;
class MessageService;
class QWidget;
class VideoEngine;
class frmMain;

// Lets a demo or a test drive a running program from outside the way a person does
// (zelmo --test-hook): each command names a window and one of its controls by object
// name, and clicks, holds, types into or double-clicks it with mouse and key events, reads
// what it shows, or saves a picture of the window. Only what a person could reach can be
// used: a visible window that no modal window blocks, a visible and enabled control, an
// enabled menu item. Nothing sets the program's state behind its windows.
//
// Commands, one per line; each gets one answer line, "ok ..." or "error ...":
//   windows                      the visible windows' object names
//   trigger ACTION               choose the main window's menu item ACTION
//   click WINDOW CONTROL         a left click in the middle of CONTROL
//   press WINDOW CONTROL         the left button goes down there (and stays down)
//   release WINDOW CONTROL       and comes up again
//   type WINDOW CONTROL TEXT     keys for TEXT into CONTROL; "\n" is Enter, "\\" a backslash
//   doubleclick WINDOW CONTROL   a double click in the middle of CONTROL
//   select WINDOW LIST TEXT      a click on the first row of LIST that contains TEXT
//   activate WINDOW LIST TEXT    a double click on that row
//   tip WINDOW LIST TEXT         the tool tip shown when pointing at that row
//   text WINDOW CONTROL          what CONTROL shows ("-" for the window's title)
//   grab WINDOW CONTROL FILE     CONTROL ("-" for the whole window) as it is shown, saved
//                                as a PNG picture
//   counters                     what came in: video frames drawn, sound the speaker got,
//                                quick messages received whole and those still unread
// Line breaks in an answer are written "\n", backslashes "\\".
class TestHook : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // The windows it drives: the main window and those it owns.
        frmMain &mainWindow;
        // What it counts: frames drawn, sound the speaker got, messages received.
        VideoEngine &video;
        AudioEngine &audio;
        MessageService &messages;
    };

    explicit TestHook(Context context, QObject *parent = nullptr);

    // Reads commands from this file descriptor and writes the answers to standard output.
    void listen(int fd);
    // Runs one command and returns its answer.
    QString run(const QString &command);

    static QString escaped(const QString &text);
    static QString unescaped(const QString &text);

private:
    QList<QWidget *> windows() const;
    QWidget *window(const QString &name, QString *error) const;
    QWidget *control(const QString &windowName, const QString &controlName, bool forUse, QString *error) const;
    QString counters() const;

    Context m_;
    qint64 m_framesDrawn = 0;
    int m_messagesWaiting = 0;
    int m_messagesReceived = 0;
};
