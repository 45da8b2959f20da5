#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>

#include <deque>
#include <optional>

// The calls whose offers, answers and ends the server passes between two programs: which
// two connections each call id joins, until when, and how many calls each connection may
// start and be offered. It only keeps the books; the server reads and sends.
//
// Everything is bounded, since every entry is made by a peer: a connection starts at most
// a few calls at once and a few a minute, one callee is offered at most a few at once, and
// the whole table holds at most MaxCalls. A call nobody spoke of for IdleMs is forgotten.
class CallTable
{
public:
    using Handle = quint64;

    // Calls one connection may have started and not yet ended: a program calls one person
    // at a time, and may still be ending the last call while starting the next.
    static constexpr int MaxCallsPerCaller = 4;
    // Offers one connection may be sent at once: enough for a few people calling at the
    // same moment, too few for one person's calls to bury another's.
    static constexpr int MaxOffersPerCallee = 8;
    // Offers one connection may send a minute, whatever became of them: a program calling
    // by hand never gets near it; one asking who is on line by offering to everyone does.
    static constexpr int OffersPerMinute = 20;
    // Calls of the whole server; each costs a few hundred bytes.
    static constexpr int MaxCalls = 16384;
    // A call is forgotten this long after its last text: by then the two programs found
    // their path, or gave up.
    static constexpr qint64 IdleMs = 60000;
    // Texts of one call passed on: an offer, its answer, a few offers again and an end.
    // One side cannot pour texts over the other through a call.
    static constexpr int MaxTextsPerCall = 16;

    enum class Verdict {
        Passed,   // a new call, or the same caller offering the same callee again
        Refused,  // the id is another call's
        Limit,    // the caller, the callee or the table holds as many calls as it may
    };

    // Counts an offer against the connection's rate: false when it sent OffersPerMinute
    // within the last minute already (the offer is not counted then).
    bool takeOffer(Handle caller, qint64 nowMs);
    // Records the call between the two connections.
    Verdict offer(const QByteArray &id, Handle caller, Handle callee, qint64 nowMs);
    // What a text of a call is to the books.
    enum class Text {
        Answer, // only the callee sends it
        End,    // either side; always passes, however many texts went before
    };
    // The other side of the call, for a text of the call from `from`: nothing when `from`
    // may not send it, the call is unknown or was forgotten, or it passed its texts.
    std::optional<Handle> otherSide(const QByteArray &id, Handle from, qint64 nowMs, Text text);
    // The call is over.
    void end(const QByteArray &id);
    // The connection went: its calls are over. Each with the other side, which is told.
    QList<QPair<QByteArray, Handle>> leave(Handle handle);
    // Forgets the calls idle for IdleMs.
    void expire(qint64 nowMs);

    int size() const { return int(m_calls.size()); }
    bool isEmpty() const { return m_calls.isEmpty(); }

private:
    struct Call
    {
        Handle caller = 0;
        Handle callee = 0;
        qint64 lastMs = 0;
        int texts = 0;
    };
    struct Party
    {
        int started = 0;
        int offered = 0;
        QList<QByteArray> calls;
        // When its last offers came, oldest first; at most OffersPerMinute.
        std::deque<qint64> offers;
    };
    void forget(QHash<QByteArray, Call>::iterator it);
    void drop(Handle handle, const QByteArray &id, bool caller);

    QHash<QByteArray, Call> m_calls;
    QHash<Handle, Party> m_parties;
};
