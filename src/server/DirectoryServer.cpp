#include "server/DirectoryServer.h"

#include "core/Fields.h"
#include "core/PeerChannel.h"
#include "protocol/DirectoryProtocol.h"
#include "protocol/ReachProtocol.h"
#include "server/ReachabilityProbe.h"
#include "server/RedisRegistry.h"
#include "server/SqliteRegistry.h"
#include "tls/Identity.h"
#include "tls/TlsContext.h"
#include "tls/TlsSetup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <QHostInfo>
#include <QTextBoundaryFinder>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>

namespace Proto = DirectoryProtocol;
using Channel = DirectoryServer::Channel;

namespace {

QString channelName(Channel channel)
{
    return channel == Channel::Directory ? QStringLiteral("directory") : QStringLiteral("pal");
}

// At most MaxFieldChars, cut where a character ends: never inside a surrogate pair, nor
// between a letter and its accents where the cut can be made before the letter.
QString bounded(const QString &text)
{
    constexpr int max = DirectoryServer::MaxFieldChars;
    if (text.size() <= max)
        return text;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(max);
    qsizetype cut = characters.isAtBoundary() ? max : characters.toPreviousBoundary();
    if (cut <= 0)
        cut = text.at(max - 1).isHighSurrogate() ? max - 1 : max;
    return text.left(cut);
}

// Connections are numbered in the log by their slot: small numbers, reused.
quint32 slotNumber(ConnectionPool::Handle handle)
{
    return quint32(handle & 0xffffffffu);
}

ConnectionPool::Limits poolLimits(const ServerConfig &config)
{
    ConnectionPool::Limits limits;
    limits.terminator = Proto::Terminator;
    limits.maxLineBytes = DirectoryServer::MaxLineBytes;
    limits.maxEncryptedLineBytes = DirectoryServer::MaxEncryptedLineBytes;
    limits.maxPendingOutput = DirectoryServer::MaxPendingOutput;
    // A user holds a directory and a pal connection; a few more may be logging in.
    limits.maxConnections = 2 * config.maxUsers + DirectoryServer::SpareConnections;
    limits.maxPerSource = qMax(0, config.maxConnectionsPerAddress);
    return limits;
}

} // namespace

DirectoryServer::DirectoryServer(ServerConfig config, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_pool(poolLimits(m_config))
    , m_heartbeat(new QTimer(this))
    , m_loginDeadline(new QTimer(this))
    , m_reach(new ReachabilityProbe(this))
    , m_stats(new QTimer(this))
    , m_summary(new QTimer(this))
    , m_numberQuota(m_config.numbersPerMinute, m_config.numberBurst)
    , m_callSweep(new QTimer(this))
{
    m_clock.start();
    m_loginDeadline->setSingleShot(true);
    connect(m_loginDeadline, &QTimer::timeout, this, &DirectoryServer::enforceLoginDeadlines);
    connect(&m_pool, &ConnectionPool::opened, this, &DirectoryServer::onOpened);
    if (m_config.redis)
        m_registry = new RedisRegistry(*m_config.redis, m_config.expiryMs, m_users, this);
    else
        m_registry = new SqliteRegistry(m_config.dataDir, m_users, this);
    m_registry->setReclaimUnusedAfter(m_config.reclaimUnusedNumbersAfterMs);
    m_registry->setMaxEmailsPerKey(m_config.maxEmailsPerKey);
    m_registry->setOwnershipLapse(m_config.ownershipLapseMs);
    connect(m_registry, &Registry::logLine, this, &DirectoryServer::log);
    // A key bound an e-mail on another node: this node's logins that hold it give it up.
    connect(m_registry, &Registry::claimBound, this,
            [this](const Registry::Claim &claim) { demoteOthers(ConnectionPool::Handle(0), claim); });
    connect(&m_pool, &ConnectionPool::line, this, &DirectoryServer::onLine);
    connect(&m_pool, &ConnectionPool::closed, this,
            [this](Handle handle, int channel) { onClosed(handle, Channel(channel)); });
    // A line longer than any message of the protocol: the client is dropped.
    connect(&m_pool, &ConnectionPool::lineTooLong, this,
            [this](Handle handle) { drop(handle, QStringLiteral("dropped: line too long")); });
    connect(&m_pool, &ConnectionPool::tlsFailed, this, [this](Handle handle, const QString &why) {
        const QString address = m_pool.peerAddress(handle);
        logRepeated(address, QStringLiteral("TLS handshake failed"),
                    QStringLiteral("#%1 %2 TLS handshake failed: %3").arg(slotNumber(handle)).arg(address, why));
    });
    connect(&m_pool, &ConnectionPool::refused, this,
            [this](int channel, const QString &address, ConnectionPool::Refusal why) {
                const QString reason = why == ConnectionPool::Refusal::Full
                                           ? QStringLiteral("turned away: no room for more connections")
                                           : QStringLiteral("turned away: %1 connections from this address already")
                                                 .arg(m_pool.limits().maxPerSource);
                logRepeated(address, reason, QStringLiteral("%1 %2 %3").arg(channelName(Channel(channel)), address, reason));
            });
    // Four reports within the expiry: one lost or late report does not make it lapse.
    m_heartbeat->setInterval(qMax(100, m_config.expiryMs / 4));
    connect(m_heartbeat, &QTimer::timeout, this, &DirectoryServer::heartbeat);
    connect(m_stats, &QTimer::timeout, this, [this] { log(statsLine()); });
    m_summary->setInterval(SummaryPeriodMs);
    connect(m_summary, &QTimer::timeout, this, &DirectoryServer::summarise);
    m_callSweep->setInterval(int(CallTable::IdleMs / 4));
    connect(m_callSweep, &QTimer::timeout, this, [this] {
        m_calls.expire(m_clock.elapsed());
        if (m_calls.isEmpty())
            m_callSweep->stop();
    });
}

DirectoryServer::~DirectoryServer()
{
    stop();
    // It holds on to the users, which go before the children would.
    delete m_registry;
}

bool DirectoryServer::start(QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    QString why;
    if (!m_registry->open(&why))
        return fail(why);
    if (m_config.tls && !setUpTls(&why))
        return fail(why);
    if (m_config.relay) {
        // Read once: the operator changes it by restarting both the relay and the node.
        const std::optional<QByteArray> secret = RelayCredentials::readSecret(m_config.relaySecretFile, &why);
        if (!secret)
            return fail(why);
        m_relay.emplace(*secret);
    }
    // Each connection is an open file: the node takes no more than the limit leaves.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        const qint64 room = qint64(files.rlim_cur) - ReservedFiles;
        m_pool.setMaxConnections(int(qBound<qint64>(1, room, qint64(poolLimits(m_config).maxConnections))));
    }
    for (Channel channel : {Channel::Directory, Channel::Pal}) {
        const int port = channel == Channel::Directory ? m_config.directoryPort : m_config.palPort;
        if (!m_pool.listen(int(channel), m_config.listenAddress, port, &why))
            return fail(QStringLiteral("cannot listen on the %1 port %2: %3").arg(channelName(channel)).arg(port).arg(why));
        // A port of its own for TLS: a client that speaks only the published texts never
        // comes there, and one that knows it asks there first.
        const int encrypted = port == 0 ? 0 : PortPlan::encrypted(port);
        // Without a key (one that could not be made) there is no TLS to offer there.
        if (!m_keyFingerprint.isEmpty() && !m_pool.listenEncrypted(int(channel), m_config.listenAddress, encrypted, &why))
            return fail(QStringLiteral("cannot listen on the encrypted %1 port %2: %3")
                            .arg(channelName(channel))
                            .arg(encrypted)
                            .arg(why));
    }
    m_running = true;
    m_stopping = false;
    m_statsPeriod.clock.start();
    m_reportPeriod.clock.start();
    m_registry->report(selfInfo());
    m_heartbeat->start();
    m_summary->start();
    if (m_config.statsIntervalMs > 0)
        m_stats->start(m_config.statsIntervalMs);
    return true;
}

