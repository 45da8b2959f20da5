#pragma once

#include "core/ChannelSecurity.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class IPDaemon;
class IPPort;
class KnownPeers;

// The encryption of the call at hand, as its user is told about it: plain (and why), or
// encrypted with the short code both users read to each other, and whether the peer's key
// is verified or is not the one remembered for that peer. The call is the caller's control
// connection, or, on the answering side, control connection 1.
class CallSecurity : public QObject
{
    Q_OBJECT

public:
    struct Status
    {
        enum class Kind { None, Plain, Encrypted };
        Kind kind = Kind::None;
        // Plain: the encrypted way was expected and failed (seen by the caller), or the peer's
        // address answered encrypted before.
        bool fellBack = false;
        bool encryptedBefore = false;
        QString shortCode;
        PeerStanding standing = PeerStanding::Unknown;
        // The peer as it is remembered: its e-mail address, else its address.
        QString who;
        QString address;
        QByteArray peerKey;

        bool encrypted() const { return kind == Kind::Encrypted; }
        bool keyChanged() const { return standing == PeerStanding::Changed; }
        bool verified() const { return standing == PeerStanding::Verified; }
    };

    // What answering a call request may do.
    enum class Answer {
        Ask,             // as always
        AskWithoutAuto,  // the key changed, or a call is plain from an address that was encrypted
                         // before: the user decides, even with auto-accept on
        Refuse,          // plain, and only encrypted calls are allowed
    };

    CallSecurity(IPPort &ippControl, IPDaemon &ipdControl, KnownPeers &peers, std::function<void()> savePeers,
                 QObject *parent = nullptr);

    const Status &status() const { return m_status; }

    // The answering side's check of a request on a control connection.
    Answer answerFor(int connectionId, bool onlyEncrypted) const;
    // A media or chat connection belongs to the call answered on control connection 1 only
    // when it is encrypted with the same key, or plain like it.
    bool belongsToCall(const ChannelSecurity &security) const;

    // The call is up: the peer's key is remembered (a changed key replaces the old one,
    // unverified; this call stays marked as changed).
    void callStarted();
    // The user compared the short codes and they match.
    void markVerified();

    // What the windows say.
    static QString plainText(const Status &status);
    static QString keyChangedText(const QString &who);
    static QString standingText(PeerStanding standing);

signals:
    void changed();

private:
    enum class Side { None, Caller, Callee };
    void follow(Side side, const ChannelSecurity &security, const QString &address);
    void clear(Side side);

    IPPort &m_ippControl;
    IPDaemon &m_ipdControl;
    KnownPeers &m_peers;
    std::function<void()> m_savePeers;
    Side m_side = Side::None;
    Status m_status;
};
