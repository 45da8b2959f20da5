#pragma once

#include <QObject>
#include <QString>

// The question a directory or pal server with a new key raises: asked once while it is
// open, however many connections are refused meanwhile, and the user's answer passed on.
class ServerKeyTrust : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

public slots:
    // A connection's security layer sent nothing to the server; with `canAccept`, the
    // server showed a new key the user may accept.
    void connectionBlocked(const QString &text, bool canAccept);
    // The user's answer to the question.
    void answer(bool accept);

signals:
    // Ask the user whether to accept the server's new key.
    void question(const QString &text);
    // Accepted: the offered keys are to be pinned and the connections made again.
    void accepted();

private:
    bool m_questionOpen = false;
};
