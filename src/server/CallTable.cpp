#include "server/CallTable.h"

namespace {
constexpr qint64 MinuteMs = 60000;
}

bool CallTable::takeOffer(Handle caller, qint64 nowMs)
{
    std::deque<qint64> &offers = m_parties[caller].offers;
    while (!offers.empty() && nowMs - offers.front() >= MinuteMs)
        offers.pop_front();
    if (int(offers.size()) >= OffersPerMinute)
        return false;
    offers.push_back(nowMs);
    return true;
}

CallTable::Verdict CallTable::offer(const QByteArray &id, Handle caller, Handle callee, qint64 nowMs)
{
    if (const auto it = m_calls.find(id); it != m_calls.end()) {
        // The caller may offer again (its description changed); nobody else may use the id.
        if (it->caller != caller || it->callee != callee || nowMs - it->lastMs >= IdleMs || it->texts >= MaxTextsPerCall)
            return Verdict::Refused;
        it->lastMs = nowMs;
        ++it->texts;
        return Verdict::Passed;
    }
    Party &from = m_parties[caller];
    Party &to = m_parties[callee];
    if (from.started >= MaxCallsPerCaller || to.offered >= MaxOffersPerCallee || m_calls.size() >= MaxCalls)
        return Verdict::Limit;
    m_calls.insert(id, Call{caller, callee, nowMs, 1});
    ++from.started;
    from.calls.append(id);
    ++to.offered;
    to.calls.append(id);
    return Verdict::Passed;
}

std::optional<CallTable::Handle> CallTable::otherSide(const QByteArray &id, Handle from, qint64 nowMs, Text text)
{
    const auto it = m_calls.find(id);
    if (it == m_calls.end())
        return std::nullopt;
    if (nowMs - it->lastMs >= IdleMs) {
        forget(it);
        return std::nullopt;
    }
    const bool fromCaller = from == it->caller && text != Text::Answer;
    if ((!fromCaller && from != it->callee) || (text != Text::End && it->texts >= MaxTextsPerCall))
        return std::nullopt;
    it->lastMs = nowMs;
    ++it->texts;
    return fromCaller ? it->callee : it->caller;
}

void CallTable::end(const QByteArray &id)
{
    if (const auto it = m_calls.find(id); it != m_calls.end())
        forget(it);
}

QList<QPair<QByteArray, CallTable::Handle>> CallTable::leave(Handle handle)
{
    QList<QPair<QByteArray, Handle>> ended;
    const auto party = m_parties.find(handle);
    if (party == m_parties.end())
        return ended;
    const QList<QByteArray> ids = party->calls;
    for (const QByteArray &id : ids) {
        const auto it = m_calls.find(id);
        if (it == m_calls.end())
            continue;
        ended.append({id, it->caller == handle ? it->callee : it->caller});
        forget(it);
    }
    m_parties.remove(handle);
    return ended;
}

void CallTable::expire(qint64 nowMs)
{
    QList<QByteArray> idle;
    for (auto it = m_calls.cbegin(); it != m_calls.cend(); ++it) {
        if (nowMs - it->lastMs >= IdleMs)
            idle.append(it.key());
    }
    for (const QByteArray &id : std::as_const(idle))
        end(id);
}

void CallTable::forget(QHash<QByteArray, Call>::iterator it)
{
    const QByteArray id = it.key();
    const Call call = it.value();
    m_calls.erase(it);
    drop(call.caller, id, true);
    drop(call.callee, id, false);
}

void CallTable::drop(Handle handle, const QByteArray &id, bool caller)
{
    const auto party = m_parties.find(handle);
    if (party == m_parties.end())
        return;
    party->calls.removeOne(id);
    if (caller)
        --party->started;
    else
        --party->offered;
}
