#include "server/DirectoryServer.h"

#include "core/IPDaemon.h"
#include "directory/DirectoryProtocol.h"

#include <QTimer>

using Channel = UserRegistry::Channel;
namespace Proto = DirectoryProtocol;

namespace {

QString channelName(Channel channel)
{
    return channel == Channel::Directory ? QStringLiteral("directory") : QStringLiteral("pal");
}

QString bounded(const QString &text)
{
    return text.left(DirectoryServer::MaxFieldChars);
}

} // namespace

DirectoryServer::DirectoryServer(ServerConfig config, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_directory(new IPDaemon(this))
    , m_pal(new IPDaemon(this))
{
    for (Channel channel : {Channel::Directory, Channel::Pal}) {
        IPDaemon &d = daemon(channel);
        d.setDefaultLineEnd(Proto::Terminator);
        d.setInputBufferSize(MaxLineBytes);
        d.setOutputBufferSize(MaxPendingOutput);
        connect(&d, &IPDaemon::connectionRequest, this, [this](const QString &, bool *accept) {
            // A user holds a directory and a pal connection; a few more may be logging in.
            const int limit = 2 * m_config.maxUsers + SpareConnections;
            if (m_directory->connectionIds().size() + m_pal->connectionIds().size() >= limit)
                *accept = false;
        });
        connect(&d, &IPDaemon::dataIn, this,
                [this, channel](int id, const QByteArray &text, bool eol) { onData(channel, id, text, eol); });
        connect(&d, &IPDaemon::connected, this,
                [this, channel](int id, int, const QString &) { onConnected(channel, id); });
        connect(&d, &IPDaemon::disconnected, this,
                [this, channel](int id, int, const QString &) { onDisconnected(channel, id); });
    }
}

DirectoryServer::~DirectoryServer()
{
    stop();
}

IPDaemon &DirectoryServer::daemon(Channel channel) const
{
    return channel == Channel::Directory ? *m_directory : *m_pal;
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
    if (!m_numbers.open(m_config.dataDir, &why))
        return fail(QStringLiteral("cannot open the user numbers: ") + why);
    for (Channel channel : {Channel::Directory, Channel::Pal}) {
        IPDaemon &d = daemon(channel);
        const int port = channel == Channel::Directory ? m_config.directoryPort : m_config.palPort;
        if (EndpointError e = d.setLocalAddress(m_config.listenAddress))
            return fail(e.description);
        if (EndpointError e = d.setLocalPort(port))
            return fail(e.description);
        if (EndpointError e = d.setListening(true))
            return fail(QStringLiteral("cannot listen on the %1 port %2: %3")
                            .arg(channelName(channel))
                            .arg(port)
                            .arg(e.description));
    }
    return true;
}

void DirectoryServer::stop()
{
    for (IPDaemon *d : {m_directory, m_pal}) {
        d->setListening(false);
        for (int id : d->connectionIds())
            d->closeConnection(id);
    }
}

int DirectoryServer::directoryPort() const
{
    return m_directory->localPort();
}

int DirectoryServer::palPort() const
{
    return m_pal->localPort();
}

void DirectoryServer::broadcast(const QString &text)
{
    const QByteArray message = Proto::notice("MSG", text);
    for (int id : m_directory->connectionIds())
        send(Channel::Directory, id, message);
    emit logLine(QStringLiteral("notice to %1 connections: %2").arg(m_directory->connectionIds().size()).arg(text));
}

void DirectoryServer::send(Channel channel, int id, const QByteArray &text)
{
    IPDaemon &d = daemon(channel);
    d.sendData(id, text);
    // A client that lets a megabyte of answers pile up unread is not reading at all.
    if (d.isConnected(id) && d.sentCount(id) == 0)
        d.closeConnection(id);
}

QString DirectoryServer::who(Channel channel, int id, const UserRegistry::User &user) const
{
    return QStringLiteral("%1 #%2 %3:%4 number %5 <%6> %7")
        .arg(channelName(channel))
        .arg(id)
        .arg(user.address)
        .arg(user.port)
        .arg(user.number)
        .arg(user.email, user.name);
}

void DirectoryServer::onData(Channel channel, int id, const QByteArray &text, bool eol)
{
    if (!eol) {
        // A line longer than any message of the protocol: the client is dropped.
        emit logLine(QStringLiteral("%1 #%2 %3 dropped: line too long")
                         .arg(channelName(channel))
                         .arg(id)
                         .arg(daemon(channel).remoteAddress(id)));
        daemon(channel).closeConnection(id);
        return;
    }
    const QByteArray command = Proto::command(text);
    if (command == "LGN") {
        onLogin(channel, id, text);
    } else if (command == "GEM") {
        onEmailLookup(channel, id, text);
    } else if (channel == Channel::Directory && command == "INT") {
        send(channel, id, Proto::notice("INT", m_config.notice));
    } else if (channel == Channel::Directory && command == "LS1") {
        // The list is for users who logged in themselves.
        if (m_registry.contains(UserRegistry::key(channel, id)))
            send(channel, id, m_registry.listMessage(Proto::MaxEntries));
    } else if (channel == Channel::Pal && command == "RSN") {
        onNumberRequest(id);
    }
}

void DirectoryServer::onConnected(Channel channel, int id)
{
    const UserRegistry::Key key = UserRegistry::key(channel, id);
    disarmLoginDeadline(key);
    auto *deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, channel, id] {
        emit logLine(QStringLiteral("%1 #%2 %3 dropped: no login")
                         .arg(channelName(channel))
                         .arg(id)
                         .arg(daemon(channel).remoteAddress(id)));
        daemon(channel).closeConnection(id);
    });
    m_loginDeadlines.insert(key, deadline);
    deadline->start(m_loginDeadlineMs);
}

