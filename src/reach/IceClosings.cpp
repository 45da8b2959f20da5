#include "reach/IceClosings.h"

#include <QEventLoop>
#include <QTimer>

// GLib's headers name struct members "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <nice/agent.h>
#pragma pop_macro("signals")

namespace {

void closed(GObject *, GAsyncResult *, gpointer data)
{
    auto *ticket = static_cast<std::shared_ptr<IceClosings::Shared> *>(data);
    IceClosings::Shared &shared = **ticket;
    --shared.pending;
    if (shared.owner && shared.pending == 0)
        emit shared.owner->allClosed();
    delete ticket;
}

} // namespace

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

void IceClosings::close(void *agent)
{
    if (!agent)
        return;
    ++m_shared->pending;
    // The ticket lives until the closing ends (the agent's task holds the agent until
    // then), and counts it down there, whether or not this object is still there.
    auto *ticket = new std::shared_ptr<Shared>(m_shared);
    nice_agent_close_async(static_cast<NiceAgent *>(agent), closed, ticket);
    g_object_unref(agent);
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
