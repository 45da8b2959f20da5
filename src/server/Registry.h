#pragma once

#include "server/NodeInfo.h"
#include "server/UserRegistry.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <optional>

// What the nodes of one directory service share: who is on line, the user numbers with
// the e-mail each belongs to, and which nodes are up. A node keeps its own users in its
// UserRegistry and tells the registry of every change; the registry answers the list,
// the e-mail lookups and the number requests for the whole service.
//
// Answers come through callbacks on the event loop, possibly later (a shared registry
// asks over the network) but always in the order of the questions. A registry that cannot
// reach its store answers from this node's own users, so users are served meanwhile.
class Registry : public QObject
{
    Q_OBJECT

public:
    using Key = UserRegistry::Key;
    using User = UserRegistry::User;
    using ListAnswer = UserRegistry::ListAnswer;

    explicit Registry(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // Opens the store. False with a reason.
    virtual bool open(QString *error) = 0;
    // This node leaves: its users go from the shared list at once.
    virtual void close() = 0;
    // Whether other nodes share it (and the server list should name them).
    virtual bool isShared() const = 0;
    // Where it keeps its data, for the operator.
    virtual QString description() const = 0;

    // A user of this node logged in, or logged in again with other details.
    virtual void userChanged(Key key, const User &user) = 0;
    virtual void userLeft(Key key, const User &user) = 0;

    // Answers give each user an address the asking client can reach. A user who reached
    // its node over loopback is on that node's machine: this node's own such users read
    // as `loopbackHost` (empty for a client on this machine, which reaches them as they
    // are), another node's as the host that node is reached at.
    //
    // The "LS1" answer: the counts and at most the client's table of listed users, with
    // the note of which of them are keyed.
    virtual void userList(const QString &loopbackHost, std::function<void(const ListAnswer &answer)> answer) = 0;
    // The latest login with this e-mail (lower case) anywhere in the service.
    virtual void findByEmail(const QString &email, const QString &loopbackHost,
                             std::function<void(std::optional<User>)> answer) = 0;
    // A user number never handed out before anywhere in the service (or, once all have
    // been, one never used for a login since the reclaim time), handed out to the key the
    // asker proved (empty: none); 0 with the reason when none is left or the store cannot
    // be written.
    virtual void issueNumber(const QByteArray &key, std::function<void(qint32 number, const QString &why)> answer) = 0;
    // How long a number handed out but never used for a login stays its receiver's.
    void setReclaimUnusedAfter(qint64 ms) { m_reclaimAfterMs = ms; }
    // The e-mail last seen with a number that was handed out (empty when none).
    virtual void emailOf(qint32 number, std::function<void(const QString &)> answer) = 0;
    virtual void issuedCount(std::function<void(qint64)> answer) = 0;

    // What a login says it is: its e-mail (lower case), its user number, and the key it
    // proved in its TLS handshake (empty for a plain login or one without a key).
    struct Claim
    {
        QString email;
        qint32 number = 0;
        QByteArray key;
    };
    // What of a claim the login may use. The first key to log in with an e-mail owns it,
    // and the number given with it when the service handed that number out to that key; a
    // login with another key, or none, keeps neither. A key owns a bounded number of
    // e-mails: a claim beyond them is served without the new e-mail. What a key owns is
    // free again for another key once the key has not logged in for the lapse time.
    struct Standing
    {
        bool email = true;
        bool number = true;
        // The e-mail is bound to the login's own key.
        bool keyed = false;
        // So is the number (one the service handed out, or one the key owned before).
        bool numberKeyed = false;
        // The e-mail was free but its key owns as many as it may already.
        bool overBound = false;
    };
    // Settles a claim, binding what is free to the claim's key. A store that cannot be
    // asked binds nothing and lets the claim use nothing that might be owned.
    virtual void settleClaim(const Claim &claim, std::function<void(Standing)> answer) = 0;
    // How many e-mails one key may own (0: no bound).
    void setMaxEmailsPerKey(int count) { m_maxEmailsPerKey = count; }
    // How long a key that does not log in keeps what it owns (0: for ever).
    void setOwnershipLapse(qint64 ms) { m_lapseMs = ms; }
    // The wall clock ownership lapses by, in ms since the epoch.
    void setClock(std::function<qint64()> now) { m_now = std::move(now); }
    // What the claim's key may still take: another e-mail, and the claimed number (only one
    // the service handed out to this key, or handed out before it kept to whom).
    struct Room
    {
        bool email = true;
        bool numberIssued = true;
    };
    // What is to be bound to the claim's key.
    struct Binding
    {
        bool email = false;
        bool number = false;
    };
    // The decision itself, given the keys that own the e-mail and the number (empty: free).
    static Standing judge(const Claim &claim, const QByteArray &emailOwner, const QByteArray &numberOwner,
                          Binding *bind, Room room)
    {
        Standing s;
        const bool claimsEmail = !claim.email.isEmpty();
        const bool claimsNumber = claim.number > 0;
        const bool hasKey = !claim.key.isEmpty();
        s.email = !claimsEmail || emailOwner.isEmpty() || (hasKey && emailOwner == claim.key);
        s.number = !claimsNumber || numberOwner.isEmpty() || (hasKey && numberOwner == claim.key);
        const bool ownsEmail = claimsEmail && hasKey && emailOwner == claim.key;
        if (hasKey && claimsEmail && emailOwner.isEmpty() && s.number && !room.email) {
            s.email = false;
            s.overBound = true;
        }
        // Both must be free or the key's own to bind; an e-mail the key owns already is
        // the key's whatever number comes with it.
        bind->email = hasKey && claimsEmail && s.email && s.number;
        bind->number = bind->email && claimsNumber && room.numberIssued;
        s.keyed = bind->email || ownsEmail;
        s.numberKeyed = bind->number || (claimsNumber && hasKey && numberOwner == claim.key);
        return s;
    }
    // What a claim may use when the store cannot be asked: nothing that someone may own.
    static Standing unsettled(const Claim &claim)
    {
        Standing s;
        s.email = claim.email.isEmpty();
        s.number = claim.number <= 0;
        return s;
    }

    // This node's regular report: its address, load and rates. It also renews the
    // expiry of the node's users, so it must come more often than the expiry.
    virtual void report(const NodeInfo &self) = 0;
    // The nodes that were up at the last report, this one among them.
    virtual QVector<NodeInfo> nodes() const = 0;

signals:
    // Losing and finding the store again, for the operator's log.
    void logLine(const QString &line);
    // A key bound this claim's e-mail and number, here or on another node of the store.
    void claimBound(const Registry::Claim &claim);

protected:
    // A store that failed says what and why, at most once a minute for each kind of
    // failure, with how often it failed in between.
    void reportFailure(const QString &what, const QString &why)
    {
        Failure &f = m_failures[what];
        ++f.count;
        if (f.told.isValid() && f.told.elapsed() < FailureReportMs)
            return;
        emit logLine(QStringLiteral("%1: %2%3")
                         .arg(what, why,
                              f.count > 1 ? QStringLiteral(" (%1 failures since the last report)").arg(f.count)
                                          : QString()));
        f.count = 0;
        f.told.start();
    }
    qint64 now() const { return m_now(); }
    // One line for the operator: a key's ownership lapsed and `freed` names are free again.
    void reportLapse(const QByteArray &key, qint64 idleMs, int freed)
    {
        emit logLine(QStringLiteral("key %1 has not logged in for %2 days: %3 e-mails and numbers it owned are free again")
                         .arg(QString::fromLatin1(key.toHex().left(16)))
                         .arg(idleMs / (24 * 3600 * 1000))
                         .arg(freed));
    }
    // Whether a key last seen logging in at `seenMs` has let its ownership lapse.
    bool lapsed(qint64 seenMs) const { return m_lapseMs > 0 && now() - seenMs >= m_lapseMs; }
    static constexpr int FailureReportMs = 60000;
    qint64 m_reclaimAfterMs = 24 * 3600 * 1000;
    int m_maxEmailsPerKey = 5;
    qint64 m_lapseMs = 180LL * 24 * 3600 * 1000;

private:
    std::function<qint64()> m_now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    struct Failure
    {
        QElapsedTimer told;
        int count = 0;
    };
    QHash<QString, Failure> m_failures;
};
