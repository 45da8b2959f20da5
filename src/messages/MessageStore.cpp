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

quint64 MessageStore::serial(int slot) const
{
    return valid(slot) && m_slots[slot - 1].state == Complete ? m_slots[slot - 1].completedAt : 0;
}

quint64 MessageStore::oldestSerial() const
{
    quint64 oldest = 0;
    for (const Slot &s : m_slots) {
        if (s.state == Complete && (oldest == 0 || s.completedAt < oldest))
            oldest = s.completedAt;
    }
    return oldest;
}

std::optional<QuickMessage> MessageStore::take(quint64 serial)
{
    for (Slot &s : m_slots) {
        if (serial == 0 || s.state != Complete || s.completedAt != serial)
            continue;
        std::optional<QuickMessage> taken(std::move(s.message));
        s.message = QuickMessage();
        s.state = Free;
        return taken;
    }
    return std::nullopt;
}

std::optional<QuickMessage> MessageStore::takeOldest()
{
    return take(oldestSerial());
}
