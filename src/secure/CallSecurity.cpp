#include "secure/CallSecurity.h"

#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "secure/KnownPeers.h"
#include "secure/ShortCode.h"

CallSecurity::CallSecurity(IPPort &ippControl, IPDaemon &ipdControl, KnownPeers &peers,
                           std::function<void()> savePeers, QObject *parent)
    : QObject(parent)
    , m_ippControl(ippControl)
    , m_ipdControl(ipdControl)
    , m_peers(peers)
    , m_savePeers(std::move(savePeers))
{
    connect(&m_ippControl, &IPPort::connected, this, [this](int statusCode) {
        if (statusCode == 0)
            follow(Side::Caller, m_ippControl.security(), m_ippControl.remoteAddress());
        else
            clear(Side::Caller);
    });
    connect(&m_ippControl, &IPPort::disconnected, this, [this] { clear(Side::Caller); });
    connect(&m_ipdControl, &IPDaemon::connected, this, [this](int connectionId, int statusCode) {
        // Whoever reaches this side while it calls out is answered busy: not the call.
        if (connectionId == 1 && statusCode == 0 && m_side != Side::Caller)
            follow(Side::Callee, m_ipdControl.security(1), m_ipdControl.remoteAddress(1));
    });
    connect(&m_ipdControl, &IPDaemon::disconnected, this, [this](int connectionId) {
        if (connectionId == 1)
            clear(Side::Callee);
    });
}

void CallSecurity::follow(Side side, const ChannelSecurity &security, const QString &address)
{
    m_side = side;
    Status s;
    s.address = address;
    if (!security.encrypted()) {
        s.kind = Status::Kind::Plain;
        s.fellBack = security.fellBack;
        s.encryptedBefore = m_peers.answeredEncryptedFrom(address);
    } else {
        s.kind = Status::Kind::Encrypted;
        s.peerKey = security.peerKey;
        s.shortCode = ShortCode::words(security.ownKey, security.peerKey);
        s.who = KnownPeers::whoOf(security.peerEmail, address);
        s.standing = m_peers.standing(s.who, s.peerKey);
    }
    m_status = s;
    emit changed();
}

void CallSecurity::clear(Side side)
{
    if (m_side != side)
        return;
    m_side = Side::None;
    m_status = {};
    emit changed();
}

CallSecurity::Answer CallSecurity::answerFor(int connectionId, bool onlyEncrypted) const
{
    const ChannelSecurity security = m_ipdControl.security(connectionId);
    if (!security.encrypted()) {
        if (onlyEncrypted)
            return Answer::Refuse;
        // Plain where a peer answered encrypted before: someone on the path may have pushed
        // the call down, so it is never answered by itself.
        return m_peers.answeredEncryptedFrom(m_ipdControl.remoteAddress(connectionId)) ? Answer::AskWithoutAuto
                                                                                        : Answer::Ask;
    }
    if (connectionId == 1 && m_side == Side::Callee && m_status.keyChanged())
        return Answer::AskWithoutAuto;
    return Answer::Ask;
}

bool CallSecurity::belongsToCall(const ChannelSecurity &security) const
{
    return security.peerKey == m_ipdControl.security(1).peerKey;
}

void CallSecurity::callStarted()
{
    if (!m_status.encrypted())
        return;
    m_peers.remember(m_status.who, m_status.peerKey, m_status.address);
    m_savePeers();
}

void CallSecurity::markVerified()
{
    if (!m_status.encrypted() || m_status.verified())
        return;
    m_peers.markVerified(m_status.who, m_status.peerKey, m_status.address);
    m_savePeers();
    m_status.standing = PeerStanding::Verified;
    emit changed();
}

QString CallSecurity::plainText(const Status &status)
{
    if (status.fellBack)
        return tr("not encrypted: the encrypted connection failed");
    // The caller's own check failed quietly, or it went plain on purpose: this side can only
    // say what it remembers.
    if (status.encryptedBefore)
        return tr("not encrypted, although this address used encryption before");
    return tr("not encrypted: the other program is an older version");
}

QString CallSecurity::keyChangedText(const QString &who)
{
    return tr("Warning: %1 now shows another key than in earlier calls. Someone may be listening in "
              "between: compare the short code before you trust this call.")
        .arg(who);
}

QString CallSecurity::standingText(PeerStanding standing)
{
    switch (standing) {
    case PeerStanding::Verified:
        return tr("verified");
    case PeerStanding::Changed:
        return tr("key changed, not verified");
    case PeerStanding::New:
    case PeerStanding::Known:
        return tr("not verified");
    case PeerStanding::Unknown:
        break;
    }
    return {};
}
