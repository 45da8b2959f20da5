#pragma once

#include <QMetaMethod>
#include <QObject>
#include <QString>

// What a running program tells those built on it (the window shell, a test): the steps of its
// start-up and shutdown, and what the user should be told. The program emits; it never asks
// who listens, except whether anybody hears a failed save.
class ProgramEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool saveFailureHeard() const { return isSignalConnected(QMetaMethod::fromSignal(&ProgramEvents::saveFailed)); }

signals:
    // The settings are read and the listeners bound, plain and encrypted; nothing else has
    // started yet. The window shell builds its main window here.
    void listenersReady();
    // The settings are read, the devices known and the listeners bound; capture, the chat
    // listener and the data files come next. The window shell builds its windows here.
    void loaded();
    // The start-up tail has finished (or was skipped for a command-line start).
    void startupTailFinished();
    // The shutdown begins; nothing has closed yet.
    void shuttingDown();
    // The shutdown is about to write the settings: the windows put their places in.
    void savingSettings();
    // The shutdown has run; the process may end.
    void finished();
    // Start-up found no camera or sound device; the text (also in the log) says which.
    void devicesMissing(const QString &text);
    // What the user should be told: a notice, an error, a plain message box. A file the
    // shutdown of a user's close could not write is saveFailed (or, when nobody listens,
    // a line on the terminal).
    void informationRequested(const QString &text);
    void errorRequested(const QString &text);
    void messageBoxRequested(const QString &text);
    void saveFailed(const QString &text);
    // How the call of the moment reached the peer ("direct", "through the routers",
    // "relayed"), for beside the lock; empty when no call is being made.
    void callWayChanged(const QString &way);
};
