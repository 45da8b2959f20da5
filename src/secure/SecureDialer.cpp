#include "secure/SecureDialer.h"

#include "core/EndpointConnection.h"
#include "core/EndpointError.h"
#include "core/PeerChannel.h"
#include "secure/BridgedSocket.h"
#include "secure/DialAttempt.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int MaxBindings = 16;

} // namespace

// One try at the encrypted port; reports to its dialer once, from the event loop.
class SecureDialer::Attempt : public DialAttempt
{
public:
    struct Plan
    {
        QHostAddress address;
        int basePort = 0;
        PeerChannel channel = PeerChannel::Control;
        // Plain after a failure, or only the key the call's control connection saw.
        bool mayFallBack = true;
        QByteArray pinnedKey;
        int answerMs = PlainAnswerMs;
        int handshakeMs = HandshakeMs;
        bool answeredBefore = false;
        bool currentFormats = false;
    };

    Attempt(SecureDialer *owner, Plan plan, std::function<void(Outcome)> done)
        : m_owner(owner)
        , m_plan(std::move(plan))
        , m_done(std::move(done))
    {
    }

    const Plan &plan() const { return m_plan; }
    void deliver(Outcome outcome) { m_done(std::move(outcome)); }

    void start(const TlsSetup::Credentials &own)
    {
        prepare(own, {m_plan.channel}, nullptr, m_plan.currentFormats);
        connect(m_timer, &QTimer::timeout, this, [this] { m_connected ? failed() : unanswered(); });
        knock(m_socket);
        m_timer->start(m_plan.answerMs);
        // The system sends a lost connection request again only after a second, later than
        // a peer that does not answer is waited for; on a lossy line a second request, sent
        // early beside the first, keeps such a loss from making the call plain.
        if (m_plan.answerMs > SecondRequestMs) {
            QTimer::singleShot(SecondRequestMs, this, [this] {
                if (m_connected || concluded() || m_spare)
                    return;
                m_spare = new QSslSocket(this);
                m_spare->setSslConfiguration(m_socket->sslConfiguration());
                knock(m_spare);
            });
        }
    }

    // The path is already there: a local socket whose other end carries the channel.
    void startOver(const TlsSetup::Credentials &own, QSslSocket *connected)
    {
        prepare(own, {m_plan.channel}, connected, m_plan.currentFormats);
        m_connected = true;
        connect(m_timer, &QTimer::timeout, this, [this] { failed(); });
        connect(m_socket, &QSslSocket::encrypted, this, [this] { secured(); });
        connect(m_socket, &QAbstractSocket::errorOccurred, this, [this] { failed(); });
        connect(m_socket, &QAbstractSocket::disconnected, this, [this] { failed(); });
        m_timer->start(m_plan.handshakeMs);
        m_socket->startClientEncryption();
    }

private:
    static constexpr int SecondRequestMs = 200;

    void knock(QSslSocket *socket)
    {
        connect(socket, &QAbstractSocket::connected, this, [this, socket] { answered(socket); });
        connect(socket, &QSslSocket::encrypted, this, [this] { secured(); });
        connect(socket, &QAbstractSocket::errorOccurred, this, [this, socket] { broke(socket); });
        connect(socket, &QAbstractSocket::disconnected, this, [this] { failed(); });
        socket->connectToHost(m_plan.address, quint16(PortPlan::encrypted(m_plan.basePort)));
    }

    // The first request answered is the connection; the other one is withdrawn.
    void answered(QSslSocket *socket)
    {
        if (socket == m_spare)
            std::swap(m_socket, m_spare);
        dropSpare();
        m_connected = true;
        TlsSetup::sendAtOnce(*m_socket);
        m_timer->start(m_plan.handshakeMs);
        m_socket->startClientEncryption();
    }

    void broke(QSslSocket *socket)
    {
        // The other request may still be answered.
        if (!m_connected && m_spare) {
            if (socket == m_socket)
                std::swap(m_socket, m_spare);
            dropSpare();
            return;
        }
        m_connected ? failed() : unanswered();
    }