QString DirectoryServer::keyPath(const QString &dataDir)
{
    return QDir(dataDir).filePath(Identity::FileName);
}

bool DirectoryServer::setUpTls(QString *error)
{
    TlsSetup::Credentials own;
    if (!m_config.tlsCertFile.isEmpty() || !m_config.tlsKeyFile.isEmpty()) {
        // A certificate from an authority: its whole chain goes to the clients.
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(m_config.tlsCertFile, QSsl::Pem);
        QFile keyFile(m_config.tlsKeyFile);
        if (chain.isEmpty()) {
            *error = QStringLiteral("no certificate in %1").arg(m_config.tlsCertFile);
            return false;
        }
        if (!keyFile.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the key %1: %2").arg(m_config.tlsKeyFile, keyFile.errorString());
            return false;
        }
        const QByteArray pem = keyFile.read(Identity::MaxFileBytes);
        for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
            own.key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
            if (!own.key.isNull())
                break;
        }
        if (own.key.isNull() || own.key.toDer().isEmpty()) {
            *error = QStringLiteral("%1 holds no usable private key").arg(m_config.tlsKeyFile);
            return false;
        }
        if (own.key.algorithm() != chain.first().publicKey().algorithm()) {
            *error = QStringLiteral("the key %1 does not go with the certificate %2")
                         .arg(m_config.tlsKeyFile, m_config.tlsCertFile);
            return false;
        }
        own.certificate = chain.first();
        own.fingerprint = TlsSetup::fingerprint(own.certificate);
        return serveTls(own, chain, error);
    }
    // The node's own key, made at its first start; a damaged or exposed one stops it
    // rather than being replaced behind the users' backs, who have pinned it.
    Identity identity;
    const QString path = keyPath(m_config.dataDir);
    QDir().mkpath(m_config.dataDir);
    switch (identity.load(path)) {
    case Identity::Check::Ready:
        break;
    case Identity::Check::Missing:
        if (const FileError e = identity.create(path)) {
            // A data folder that cannot be written still lets the node list its users.
            log(QStringLiteral("cannot make the server's key %1: %2; serving the plain protocol only, nobody owns "
                               "an e-mail address")
                    .arg(path, e.description));
            return true;
        }
        log(QStringLiteral("made a new key in %1").arg(path));
        break;
    case Identity::Check::Corrupt:
        *error = QStringLiteral("the key file %1 is damaged; move it away to make a new key (users will be told "
                                "that the server's key changed)")
                     .arg(path);
        return false;
    case Identity::Check::Exposed:
        *error = QStringLiteral("the key file %1 may be read by others; make it readable by its owner only "
                                "(chmod 600), or move it away to make a new key")
                     .arg(path);
        return false;
    case Identity::Check::NoKeyModule:
        *error = QStringLiteral("cannot read or make keys: %1").arg(identity.keyModuleProblem());
        return false;
    case Identity::Check::Link:
        *error = QStringLiteral("the key file %1 is a link, which is not followed; put the key file itself there")
                     .arg(path);
        return false;
    }
    own = identity.credentials(QString());
    if (own.isNull()) {
        *error = QStringLiteral("cannot use the key in %1").arg(path);
        return false;
    }
    return serveTls(own, {}, error);
}

