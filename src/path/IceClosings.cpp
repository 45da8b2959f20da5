#include "path/IceClosings.h"

#include "path/IceAgent.h"

#include <QEventLoop>
#include <QTimer>

IceClosings::IceClosings(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

IceClosings::~IceClosings()
{
    m_shared->owner = nullptr;
}

void IceClosings::close(std::unique_ptr<IceAgent> agent)
{
    if (!agent)
        return;
    ++m_shared->pending;
    // The agent's closing outlives the agent object, and counts down here when it ends,
    // whether or not this object is still there.
    agent->close([shared = m_shared] {
        --shared->pending;
        if (shared->owner && shared->pending == 0)
            emit shared->owner->allClosed();
    });
}

int IceClosings::pending() const
{
    return m_shared->pending;
}

bool IceClosings::waitForAll(int ms)
{
    if (m_shared->pending == 0)
        return true;
    QEventLoop loop;
    connect(this, &IceClosings::allClosed, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return m_shared->pending == 0;
}
