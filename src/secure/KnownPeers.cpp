#include "secure/KnownPeers.h"

#include "core/LineFile.h"

#include <QSet>

#include <algorithm>

namespace {

constexpr int KeyBytes = 32;

const QByteArray Verified = QByteArrayLiteral("verified");
const QByteArray Unverified = QByteArrayLiteral("unverified");

// Names and addresses are printable and hold no tab, so a line always splits back the same way.
bool plainText(const QString &text, int maxLength)
{
    if (text.isEmpty() || text.size() > maxLength)
        return false;
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSpace() || !c.isPrint(); });
}

} // namespace

QString KnownPeers::whoOf(const QString &email, const QString &address)
{
    const QString e = email.trimmed().toLower();
    // The directory servers' names are not a peer's to claim: such a peer is known by its address.
    return e.isEmpty() || e.startsWith(ServerPrefix) ? address.trimmed() : e;
}

void KnownPeers::load(const QString &path)
{
    m_peers.clear();
    // The latest peers are at the end: a file too long is read from there.
    if (const std::optional<QByteArrayList> lines = LineFile::read(path, MaxFileBytes, LineFile::Part::Tail))
        m_peers = parse(lines->join('\n'));
}

FileError KnownPeers::save(const QString &path) const
{
    return LineFile::writeBytes(path, format(m_peers), LineFile::Access::OwnerOnly);
}

QList<KnownPeers::Peer> KnownPeers::parse(const QByteArray &bytes)
{
    QList<Peer> peers;
    for (const QByteArray &line : LineFile::splitLines(bytes)) {
        if (line.startsWith('#'))
            continue;
        const QByteArrayList fields = line.split('\t');
        if (fields.size() != 4)
            continue;
        Peer peer;
        peer.who = QString::fromUtf8(fields[0]);
        peer.key = QByteArray::fromHex(fields[1]);
        peer.lastAddress = QString::fromUtf8(fields[3]);
        if (fields[2] != Verified && fields[2] != Unverified)
            continue;
        peer.verified = fields[2] == Verified;
        // fromHex() skips what is not hex: the text must be exactly the key's digits.
        if (!plainText(peer.who, MaxWhoLength) || fields[1].size() != KeyBytes * 2 || peer.key.size() != KeyBytes
            || peer.key.toHex() != fields[1].toLower() || !plainText(peer.lastAddress, MaxWhoLength))
            continue;
        peers.append(peer);
    }
    // A name written twice: the later line wins, as it would have replaced the first.
    QSet<QString> seen;
    QList<Peer> latest;
    for (auto it = peers.crbegin(); it != peers.crend(); ++it) {
        if (!seen.contains(it->who)) {
            seen.insert(it->who);
            latest.prepend(*it);
        }
    }
    trim(latest, MaxPeers);
    return latest;
}

void KnownPeers::trim(QList<Peer> &peers, int room)
{
    // The list runs from the peer seen longest ago to the latest. The oldest go first, but
    // a key the user verified outlasts every unverified one.
    for (const bool verifiedToo : {false, true}) {
        for (qsizetype i = 0; i < peers.size() && peers.size() > room;) {
            if (!peers[i].verified || verifiedToo)
                peers.removeAt(i);
            else
                ++i;
        }
    }
}

QByteArray KnownPeers::format(const QList<Peer> &peers)
{
    QByteArray bytes = QByteArrayLiteral("# ZELMO's known peers: who, key fingerprint (SHA-256), verified, last address\n");
    for (const Peer &p : peers) {
        bytes += p.who.toUtf8() + '\t' + p.key.toHex() + '\t' + (p.verified ? Verified : Unverified) + '\t'
                 + p.lastAddress.toUtf8() + '\n';
    }
    return bytes;
}

int KnownPeers::indexOf(const QString &who) const
{
    for (int i = 0; i < m_peers.size(); ++i) {
        if (m_peers[i].who == who)
            return i;
    }
    return -1;
}

std::optional<KnownPeers::Peer> KnownPeers::find(const QString &who) const
{
    const int i = indexOf(who);
    return i < 0 ? std::nullopt : std::optional<Peer>(m_peers[i]);
}

KnownPeers::Seen KnownPeers::check(const QString &who, const QByteArray &key) const
{
    const int i = indexOf(who);
    if (i < 0)
        return Seen::New;
    return m_peers[i].key == key ? Seen::Same : Seen::Changed;
}

PeerStanding KnownPeers::standing(const QString &who, const QByteArray &key) const
{
    switch (check(who, key)) {
    case Seen::New:
        return PeerStanding::New;
    case Seen::Same:
        return isVerified(who, key) ? PeerStanding::Verified : PeerStanding::Known;
    case Seen::Changed:
        break;
    }
    return PeerStanding::Changed;
}

void KnownPeers::remember(const QString &who, const QByteArray &key, const QString &address)
{
    if (!plainText(who, MaxWhoLength) || key.size() != KeyBytes)
        return;
    const QString from = plainText(address, MaxWhoLength) ? address : who;
    const int i = indexOf(who);
    Peer peer{who, key, false, from};
    if (i >= 0) {
        if (m_peers[i].key == key)
            peer.verified = m_peers[i].verified;
        m_peers.removeAt(i);
    }
    // The list is kept in the order peers were last seen, the latest last.
    trim(m_peers, MaxPeers - 1);
    m_peers.append(peer);
}

void KnownPeers::markVerified(const QString &who, const QByteArray &key, const QString &address)
{
    remember(who, key, address);
    const int i = indexOf(who);
    if (i >= 0 && m_peers[i].key == key)
        m_peers[i].verified = true;
}

bool KnownPeers::isVerified(const QString &who, const QByteArray &key) const
{
    const int i = indexOf(who);
    return i >= 0 && m_peers[i].key == key && m_peers[i].verified;
}

QList<KnownPeers::Peer> KnownPeers::takeNamed(const QString &prefix)
{
    QList<Peer> taken;
    for (const Peer &p : std::as_const(m_peers)) {
        if (p.who.startsWith(prefix))
            taken.append(p);
    }
    m_peers.removeIf([&](const Peer &p) { return p.who.startsWith(prefix); });
    return taken;
}

bool KnownPeers::answeredEncryptedFrom(const QString &address) const
{
    return std::any_of(m_peers.begin(), m_peers.end(), [&](const Peer &p) { return p.lastAddress == address; });
}