bool DirectoryServer::serveTls(const TlsSetup::Credentials &own, const QList<QSslCertificate> &chain, QString *error)
{
    // One set-up for every connection of both ports: a handshake then costs the
    // handshake's own work, not loading the key again.
    std::shared_ptr<const TlsContext> context = TlsContext::make(TlsContext::Side::Server, own, chain, error);
    if (!context)
        return false;
    m_keyFingerprint = own.fingerprint;
    m_pool.acceptTls(int(Channel::Directory), context);
    m_pool.acceptTls(int(Channel::Pal), context);
    return true;
}

void DirectoryServer::stop()
{
    m_callSweep->stop();
    m_heartbeat->stop();
    m_stats->stop();
    m_summary->stop();
    m_pool.stopListening();
    // The registry drops this node's users in one go when it leaves.
    m_stopping = true;
    m_pool.closeAll();
    if (m_running)
        m_registry->close();
    m_running = false;
    m_stopping = false;
}

int DirectoryServer::directoryPort() const
{
    return m_pool.localPort(int(Channel::Directory));
}

int DirectoryServer::palPort() const
{
    return m_pool.localPort(int(Channel::Pal));
}

void DirectoryServer::broadcast(const QString &text)
{
    const QByteArray message = Proto::notice("MSG", text);
    const QVector<Handle> handles = m_pool.handles(int(Channel::Directory));
    for (Handle h : handles)
        reply(h, message);
    log(QStringLiteral("notice to %1 connections: %2").arg(handles.size()).arg(text));
}

NodeInfo DirectoryServer::selfInfo() const
{
    NodeInfo n;
    if (m_config.advertise) {
        n.directory = *m_config.advertise;
    } else {
        // On every interface the node goes by the address clients last reached it at from
        // elsewhere; its name, which other machines may not know, only until one has.
        const QString listen = m_config.listenAddress;
        const bool everywhere =
            listen.isEmpty() || listen == QLatin1String("0.0.0.0") || listen == QLatin1String("::");
        n.directory.Host = !everywhere              ? listen
                           : !m_reachedAt.isEmpty() ? m_reachedAt
                                                    : QHostInfo::localHostName();
        n.directory.Port = directoryPort();
        n.directory.Description = QStringLiteral("ZELMO directory");
    }
    // Where this node's pal port lies from its advertised directory port.
    n.palPort = n.directory.Port + (palPort() - directoryPort());
    n.users = m_users.online();
    n.listed = m_users.listed();
    n.connections = m_pool.count();
    n.maxUsers = m_config.maxUsers;
    n.expiryMs = m_config.expiryMs;
    n.loginsPerSecond = m_lastRates.loginsPerSecond;
    n.lookupsPerSecond = m_lastRates.lookupsPerSecond;
    n.listsPerSecond = m_lastRates.listsPerSecond;
    n.self = true;
    return n;
}

NodeInfo DirectoryServer::rates(Period &period) const
{
    NodeInfo r;
    const double seconds = qMax<qint64>(1, period.clock.restart()) / 1000.0;
    r.loginsPerSecond = double(m_counters.logins - period.counters.logins) / seconds;
    r.lookupsPerSecond = double(m_counters.lookups - period.counters.lookups) / seconds;
    r.listsPerSecond = double(m_counters.lists - period.counters.lists) / seconds;
    period.counters = m_counters;
    return r;
}

void DirectoryServer::heartbeat()
{
    m_lastRates = rates(m_reportPeriod);
    m_registry->report(selfInfo());
}

QString DirectoryServer::statsLine()
{
    const NodeInfo r = rates(m_statsPeriod);
    QString line = QStringLiteral("stats: %1 users on line (%2 listed), %3 connections; %4 logins/s, %5 lookups/s, "
                                  "%6 list requests/s")
                       .arg(m_users.online())
                       .arg(m_users.listed())
                       .arg(m_pool.count())
                       .arg(r.loginsPerSecond, 0, 'f', 1)
                       .arg(r.lookupsPerSecond, 0, 'f', 1)
                       .arg(r.listsPerSecond, 0, 'f', 1);
    if (m_registry->isShared()) {
        const QVector<NodeInfo> nodes = m_registry->nodes();
        qint64 users = 0;
        for (const NodeInfo &n : nodes)
            users += n.users;
        line += QStringLiteral("; service: %1 users, %2 nodes up").arg(users).arg(nodes.size());
    }
    return line;
}

void DirectoryServer::send(Handle handle, const QByteArray &text)
{
    // A client that lets a megabyte of answers pile up unread is closed by the pool.
    m_pool.send(handle, text);
}