void DirectoryServer::disarmLoginDeadline(UserRegistry::Key key)
{
    if (QTimer *deadline = m_loginDeadlines.take(key))
        deadline->deleteLater();
}

void DirectoryServer::onLogin(Channel channel, int id, const QByteArray &text)
{
    const Proto::Login login = Proto::parseLogin(text);
    const UserRegistry::Key key = UserRegistry::key(channel, id);
    if (m_registry.wouldAdd(key, login.userNumber) && m_registry.online() >= m_config.maxUsers) {
        turnAway(channel, id);
        return;
    }
    UserRegistry::User user;
    user.number = login.userNumber;
    user.name = bounded(login.name);
    user.email = bounded(login.email);
    user.location = bounded(login.location);
    user.comment = bounded(login.comment);
    user.address = daemon(channel).remoteAddress(id);
    user.port = login.port != 0 ? login.port : 2000;
    user.kind = qint16(qBound(-32768, login.kind, 32767));
    user.video = login.video;
    user.audio = login.audio;
    // Only the directory lists people; the pal login says who is on line.
    user.listed = channel == Channel::Directory && login.listed;
    const bool again = m_registry.contains(key);
    m_registry.login(key, user);
    disarmLoginDeadline(key);
    m_numbers.remember(user.number, user.email);
    emit logLine((again ? QStringLiteral("login again ") : QStringLiteral("login ")) + who(channel, id, user));
    if (channel == Channel::Directory && !again && !m_config.servers.isEmpty())
        send(channel, id, Proto::serverList(m_config.servers));
}

void DirectoryServer::turnAway(Channel channel, int id)
{
    IPDaemon &d = daemon(channel);
    const QString address = d.remoteAddress(id);
    if (channel == Channel::Directory) {
        if (m_config.redirect)
            d.sendData(id, Proto::redirect(*m_config.redirect));
        else
            d.sendData(id, Proto::notice("BSY", QStringLiteral("The directory server is full. Please try again later.")));
    } else if (m_config.redirect) {
        // The redirect target's pal port is taken to be its directory port + 5, as here.
        Proto::ServerEntry target = *m_config.redirect;
        target.Port = target.Port + (m_config.palPort - m_config.directoryPort);
        if (target.Port >= 1 && target.Port <= 65535)
            d.sendData(id, Proto::palBusy(target));
    }
    emit logLine(QStringLiteral("%1 #%2 %3 turned away: full").arg(channelName(channel)).arg(id).arg(address));
    // The answer is queued before the close, which lets it go out first.
    d.closeConnection(id);
}

void DirectoryServer::onEmailLookup(Channel channel, int id, const QByteArray &text)
{
    const QString email = Proto::parseEmailLookup(text);
    Proto::EmailAnswer answer;
    answer.email = email;
    answer.address = QLatin1String(Proto::NobodyAddress);
    if (const UserRegistry::User *found = m_registry.findByEmail(email)) {
        answer.name = found->name;
        answer.location = found->location;
        answer.address = found->address;
        answer.port = found->port;
    }
    emit logLine(QStringLiteral("%1 #%2 %3 lookup <%4>: %5")
                     .arg(channelName(channel))
                     .arg(id)
                     .arg(daemon(channel).remoteAddress(id), email,
                          answer.found() ? answer.address + QLatin1Char(':') + QString::number(answer.port)
                                         : QStringLiteral("not on line")));
    send(channel, id, Proto::emailAnswer(answer));
}

void DirectoryServer::onNumberRequest(int id)
{
    // One number per connection, so a loop of requests cannot use them all up.
    if (m_numbered.contains(id))
        return;
    const qint32 number = m_numbers.issue();
    if (number == 0) {
        emit logLine(QStringLiteral("pal #%1 no user number to give").arg(id));
        return;
    }
    m_numbered.insert(id);
    emit logLine(QStringLiteral("pal #%1 %2 new user number %3").arg(id).arg(m_pal->remoteAddress(id)).arg(number));
    send(Channel::Pal, id, Proto::newNumber(number));
}

void DirectoryServer::onDisconnected(Channel channel, int id)
{
    disarmLoginDeadline(UserRegistry::key(channel, id));
    if (channel == Channel::Pal)
        m_numbered.remove(id);
    if (const auto user = m_registry.logout(UserRegistry::key(channel, id)))
        emit logLine(QStringLiteral("logout ") + who(channel, id, *user));
}
