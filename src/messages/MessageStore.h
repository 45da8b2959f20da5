#pragma once

#include "messages/QuickMessage.h"

#include <array>
#include <optional>

// The message slot table: ten slots, numbered 1 to 10, each free, receiving a message
// from one connection, or holding a complete message until the user reads it.
class MessageStore
{
public:
    static constexpr int Slots = 10;
    enum State : qint16 { Free = 0, Receiving = 1, Complete = 2 };

    // The lowest-numbered free slot, emptied and marked receiving at once, so that two
    // connections opened together never share one; 0 when every slot is taken.
    int claim();
    // A receiving slot goes back to free with whatever it held (a lost or turned-away
    // connection); a complete one is left alone.
    void release(int slot);
    // The receiving slot's message becomes complete and waits to be read.
    void complete(int slot);

    State state(int slot) const;
    // The message of a slot, 1 to 10 (slot numbers outside that are the caller's fault).
    QuickMessage &message(int slot);
    const QuickMessage &message(int slot) const;

    int waitingCount() const;
    // A complete message's number, which no other message of this run gets: its place in
    // the order of completion (1 for the first). 0 for a slot that holds none.
    quint64 serial(int slot) const;
    // The number of the message that has waited longest; 0 when none waits.
    quint64 oldestSerial() const;
    // Takes the waiting message of that number out of its slot, which becomes free.
    std::optional<QuickMessage> take(quint64 serial);
    // Takes the message that has waited longest out of its slot, which becomes free.
    std::optional<QuickMessage> takeOldest();

private:
    struct Slot
    {
        State state = Free;
        // Order of completion: the oldest waiting message has the lowest.
        quint64 completedAt = 0;
        QuickMessage message;
    };
    bool valid(int slot) const { return slot >= 1 && slot <= Slots; }

    std::array<Slot, Slots> m_slots;
    quint64 m_completions = 0;
};
