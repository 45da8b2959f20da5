#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the event loop, so that they run the same
// orderly shutdown as Quit. Only one may exist per process, since signal dispositions are.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    int m_fds[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
};