void DirectoryServer::reply(Handle handle, const QByteArray &text)
{
    const auto it = m_waiting.find(handle);
    if (it == m_waiting.end()) {
        send(handle, text);
        return;
    }
    it->push_back(Waiting{0, true, text});
}

quint64 DirectoryServer::hold(Handle handle)
{
    const quint64 ticket = m_nextTicket++;
    m_waiting[handle].push_back(Waiting{ticket, false, {}});
    return ticket;
}

void DirectoryServer::fulfil(Handle handle, quint64 ticket, const QByteArray &text)
{
    const auto it = m_waiting.find(handle);
    if (it == m_waiting.end())
        return; // the client has gone
    for (Waiting &w : *it) {
        if (w.ticket == ticket) {
            w.ready = true;
            w.text = text;
            break;
        }
    }
    QList<QByteArray> due;
    while (!it->empty() && it->front().ready) {
        due.append(std::move(it->front().text));
        it->pop_front();
    }
    if (it->empty())
        m_waiting.erase(it);
    readOnIfRoom(handle);
    // Sending may close the connection (a client that does not read).
    for (const QByteArray &text : std::as_const(due)) {
        if (!m_pool.isOpen(handle))
            break;
        if (!text.isEmpty())
            send(handle, text);
    }
}

void DirectoryServer::readOnIfRoom(Handle handle)
{
    const auto it = m_waiting.constFind(handle);
    if (it == m_waiting.cend() || int(it->size()) < MaxOutstandingAnswers)
        m_pool.resumeReading(handle);
}

void DirectoryServer::log(const QString &line)
{
    // Names, e-mails and whatever else a peer sent: no line breaks, escapes or NULs of
    // theirs reach the log.
    emit logLine(Fields::singleLine(line));
}

void DirectoryServer::logRepeated(const QString &address, const QString &kind, const QString &line, int budget)
{
    if (m_config.verbose || m_repeats.admit(ConnectionPool::sourceOf(address), kind, budget))
        log(line);
}

void DirectoryServer::setSummaryPeriod(int ms)
{
    m_summary->setInterval(ms);
}

void DirectoryServer::summarise()
{
    const int ms = m_summary->interval();
    for (const QString &line : m_repeats.summarise(ms >= 1000 ? QStringLiteral("%1 s").arg(ms / 1000)
                                                              : QStringLiteral("%1 ms").arg(ms)))
        log(line);
    m_numberQuota.forgetFull(m_clock.elapsed());
}

QString DirectoryServer::who(Channel channel, Handle handle, const UserRegistry::User &user) const
{
    return QStringLiteral("%1 #%2 %3:%4 number %5 <%6> %7")
        .arg(channelName(channel))
        .arg(slotNumber(handle))
        .arg(user.entry.Address)
        .arg(user.entry.Port)
        .arg(user.entry.UserNumber)
        .arg(user.email, user.entry.Name);
}

void DirectoryServer::onLine(Handle handle, const QByteArray &text)
{
    const Channel channel = Channel(m_pool.channel(handle));
    using Kind = Proto::Kind;
    const Proto::FromClient message = Proto::readFromClient(text);
    const Kind kind = message.kind;
    if (kind == Kind::Login) {
        onLogin(channel, handle, message.login);
    } else if (kind == Kind::EmailLookup) {
        onEmailLookup(channel, handle, message.lookup);
    } else if (channel == Channel::Directory && kind == Kind::Notice) {
        reply(handle, Proto::notice("INT", m_config.notice));
    } else if (channel == Channel::Directory && kind == Kind::UserList) {
        // The list is for users who logged in themselves.
        if (!m_users.contains(handle))
            return;
        ++m_counters.lists;
        if (m_config.verbose)
            log(QStringLiteral("directory #%1 %2 list").arg(slotNumber(handle)).arg(m_pool.peerAddress(handle)));
        const quint64 ticket = hold(handle);
        m_registry->userList(loopbackHostFor(handle), [this, handle, ticket](const Registry::ListAnswer &list) {
            // Only clients of this version come over TLS: they are told who is keyed.
            fulfil(handle, ticket, m_pool.isEncrypted(handle) ? list.keyedNote + list.message : list.message);
        });
    } else if (channel == Channel::Pal && kind == Kind::NumberRequest) {
        onNumberRequest(handle);
    } else if (kind == Kind::CallOffer || kind == Kind::CallAnswer || kind == Kind::CallEnd) {
        onCallText(handle, message);
    } else if (channel == Channel::Directory && ReachProtocol::isRequest(text)) {
        const quint64 ticket = hold(handle);
        m_reach->handle(text, m_pool.peerAddress(handle),
                        [this, handle, ticket](const QByteArray &answer) { fulfil(handle, ticket, answer); });
    }
    const auto waiting = m_waiting.constFind(handle);
    if (waiting != m_waiting.cend() && int(waiting->size()) >= MaxOutstandingAnswers)
        m_pool.pauseReading(handle);
}

