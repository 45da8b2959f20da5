#include "directory/DirectoryService.h"

#include "core/Fields.h"
#include "core/IPPort.h"
#include "core/PalList.h"
#include "core/PeerChannel.h"
#include "core/Settings.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"

#include <QTimer>

namespace Proto = DirectoryProtocol;

DirectoryService::DirectoryService(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_ippServer(new IPPort(this))
    , m_tmrAnswer(new QTimer(this))
{
    m_ippServer->setObjectName(QStringLiteral("ippServer"));
    m_tmrAnswer->setObjectName(QStringLiteral("tmrDirectoryAnswer"));
    m_ippServer->setLineEnd(Proto::Terminator);
    m_ippServer->setInputBufferSize(DirectoryInputBytes);
    m_tmrAnswer->setSingleShot(true);
    m_tmrAnswer->setInterval(AnswerWaitMs);

    connect(m_ippServer, &IPPort::connected, this, &DirectoryService::onDirectoryConnected);
    connect(m_ippServer, &IPPort::dataIn, this, &DirectoryService::onDirectoryData);
    connect(m_ippServer, &IPPort::disconnected, this, &DirectoryService::onDirectoryDisconnected);
    connect(m_tmrAnswer, &QTimer::timeout, this, &DirectoryService::onAnswerOverdue);
}

void DirectoryService::setAnswerWait(int ms)
{
    m_tmrAnswer->setInterval(ms);
}

const Proto::UserEntry *DirectoryService::entry(int k) const
{
    return k >= 1 && k <= m_entries.size() ? &m_entries.at(k - 1) : nullptr;
}

int DirectoryService::iconNumber(const Proto::UserEntry &e)
{
    if (e.Kind == 0) {
        const int base = e.State == 1 ? 1 : 2;
        if (e.HasVideo && e.HasAudio)
            return base;
        if (e.HasVideo)
            return base + 2;
        if (e.HasAudio)
            return base + 4;
        return base + 6;
    }
    if (e.Kind == 1 || e.Kind == 2 || e.Kind == 4)
        return 9;
    return 7;
}

int DirectoryService::dirPort() const
{
    // The setting is 16 bits wide; ports above 32767 are kept in its bit pattern.
    return int(quint16(m_.settings.DirPort));
}

QString DirectoryService::directoryText() const
{
    return m_.settings.DirAddress + QLatin1Char(':') + QString::number(dirPort());
}

QString DirectoryService::serverItemText(const Proto::ServerEntry &server)
{
    return server.Host + QLatin1Char(':') + QString::number(server.Port) + QStringLiteral("  (") + server.Description
           + QLatin1Char(')');
}

QString DirectoryService::addressText(const QString &host, int port)
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

void DirectoryService::start()
{
    m_ippServer->setStackOn(true);
}

void DirectoryService::shutdown()
{
    m_ippServer->setConnected(false);
    m_ippServer->setStackOn(false);
}

void DirectoryService::setStatus(const QString &text)
{
    m_status = text;
    emit statusChanged(text);
}

// ---- Directory ----

void DirectoryService::connectDirectory(const QString &host, int port)
{
    const QString trimmed = host.trimmed();
    if (trimmed.isEmpty())
        return;
    emit connecting(trimmed, port);
    const QString where = trimmed + QLatin1Char(':') + QString::number(port);
    setStatus(tr("Establishing Connection with ") + where);
    m_ippServer->setConnected(false);
    m_skippingDirectory = false;
    EndpointError e = m_ippServer->setRemotePort(port);
    if (!e)
        e = m_ippServer->setRemoteAddress(trimmed);
    if (!e)
        e = m_ippServer->setConnected(true);
    if (e.code == EndpointError::NoNetwork) {
        emit informationRequested(tr("You must be connected to the Internet before you can use the "
                                     "Directory"));
    } else if (e) {
        emit informationRequested(tr("Directory Server Address is invalid: ") + where
                                  + QStringLiteral(", ") + QString::number(e.code) + QLatin1Char(' ')
                                  + e.description);
    }
}

bool DirectoryService::lookupEmail(const QString &address)
{
    if (!m_ippServer->isConnected())
        return false;
    sendDirectoryRequest(Proto::emailLookup(address));
    return true;
}

void DirectoryService::chooseDirectory(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString host = (colon < 0 ? text : text.left(colon)).trimmed();
    const int port = colon < 0 ? DefaultDirectoryPort : int(Fields::leadingNumber(text.mid(colon + 1)));
    Settings &s = m_.settings;
    s.DirAddress = host;
    s.DirPort = qint16(quint16(port));
    connectDirectory(host, port);
}

void DirectoryService::windowActivated()
{
    const QDateTime now = QDateTime::currentDateTime();
    if (m_nextRefresh.isValid() && m_nextRefresh > now && !m_refreshOnShow)
        return;
    m_refreshOnShow = false;
    m_nextRefresh = now.addDays(60);
    const Settings &s = m_.settings;
    if (s.DirAddress.trimmed().isEmpty()) {
        setStatus(tr("Type in IP Address for Connection"));
        return;
    }
    if (!m_ippServer->isConnected()) {
        connectDirectory(s.DirAddress, dirPort());
    } else {
        setStatus(tr("Requesting User List"));
        sendDirectoryRequest(Proto::listRequest());
    }
    emit palCheckDue();
}

void DirectoryService::refresh()
{
    if (m_ippServer->isConnected()) {
        setStatus(tr("Refreshing Directory List"));
        sendDirectoryRequest(Proto::listRequest());
    }
    emit palCheckDue();
}

void DirectoryService::acceptRedirect(const QString &address)
{
    const qsizetype colon = address.indexOf(QLatin1Char(':'));
    Settings &s = m_.settings;
    s.DirAddress = (colon < 0 ? address : address.left(colon)).trimmed();
    s.DirPort = qint16(quint16(colon < 0 ? DefaultDirectoryPort : int(Fields::leadingNumber(address.mid(colon + 1)))));
    emit directoryTextChanged(directoryText());
    connectDirectory(s.DirAddress, dirPort());
}

void DirectoryService::loginAgain()
{
    if (m_ippServer->isConnected())
        sendDirectoryLogin();
    else
        connectDirectory(m_.settings.DirAddress, dirPort());
}

void DirectoryService::refreshLogin()
{
    if (m_ippServer->isConnected())
        sendDirectoryLogin();
}

void DirectoryService::closeDirectory()
{
    m_ippServer->setConnected(false);
}

void DirectoryService::reconnectDirectory()
{
    m_ippServer->setConnected(false);
    connectDirectory(m_.settings.DirAddress, dirPort());
}

void DirectoryService::sendDirectoryLogin()
{
    Settings &s = m_.settings;
    s.EMail = s.EMail.toLower();
    const Proto::Login login{.userNumber = m_.userNumber(), .name = s.Name, .email = s.EMail, .location = s.Location,
                             .comment = s.Comment, .video = m_.capture.isReady(), .audio = m_.audio.hasAudio(),
                             .listed = s.ShowOnList, .port = m_listenPort};
    m_ippServer->sendData(Proto::login(login));
}

void DirectoryService::onDirectoryConnected(int statusCode)
{
    if (statusCode != 0) {
        setStatus(m_blockedText.isEmpty() ? tr("Unable to contact Directory Server") : m_blockedText);
        return;
    }
    m_blockedText.clear();
    sendDirectoryLogin();
    sendDirectoryRequest(Proto::noticeRequest());
    setStatus(tr("Connected to Directory Server"));
}

void DirectoryService::connectionBlocked(const QString &text)
{
    m_blockedText = text;
    setStatus(text);
}

void DirectoryService::retryWithNewKey()
{
    m_blockedText.clear();
    reconnectDirectory();
}

void DirectoryService::setPrivate(bool encrypted)
{
    emit privacyChanged(encrypted);
}

void DirectoryService::sendDirectoryRequest(const QByteArray &message)
{
    m_ippServer->sendData(message);
    if (m_ippServer->sentCount() <= 0)
        return;
    ++m_awaitedAnswers;
    if (!m_tmrAnswer->isActive())
        m_tmrAnswer->start();
}

void DirectoryService::onAnswerOverdue()
{
    // Closing tells call control that a lookup under way has failed.
    m_ippServer->setConnected(false);
    setStatus(tr("Unable to contact Directory Server"));
}

void DirectoryService::onDirectoryDisconnected()
{
    m_awaitedAnswers = 0;
    m_tmrAnswer->stop();
    // No answer can come any more to an e-mail lookup under way.
    emit lookupsLost();
}

void DirectoryService::onDirectoryData(const QByteArray &text, bool eol)
{
    // A server still sending (a long list, say) is alive.
    if (m_tmrAnswer->isActive())
        m_tmrAnswer->start();
    if (m_skippingDirectory) {
        // The tail of a message too long to hold.
        if (eol)
            m_skippingDirectory = false;
        return;
    }
    if (!eol)
        m_skippingDirectory = true; // its first part is read as it is; the rest is skipped
    onDirectoryMessage(text);
}

void DirectoryService::onDirectoryMessage(const QByteArray &text)
{
    using Kind = Proto::Kind;
    Proto::FromServer message = Proto::readFromServer(text);
    const Kind kind = message.kind;
    if ((kind == Kind::Notice || kind == Kind::UserList || kind == Kind::EmailAnswer) && m_awaitedAnswers > 0) {
        if (--m_awaitedAnswers == 0)
            m_tmrAnswer->stop();
    }
    switch (kind) {
    case Kind::Notice:
        if (!message.notice.trimmed().isEmpty())
            emit informationRequested(message.notice);
        sendDirectoryRequest(Proto::listRequest());
        setStatus(tr("Requesting User List"));
        break;
    case Kind::Message:
        emit informationRequested(message.notice);
        break;
    case Kind::Busy:
        emit informationRequested(message.notice);
        m_.settings.DirAddress.clear();
        m_ippServer->setConnected(false);
        break;
    case Kind::Redirect:
        if (const auto &target = message.target)
            emit redirectOffered(target->Host, target->Port, target->Description);
        break;
    case Kind::ServerList:
        m_servers = std::move(message.servers);
        emit serverListChanged();
        break;
    case Kind::KeyedUsers:
        // Only a server reached over TLS says who is keyed, just before its list.
        m_keyedNumbers = std::move(message.keyed);
        break;
    case Kind::UserList: {
        setStatus(tr("Processing User List"));
        const Proto::UserList &list = message.users;
        m_entries = std::move(message.users.entries);
        for (Proto::UserEntry &e : m_entries)
            e.Keyed = m_keyedNumbers.contains(e.UserNumber);
        m_keyedNumbers.clear();
        m_online = QString::number(list.online) + tr(" Users Online");
        m_listed = QString::number(list.listed) + tr(" Users Listed");
        emit countsChanged(m_online, m_listed);
        emit userListChanged();
        setStatus(tr("Select User for Connection"));
        break;
    }
    case Kind::EmailAnswer: {
        const Proto::EmailAnswer &answer = message.email;
        emit emailAnswered(answer.name, answer.location, answer.address, answer.port);
        break;
    }
    default:
        break;
    }
}

// ---- Calls and messages ----

void DirectoryService::call(const QString &address, int entryNumber, int palNumber)
{
    // The selected user or pal may listen on a port other than the published one (a second program on
    // the same machine does): while the box still holds its address, call it there.
    const QString trimmed = address.trimmed();
    if (const Proto::UserEntry *e = entry(entryNumber); e && e->Address == trimmed) {
        callEntry(entryNumber);
        return;
    }
    if (palNumber >= 1 && palNumber <= m_.pals.count()) {
        const PalList::Pal &pal = m_.pals.pal(palNumber);
        if (pal.Status == 2 && pal.Address == trimmed) {
            callPal(palNumber);
            return;
        }
    }
    emit callRequested(address, PortPlan::PublishedBase, 0, QString());
}

void DirectoryService::callEntry(int k)
{
    if (const Proto::UserEntry *e = entry(k)) {
        // A user whose number is bound to a key can be offered a path by that number.
        const QString name = e->Keyed ? QString::number(e->UserNumber) : QString();
        emit callRequested(e->Address, e->Port, k, name);
    }
}

void DirectoryService::callPal(int k)
{
    if (k < 1 || k > m_.pals.count())
        return;
    const PalList::Pal &pal = m_.pals.pal(k);
    emit callRequested(pal.Address, int(quint16(pal.Port)), 0, pal.EMail);
}

void DirectoryService::sendMessage(int entryNumber, int palNumber)
{
    if (const Proto::UserEntry *e = entry(entryNumber)) {
        if (e->UserNumber >= Proto::FirstUserNumber && e->UserNumber <= Proto::LastUserNumber) {
            emit sendMessageRequested(e->Name, e->Location, e->Address, e->Port, e->UserNumber);
        } else {
            emit messageBoxRequested(QStringLiteral("ZELMO"),
                                     tr("This person is using an older version. You cannot send a "
                                        "message to an older version."));
        }
        return;
    }
    if (palNumber >= 1 && palNumber <= m_.pals.count()) {
        const PalList::Pal &pal = m_.pals.pal(palNumber);
        emit sendMessageRequested(pal.Name, pal.Location, pal.Address, int(quint16(pal.Port)), 0);
        return;
    }
    emit messageBoxRequested(QStringLiteral("ZELMO"), tr("Select a user to send message."));
}