    void dropSpare()
    {
        if (!m_spare)
            return;
        m_spare->disconnect(this);
        m_spare->abort();
        m_spare->deleteLater();
        m_spare = nullptr;
    }

    void secured()
    {
        const ChannelSecurity security = this->security();
        if (!security.encrypted() || TlsSetup::agreedChannel(*m_socket) != m_plan.channel) {
            failed();
            return;
        }
        if (!m_plan.pinnedKey.isEmpty() && security.peerKey != m_plan.pinnedKey) {
            conclude({Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError,
                      QStringLiteral("The peer answered with another key than the one of the call")});
            return;
        }
        conclude(handOver(security));
    }

    // Nobody took the connection: no program listens there, or a firewall keeps silent.
    void unanswered() { fallBack(m_plan.answeredBefore); }
    // Something answered, but no encrypted connection came of it.
    void failed() { fallBack(true); }

    void fallBack(bool expected)
    {
        if (!m_plan.mayFallBack) {
            conclude({Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError,
                      QStringLiteral("The encrypted connection to the peer failed")});
            return;
        }
        Outcome plain;
        plain.kind = Outcome::Kind::Plain;
        plain.security.fellBack = expected;
        conclude(plain);
    }

    void report(Outcome outcome) override
    {
        dropSpare();
        m_owner->finish(this, std::move(outcome));
    }

    SecureDialer *m_owner;
    Plan m_plan;
    std::function<void(Outcome)> m_done;
    bool m_connected = false;
    // A second request to the encrypted port while the first is unanswered.
    QSslSocket *m_spare = nullptr;
};

SecureDialer::SecureDialer(Context context, QObject *parent)
    : QObject(parent)
    , m_context(std::move(context))
{
}

void SecureDialer::setWaits(int plainAnswerMs, int knownPeerWaitMs, int handshakeMs)
{
    m_plainAnswerMs = plainAnswerMs;
    m_knownPeerWaitMs = knownPeerWaitMs;
    m_handshakeMs = handshakeMs;
}

QString SecureDialer::notEncryptedText()
{
    return tr("Only encrypted calls are allowed, and the other program does not answer encrypted");
}

std::unique_ptr<QObject> SecureDialer::dial(const QHostAddress &address, int port, PeerChannel channel,
                                            std::function<void(Outcome)> done)
{
    return dialDirect(address, port, channel, std::move(done), false);
}

std::unique_ptr<QObject> SecureDialer::dialBesidePath(const QHostAddress &address, int port, PeerChannel channel,
                                                      std::function<void(Outcome)> done)
{
    return dialDirect(address, port, channel, std::move(done), true);
}

std::unique_ptr<QObject> SecureDialer::dialDirect(const QHostAddress &address, int port, PeerChannel channel,
                                                  std::function<void(Outcome)> done, bool besidePath)
{
    Attempt::Plan plan;
    plan.address = address;
    plan.channel = channel;
    plan.basePort = PortPlan::base(port, channel);
    plan.handshakeMs = m_handshakeMs;
    plan.currentFormats = offersCurrentFormats(channel);
    const QString dotted = EndpointConnection::dottedAddress(address);
    plan.answeredBefore = m_context.answeredEncryptedFrom && m_context.answeredEncryptedFrom(dotted);
    plan.answerMs = plan.answeredBefore && !besidePath ? m_knownPeerWaitMs : m_plainAnswerMs;

    bool tryEncrypted = plan.basePort >= 1 && PortPlan::encrypted(plan.basePort) <= 65535;
    if (tryEncrypted && (channel == PeerChannel::Media || channel == PeerChannel::Chat)) {
        // The call's other channels go the way its control connection went.
        if (const Binding *b = binding(dotted, plan.basePort)) {
            tryEncrypted = b->encrypted;
            plan.mayFallBack = false;
            plan.pinnedKey = b->key;
            plan.answerMs = m_handshakeMs;
        }
    }
    const TlsSetup::Credentials own = m_context.credentials ? m_context.credentials() : TlsSetup::Credentials();
    auto attempt = std::make_unique<Attempt>(this, plan, std::move(done));
    if (tryEncrypted && !own.isNull()) {
        attempt->start(own);
    } else {
        Outcome plain;
        plain.kind = Outcome::Kind::Plain;
        attempt->decide(plain);
    }
    return attempt;
}

