#include "messages/MessageStore.h"

#include <algorithm>

int MessageStore::claim()
{
    for (int k = 1; k <= Slots; ++k) {
        Slot &s = m_slots[k - 1];
        if (s.state == Free) {
            s.state = Receiving;
            s.message = QuickMessage();
            return k;
        }
    }
    return 0;
}

void MessageStore::release(int slot)
{
    if (!valid(slot) || m_slots[slot - 1].state != Receiving)
        return;
    m_slots[slot - 1].state = Free;
    m_slots[slot - 1].message = QuickMessage();
}

void MessageStore::complete(int slot)
{
    if (!valid(slot) || m_slots[slot - 1].state != Receiving)
        return;
    m_slots[slot - 1].state = Complete;
    m_slots[slot - 1].completedAt = ++m_completions;
}

MessageStore::State MessageStore::state(int slot) const
{
    return valid(slot) ? m_slots[slot - 1].state : Free;
}

QuickMessage &MessageStore::message(int slot)
{
    return m_slots[std::clamp(slot, 1, Slots) - 1].message;
}

const QuickMessage &MessageStore::message(int slot) const
{
    return m_slots[std::clamp(slot, 1, Slots) - 1].message;
}

int MessageStore::waitingCount() const
{
    int n = 0;
    for (const Slot &s : m_slots)
        n += s.state == Complete ? 1 : 0;
    return n;
}

std::optional<QuickMessage> MessageStore::takeOldest()
{
    Slot *oldest = nullptr;
    for (Slot &s : m_slots) {
        if (s.state == Complete && (!oldest || s.completedAt < oldest->completedAt))
            oldest = &s;
    }
    if (!oldest)
        return std::nullopt;
    std::optional<QuickMessage> taken(std::move(oldest->message));
    oldest->message = QuickMessage();
    oldest->state = Free;
    return taken;
}