void DirectoryServer::onLogin(Channel channel, Handle handle, const Proto::Login &login)
{
    const bool again = m_users.contains(handle);
    // Every entry counts, on each port: a number already on line does not let a login
    // past the limit (a user holds one entry on each port).
    if (!again
        && ((m_users.wouldAdd(handle, login.userNumber) && m_users.online() >= m_config.maxUsers)
            || m_users.entries(channel == Channel::Pal) >= m_config.maxUsers)) {
        turnAway(channel, handle);
        return;
    }
    const QString address = m_pool.peerAddress(handle);
    const QString source = ConnectionPool::sourceOf(address);
    if (!again && m_config.maxLoginsPerAddress > 0 && m_loginsBySource.value(source) >= m_config.maxLoginsPerAddress) {
        logRepeated(address, QStringLiteral("turned away: too many logins from this address"),
                    QStringLiteral("%1 #%2 %3 turned away: %4 logins from this address already")
                        .arg(channelName(channel))
                        .arg(slotNumber(handle))
                        .arg(address)
                        .arg(m_config.maxLoginsPerAddress));
        if (channel == Channel::Directory)
            reply(handle, Proto::notice("BSY", QStringLiteral("Too many users from your address. Please try again later.")));
        m_pool.close(handle);
        return;
    }
    UserRegistry::User user;
    user.entry.UserNumber = login.userNumber;
    user.entry.Name = bounded(login.name);
    user.email = bounded(login.email);
    user.entry.Location = bounded(login.location);
    user.entry.Comment = bounded(login.comment);
    user.entry.Address = address;
    user.entry.Port = login.port != 0 ? login.port : PortPlan::PublishedBase;
    user.entry.Kind = qint16(qBound(-32768, login.kind, 32767));
    user.entry.HasVideo = login.video;
    user.entry.HasAudio = login.audio;
    // Only the directory lists people; the pal login says who is on line.
    user.listed = channel == Channel::Directory && login.listed;
    user.pal = channel == Channel::Pal;
    const Registry::Claim claim{user.email, user.entry.UserNumber, m_pool.peerKey(handle)};
    if (claim.email.isEmpty() && claim.number <= 0) {
        admit(channel, handle, user, again);
        return;
    }
    m_settling.insert(handle);
    m_registry->settleClaim(claim, [this, channel, handle, user, again, claim](Registry::Standing standing) mutable {
        if (!m_settling.remove(handle) || !m_pool.isOpen(handle))
            return;
        if (standing.overBound) {
            // One line, then a count in the summary: a hoarder logs in again and again.
            logRepeated(user.entry.Address, QStringLiteral("claim of an e-mail beyond the bound of its key"),
                        QStringLiteral("%1 #%2 %3: served without <%4>, its key owns %5 e-mails already")
                            .arg(channelName(channel))
                            .arg(slotNumber(handle))
                            .arg(user.entry.Address, claim.email)
                            .arg(m_config.maxEmailsPerKey),
                        1);
        } else if (!standing.email || !standing.number) {
            logRepeated(user.entry.Address, QStringLiteral("claim of an owned e-mail or number"),
                        QStringLiteral("%1 #%2 %3 %4: served without %5, owned by another key")
                            .arg(channelName(channel))
                            .arg(slotNumber(handle))
                            .arg(user.entry.Address, claim.key.isEmpty() ? QStringLiteral("plain login")
                                                                   : QStringLiteral("login with another key"))
                            .arg(!standing.email && !standing.number
                                     ? QStringLiteral("<%1> and number %2").arg(claim.email).arg(claim.number)
                                 : !standing.email ? QStringLiteral("<%1>").arg(claim.email)
                                                   : QStringLiteral("number %1").arg(claim.number)));
        }
        if (!standing.email)
            user.email.clear();
        if (!standing.number)
            user.entry.UserNumber = Proto::NoUserNumber;
        user.entry.Keyed = standing.keyed;
        user.numberKeyed = standing.numberKeyed;
        admit(channel, handle, user, again);
        // Others give up only what is the key's own.
        Registry::Claim owned = claim;
        if (!standing.keyed)
            owned.email.clear();
        if (!standing.numberKeyed)
            owned.number = 0;
        if (!owned.email.isEmpty() || owned.number > 0)
            demoteOthers(handle, owned);
        readOnIfRoom(handle);
    });
    // A registry that answers later: nothing more is read from the connection until it
    // has, so its next questions are answered as the user it turns out to be.
    if (m_settling.contains(handle))
        m_pool.pauseReading(handle);
}

void DirectoryServer::demoteOthers(Handle owner, const Registry::Claim &claim)
{
    // Logins that took the e-mail or number before its key bound them keep neither now,
    // so an e-mail lookup can only answer the owner.
    std::vector<std::pair<UserRegistry::Key, UserRegistry::User>> taken;
    for (const UserRegistry::Key key : m_users.holders(claim.email, claim.number)) {
        const UserRegistry::User *u = m_users.user(key);
        // A login keyed to an e-mail of its own may still hold a number it was never
        // issued: it gives that up too.
        if (u && key != owner && (claim.key.isEmpty() || m_pool.peerKey(key) != claim.key))
            taken.emplace_back(key, *u);
    }
    for (auto &[key, u] : taken) {
        if (u.email == claim.email)
            u.email.clear();
        if (claim.number > 0 && u.entry.UserNumber == claim.number)
            u.entry.UserNumber = Proto::NoUserNumber;
        m_users.login(key, u);
        m_registry->userChanged(key, u);
    }
}

