#pragma once

#include "core/ChannelSecurity.h"
#include "core/FileError.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The keys of the peers this program has had calls and messages with, in a file of their
// own that only the owner may read. A peer is known by the e-mail address its certificate
// names, or by its address when it names none. The first key seen for a peer is kept; a
// later, different key is reported as a change and replaces it, unverified.
//
// The file holds one peer a line: who, the key's fingerprint in hex, "verified" or
// "unverified", and the address it last came from, separated by tabs; lines starting with
// "#" are comments. Lines that do not read as that are dropped.
class KnownPeers
{
public:
    static inline const QString FileName = QStringLiteral("known-peers.dat");
    static constexpr int MaxPeers = 1000;
    static constexpr qint64 MaxFileBytes = 512 * 1024;
    static constexpr int MaxWhoLength = 254;

    struct Peer
    {
        QString who;
        QByteArray key;
        bool verified = false;
        QString lastAddress;
    };

    enum class Seen {
        New,     // nobody known by that name
        Same,    // the key remembered for it
        Changed, // another key than the one remembered
    };

    // The names the directory servers' pinned keys go by (kept in a list of their own).
    static inline const QString ServerPrefix = QStringLiteral("directory:");

    // Who a peer is known as: its certificate's e-mail address (in lower case), else the
    // address; an address that names a directory server (ServerPrefix) counts as none.
    static QString whoOf(const QString &email, const QString &address);

    // A missing file is an empty list, and so is a link (never followed); bad lines are
    // dropped.
    void load(const QString &path);
    FileError save(const QString &path) const;
    static QList<Peer> parse(const QByteArray &bytes);
    static QByteArray format(const QList<Peer> &peers);

    const QList<Peer> &peers() const { return m_peers; }
    std::optional<Peer> find(const QString &who) const;
    Seen check(const QString &who, const QByteArray &key) const;
    // How the key stands with what is remembered for the peer: New, Known, Verified or Changed.
    PeerStanding standing(const QString &who, const QByteArray &key) const;
    // The key seen for the peer: kept when it is the one known (the address is brought up to
    // date), otherwise it replaces the one known, unverified. When the list is full the
    // peer seen longest ago goes, an unverified one before any verified.
    void remember(const QString &who, const QByteArray &key, const QString &address);
    // The user has compared the short codes: this key is the peer's. Remembers it first when
    // needed.
    void markVerified(const QString &who, const QByteArray &key, const QString &address);
    bool isVerified(const QString &who, const QByteArray &key) const;
    // Takes out every peer whose name starts with the prefix, and returns them.
    QList<Peer> takeNamed(const QString &prefix);
    // Some peer answered encrypted from this address before.
    bool answeredEncryptedFrom(const QString &address) const;

private:
    int indexOf(const QString &who) const;
    // Leaves at most `room` peers, the oldest unverified going first.
    static void trim(QList<Peer> &peers, int room);

    QList<Peer> m_peers;
};
