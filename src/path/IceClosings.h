#pragma once

#include <QObject>

#include <memory>

class IceAgent;

// ICE agents being closed. An agent that goes first tells its relay to let go of its
// allocations, which takes a round trip to the relay on GLib's loop; a program that quits
// without waiting for it leaves them on the relay until they time out, minutes later. The
// sessions hand their agents here, and whoever ends the program waits, a bounded time, for
// the relay to have been told.
class IceClosings : public QObject
{
    Q_OBJECT

public:
    explicit IceClosings(QObject *parent = nullptr);
    ~IceClosings() override;

    // Closes an agent, taking it over.
    void close(std::unique_ptr<IceAgent> agent);
    // Agents whose closing has not ended yet.
    int pending() const;
    // Runs the event loop until every closing has ended, or `ms` have passed; whether all did.
    bool waitForAll(int ms);

    // What a closing that ends after this object has gone still counts down.
    struct Shared
    {
        int pending = 0;
        IceClosings *owner = nullptr;
    };

signals:
    void allClosed();

private:
    std::shared_ptr<Shared> m_shared;
};