void DirectoryServer::admit(Channel channel, Handle handle, UserRegistry::User user, bool again)
{
    const QString source = ConnectionPool::sourceOf(user.entry.Address);
    if (!again)
        ++m_loginsBySource[source];
    m_users.login(handle, user);
    m_registry->userChanged(handle, user);
    ++m_counters.logins;
    logRepeated(user.entry.Address, QStringLiteral("login"),
                (again ? QStringLiteral("login again ") : QStringLiteral("login ")) + who(channel, handle, user));
    if (channel == Channel::Directory && !again) {
        const QVector<Proto::ServerEntry> servers = serverList();
        if (!servers.isEmpty())
            reply(handle, Proto::serverList(servers));
    }
    // Only a program of this version logs in with its key over TLS: it is told where its
    // relay is, and again at each login; it logs in again for fresh credentials before
    // these run out.
    if (channel == Channel::Pal && user.entry.Keyed && m_pool.isEncrypted(handle))
        sendRelayAccess(handle, user);
}

void DirectoryServer::sendRelayAccess(Handle handle, const UserRegistry::User &user)
{
    if (!m_relay || !m_config.relay)
        return;
    QString host = m_config.relay->Host;
    if (host == QLatin1String("0.0.0.0") || host == QLatin1String("::")) {
        // The relay is on this machine: at the address the program reached it at.
        const QString reached = m_pool.localAddress(handle);
        host = UserRegistry::isLoopback(m_pool.peerAddress(handle)) || reached.isEmpty()
                   ? QStringLiteral("127.0.0.1")
               : m_config.advertise && !UserRegistry::isLoopback(m_config.advertise->Host)
                   ? m_config.advertise->Host
                   : reached;
    }
    const QString who =
        user.numberKeyed && user.entry.UserNumber > 0 ? QString::number(user.entry.UserNumber) : user.email;
    const qint64 expiry = QDateTime::currentSecsSinceEpoch() + m_config.relayLifetimeSeconds;
    Proto::RelayAccess access = m_relay->access(host, m_config.relay->Port, m_config.relayTlsPort, who, expiry);
    // How long, rather than until when: the program's clock need not agree with this one.
    access.lifetimeSeconds = m_config.relayLifetimeSeconds;
    reply(handle, Proto::relayAccess(access));
}