std::unique_ptr<QObject> SecureDialer::dialOver(int descriptor, const QHostAddress &address, int port,
                                                PeerChannel channel, std::function<void(Outcome)> done)
{
    Attempt::Plan plan;
    plan.address = address;
    plan.channel = channel;
    plan.basePort = PortPlan::base(port, channel);
    plan.handshakeMs = m_handshakeMs;
    plan.currentFormats = offersCurrentFormats(channel);
    // Only programs of this version find such a path: nothing goes plain over it.
    plan.mayFallBack = false;
    if (channel == PeerChannel::Media || channel == PeerChannel::Chat) {
        if (const Binding *b = binding(EndpointConnection::dottedAddress(address), plan.basePort))
            plan.pinnedKey = b->key;
    }
    const TlsSetup::Credentials own = m_context.credentials ? m_context.credentials() : TlsSetup::Credentials();
    auto attempt = std::make_unique<Attempt>(this, plan, std::move(done));
    auto *socket = new BridgedSocket;
    if (own.isNull() || !socket->adopt(descriptor, address, quint16(port))) {
        delete socket;
        attempt->decide({Outcome::Kind::Refused, nullptr, {}, EndpointError::SocketError,
                         QStringLiteral("The path to the peer could not be used")});
        return attempt;
    }
    TlsSetup::sendAtOnce(*socket);
    attempt->startOver(own, socket);
    return attempt;
}

bool SecureDialer::offersCurrentFormats(PeerChannel channel) const
{
    return channel == PeerChannel::Media && m_context.currentFormats && m_context.currentFormats();
}

void SecureDialer::finish(Attempt *attempt, Outcome outcome)
{
    const Attempt::Plan &plan = attempt->plan();
    const QString dotted = EndpointConnection::dottedAddress(plan.address);
    // Quick messages are not calls: the setting leaves them alone.
    const bool isCall = plan.channel != PeerChannel::Message;
    if (outcome.kind == Outcome::Kind::Plain && isCall && m_context.onlyEncryptedCalls
        && m_context.onlyEncryptedCalls()) {
        outcome = {Outcome::Kind::Refused, nullptr, {}, EndpointError::NotEncrypted, notEncryptedText()};
        if (plan.channel == PeerChannel::Control)
            emit plainCallRefused(dotted);
    }
    if (plan.channel == PeerChannel::Control) {
        if (outcome.kind == Outcome::Kind::Refused)
            forget(dotted, plan.basePort);
        else
            bind({dotted, plan.basePort, outcome.kind == Outcome::Kind::Encrypted, outcome.security.peerKey});
    }
    attempt->deliver(std::move(outcome));
}

const SecureDialer::Binding *SecureDialer::binding(const QString &address, int basePort) const
{
    for (const Binding &b : m_bindings) {
        if (b.address == address && b.basePort == basePort)
            return &b;
    }
    return nullptr;
}

void SecureDialer::bind(const Binding &binding)
{
    forget(binding.address, binding.basePort);
    if (m_bindings.size() >= MaxBindings)
        m_bindings.removeFirst();
    m_bindings.append(binding);
}

void SecureDialer::forget(const QString &address, int basePort)
{
    m_bindings.erase(std::remove_if(m_bindings.begin(), m_bindings.end(),
                                    [&](const Binding &b) { return b.address == address && b.basePort == basePort; }),
                     m_bindings.end());
}