void DirectoryServer::onCallText(Handle handle, const Proto::FromClient &message)
{
    const UserRegistry::User *self = m_users.user(handle);
    if (!self || !self->entry.Keyed || !m_pool.isEncrypted(handle))
        return;
    if (message.kind == Proto::Kind::CallOffer) {
        if (message.offer)
            onCallOffer(handle, *self, *message.offer);
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (message.kind == Proto::Kind::CallAnswer) {
        const std::optional<Proto::CallAnswer> &answer = message.answer;
        if (!answer)
            return;
        // Only the callee answers; anyone else's answer for the call goes nowhere.
        if (const std::optional<Handle> caller = m_calls.otherSide(answer->callId, handle, now, CallTable::Text::Answer))
            send(*caller, Proto::callAnswer(*answer));
        return;
    }
    std::optional<Proto::CallEnd> end = message.end;
    if (!end)
        return;
    if (const std::optional<Handle> other = m_calls.otherSide(end->callId, handle, now, CallTable::Text::End)) {
        m_calls.end(end->callId);
        end->reason = bounded(end->reason);
        send(*other, Proto::callEnd(*end));
    }
}

void DirectoryServer::onCallOffer(Handle handle, const UserRegistry::User &caller, const Proto::CallOffer &offer)
{
    const qint64 now = m_clock.elapsed();
    const auto refuse = [&](const char *reason) {
        reply(handle, Proto::callEnd({offer.callId, QString::fromLatin1(reason)}));
    };
    const QString address = m_pool.peerAddress(handle);
    const auto logLimit = [&](const QString &what) {
        logRepeated(address, QStringLiteral("call offers beyond the bounds"),
                    QStringLiteral("%1 #%2 %3 call offer refused: %4")
                        .arg(channelName(Channel(m_pool.channel(handle))))
                        .arg(slotNumber(handle))
                        .arg(address, what),
                    1);
    };
    // Counted before the target is looked for: "offline" tells who is on line, so asking
    // for everyone is bounded too.
    if (!m_calls.takeOffer(handle, now)) {
        logLimit(QStringLiteral("over %1 offers a minute").arg(CallTable::OffersPerMinute));
        refuse(Proto::EndLimit);
        return;
    }
    const Handle callee = callTarget(offer.target, handle);
    if (callee == 0) {
        refuse(Proto::EndOffline);
        return;
    }
    switch (m_calls.offer(offer.callId, handle, callee, now)) {
    case CallTable::Verdict::Refused:
        refuse(Proto::EndRefused);
        return;
    case CallTable::Verdict::Limit:
        logLimit(QStringLiteral("too many calls open"));
        refuse(Proto::EndLimit);
        return;
    case CallTable::Verdict::Passed:
        break;
    }
    if (!m_callSweep->isActive())
        m_callSweep->start();
    // Who sent it as this server knows them: only what is bound to the key it proved.
    Proto::RelayedOffer relayed;
    relayed.callId = offer.callId;
    relayed.fromEmail = caller.email;
    relayed.fromNumber =
        caller.numberKeyed && caller.entry.UserNumber > 0 ? caller.entry.UserNumber : Proto::NoUserNumber;
    relayed.fromKey = m_pool.peerKey(handle);
    relayed.fromAddress = address;
    relayed.description = offer.description;
    if (m_config.verbose)
        log(QStringLiteral("%1 #%2 %3 call offer to #%4")
                .arg(channelName(Channel(m_pool.channel(handle))))
                .arg(slotNumber(handle))
                .arg(address)
                .arg(slotNumber(callee)));
    send(callee, Proto::relayedOffer(relayed));
}

DirectoryServer::Handle DirectoryServer::callTarget(const QString &target, Handle caller) const
{
    const QString wanted = target.trimmed().toLower();
    const bool byNumber = !wanted.isEmpty() && wanted.size() <= 9
                          && std::all_of(wanted.cbegin(), wanted.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const qint32 number = byNumber ? wanted.toInt() : 0;
    if (byNumber && number <= 0)
        return 0;
    Handle found = 0;
    for (const UserRegistry::Key key : m_users.holders(byNumber ? QString() : wanted, number)) {
        const UserRegistry::User *u = m_users.user(key);
        if (key == caller || !u || !u->entry.Keyed || !m_pool.isEncrypted(key))
            continue;
        if (byNumber ? !(u->numberKeyed && u->entry.UserNumber == number) : u->email != wanted)
            continue;
        // The pal connection stays open for the whole run of the program.
        if (u->pal)
            return key;
        if (found == 0)
            found = key;
    }
    return found;
}

QVector<Proto::ServerEntry> DirectoryServer::serverList() const
{
    // The servers the operator named, then every node of the service that is up.
    QVector<Proto::ServerEntry> servers = m_config.servers;
    if (!m_registry->isShared())
        return servers;
    for (const NodeInfo &node : m_registry->nodes()) {
        const bool named = std::any_of(servers.cbegin(), servers.cend(), [&](const Proto::ServerEntry &s) {
            return s.Host.compare(node.directory.Host, Qt::CaseInsensitive) == 0 && s.Port == node.directory.Port;
        });
        if (!named && node.up && node.directory.Port >= 1 && node.directory.Port <= 65535 && !node.directory.Host.isEmpty())
            servers.append(node.directory);
        if (servers.size() >= Proto::MaxServers)
            break;
    }
    return servers;
}

std::optional<NodeInfo> DirectoryServer::lessLoadedNode() const
{
    std::optional<NodeInfo> best;
    for (const NodeInfo &node : m_registry->nodes()) {
        if (node.self || !node.up || !node.hasRoom())
            continue;
        // The fullest share of its maximum loses; equal shares go to the fewer users.
        const auto share = [](const NodeInfo &n) { return double(n.users) / qMax(1, n.maxUsers); };
        if (!best || share(node) < share(*best) || (share(node) == share(*best) && node.users < best->users))
            best = node;
    }
    return best;
}

void DirectoryServer::turnAway(Channel channel, Handle handle)
{
    const QString address = m_pool.peerAddress(handle);
    std::optional<Proto::ServerEntry> directory;
    std::optional<Proto::ServerEntry> pal;
    if (const std::optional<NodeInfo> node = lessLoadedNode()) {
        directory = node->directory;
        pal = Proto::ServerEntry{node->directory.Host, node->palPort, {}};
    } else if (m_config.redirect) {
        directory = *m_config.redirect;
        // The redirect target's pal port is taken to lie as far from its directory port
        // as here.
        pal = *m_config.redirect;
        pal->Port = pal->Port + (m_config.palPort - m_config.directoryPort);
    }
    if (channel == Channel::Directory) {
        if (directory)
            reply(handle, Proto::redirect(*directory));
        else
            reply(handle, Proto::notice("BSY", QStringLiteral("The directory server is full. Please try again later.")));
    } else if (pal && pal->Port >= 1 && pal->Port <= 65535) {
        reply(handle, Proto::palBusy(*pal));
    }
    logRepeated(address, QStringLiteral("turned away: full"),
                QStringLiteral("%1 #%2 %3 turned away: full%4")
                     .arg(channelName(channel))
                     .arg(slotNumber(handle))
                     .arg(address)
                     .arg(directory ? QStringLiteral(", sent to %1:%2").arg(directory->Host).arg(directory->Port)
                                    : QString()));
    // The answer is queued before the close, which lets it go out first.
    m_pool.close(handle);
}

void DirectoryServer::onEmailLookup(Channel channel, Handle handle, const QString &email)
{
    ++m_counters.lookups;
    const quint64 ticket = hold(handle);
    const auto answer = [this, channel, handle, ticket, email](std::optional<UserRegistry::User> found) {
        Proto::EmailAnswer answer;
        answer.email = email;
        answer.address = QLatin1String(Proto::NobodyAddress);
        if (found) {
            answer.name = found->entry.Name;
            answer.location = found->entry.Location;
            answer.address = found->entry.Address;
            answer.port = found->entry.Port;
        }
        // Counted in the figures; one line each only when asked for.
        if (m_config.verbose)
            log(QStringLiteral("%1 #%2 %3 lookup <%4>: %5")
                    .arg(channelName(channel))
                    .arg(slotNumber(handle))
                    .arg(m_pool.peerAddress(handle), email,
                         answer.found() ? answer.address + QLatin1Char(':') + QString::number(answer.port)
                                        : QStringLiteral("not on line")));
        fulfil(handle, ticket, Proto::emailAnswer(answer));
    };
    m_registry->findByEmail(email, loopbackHostFor(handle), answer);
}

void DirectoryServer::onNumberRequest(Handle handle)
{
    // One number per connection, so a loop of requests cannot use them all up.
    if (m_numbered.contains(handle))
        return;
    m_numbered.insert(handle);
    const QString address = m_pool.peerAddress(handle);
    // Without a number a client still logs in (as -1) and asks again on its next
    // connection: the one answer the protocol has for "none for you now".
    if (!m_numberQuota.take(ConnectionPool::sourceOf(address), m_clock.elapsed())) {
        logRepeated(address, QStringLiteral("no user number: this address had its share"),
                    QStringLiteral("pal #%1 %2 no user number: this address had its %3 at once and %4 a minute")
                        .arg(slotNumber(handle))
                        .arg(address)
                        .arg(m_config.numberBurst)
                        .arg(m_config.numbersPerMinute));
        reply(handle, Proto::newNumber(Proto::NoUserNumber));
        return;
    }
    const quint64 ticket = hold(handle);
    // The number is bound only to the key it is handed out to.
    m_registry->issueNumber(m_pool.peerKey(handle), [this, handle, ticket, address](qint32 number, const QString &why) {
        if (number == 0) {
            // Another request on this connection may try again.
            m_numbered.remove(handle);
            // Said once a period: the reason is the same for everybody.
            logRepeated(QString(), QStringLiteral("no user number to give"),
                        QStringLiteral("pal #%1 %2 no user number to give: %3").arg(slotNumber(handle)).arg(address, why),
                        1);
            fulfil(handle, ticket, Proto::newNumber(Proto::NoUserNumber));
            return;
        }
        logRepeated(address, QStringLiteral("new user number"),
                    QStringLiteral("pal #%1 %2 new user number %3").arg(slotNumber(handle)).arg(address).arg(number));
        fulfil(handle, ticket, Proto::newNumber(number));
    });
}

QString DirectoryServer::loopbackHostFor(Handle asker) const
{
    // A client on this machine reaches loopback addresses as they are.
    if (UserRegistry::isLoopback(m_pool.peerAddress(asker)))
        return {};
    if (m_config.advertise && !UserRegistry::isLoopback(m_config.advertise->Host))
        return m_config.advertise->Host;
    // The address the client itself reached this machine at.
    const QString local = m_pool.localAddress(asker);
    return UserRegistry::isLoopback(local) ? QString() : local;
}

void DirectoryServer::onOpened(Handle handle)
{
    const QString local = m_pool.localAddress(handle);
    if (!local.isEmpty() && !UserRegistry::isLoopback(local) && !UserRegistry::isLoopback(m_pool.peerAddress(handle)))
        m_reachedAt = local;
    // Kept in order of due time: when the deadline is shortened while connections wait,
    // a new connection's turn comes before theirs, and the timer must wake for it.
    const qint64 due = m_clock.elapsed() + m_loginDeadlineMs;
    const auto at = std::upper_bound(m_loginDue.begin(), m_loginDue.end(), due,
                                     [](qint64 d, const std::pair<qint64, Handle> &entry) { return d < entry.first; });
    const bool first = at == m_loginDue.begin();
    m_loginDue.emplace(at, due, handle);
    if (first || !m_loginDeadline->isActive())
        enforceLoginDeadlines();
}

void DirectoryServer::enforceLoginDeadlines()
{
    const qint64 now = m_clock.elapsed();
    while (!m_loginDue.empty()) {
        const auto [due, handle] = m_loginDue.front();
        if (!m_pool.isOpen(handle) || m_users.contains(handle)) {
            m_loginDue.pop_front();
            continue;
        }
        if (due > now) {
            m_loginDeadline->start(int(due - now));
            return;
        }
        m_loginDue.pop_front();
        drop(handle, QStringLiteral("dropped: no login"));
    }
}

void DirectoryServer::drop(Handle handle, const QString &why)
{
    const QString address = m_pool.peerAddress(handle);
    logRepeated(address, why,
                QStringLiteral("%1 #%2 %3 %4")
                    .arg(channelName(Channel(m_pool.channel(handle))))
                    .arg(slotNumber(handle))
                    .arg(address, why));
    m_pool.close(handle);
}

void DirectoryServer::onClosed(Handle handle, Channel channel)
{
    // The other side of each of its calls learns that it went.
    for (const auto &[id, other] : m_calls.leave(handle)) {
        if (!m_stopping)
            send(other, Proto::callEnd({id, QString::fromLatin1(Proto::EndGone)}));
    }
    m_numbered.remove(handle);
    m_settling.remove(handle);
    m_waiting.remove(handle);
    if (const auto user = m_users.logout(handle)) {
        const QString source = ConnectionPool::sourceOf(user->entry.Address);
        if (const auto it = m_loginsBySource.find(source); it != m_loginsBySource.end() && --it.value() <= 0)
            m_loginsBySource.erase(it);
        // On the way out the registry drops all of this node's users at once.
        if (!m_stopping)
            m_registry->userLeft(handle, *user);
        logRepeated(user->entry.Address, QStringLiteral("logout"),
                    QStringLiteral("logout ") + who(channel, handle, *user));
    }
}
