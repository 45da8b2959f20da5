#include "directory/DirectoryService.h"

#include "core/Fields.h"
#include "core/IPPort.h"
#include "core/PalList.h"
#include "core/PeerChannel.h"
#include "core/Settings.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "directory/UserNumberFile.h"

#include <QCoreApplication>
#include <QTimer>

namespace Proto = DirectoryProtocol;

namespace {

QString saveFailure(const FileError &e)
{
    return QCoreApplication::translate("DirectoryService", "Could not save Pal File, ") + QString::number(e.code)
           + QStringLiteral(" : ")
           + e.description;
}

} // namespace

DirectoryService::DirectoryService(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_ippServer(new IPPort(this))
    , m_ippServerPal(new IPPort(this))
    , m_tmrCheckPal(new QTimer(this))
    , m_tmrAnswer(new QTimer(this))
{
    m_ippServer->setObjectName(QStringLiteral("ippServer"));
    m_ippServerPal->setObjectName(QStringLiteral("ippServerPal"));
    m_tmrCheckPal->setObjectName(QStringLiteral("tmrCheckPal"));
    m_tmrAnswer->setObjectName(QStringLiteral("tmrDirectoryAnswer"));
    m_ippServer->setLineEnd(Proto::Terminator);
    m_ippServerPal->setLineEnd(Proto::Terminator);
    m_ippServer->setInputBufferSize(DirectoryInputBytes);
    m_ippServerPal->setInputBufferSize(PalInputBytes);
    m_tmrCheckPal->setInterval(PalCheckMs);
    m_tmrAnswer->setSingleShot(true);
    m_tmrAnswer->setInterval(AnswerWaitMs);

    connect(m_ippServer, &IPPort::connected, this, &DirectoryService::onDirectoryConnected);
    connect(m_ippServer, &IPPort::dataIn, this, &DirectoryService::onDirectoryData);
    connect(m_ippServer, &IPPort::disconnected, this, &DirectoryService::onDirectoryDisconnected);
    connect(m_tmrAnswer, &QTimer::timeout, this, &DirectoryService::onAnswerOverdue);
    connect(m_ippServerPal, &IPPort::connected, this, &DirectoryService::onPalConnected);
    connect(m_ippServerPal, &IPPort::dataIn, this, &DirectoryService::onPalData);
    connect(m_ippServerPal, &IPPort::disconnected, this, [this] {
        m_palLoggedIn = false;
        emit relayAccessChanged(std::nullopt);
        emit pathServerLost();
    });
    connect(m_tmrCheckPal, &QTimer::timeout, this, &DirectoryService::palCheckTick);
}

void DirectoryService::setAnswerWait(int ms)
{
    m_tmrAnswer->setInterval(ms);
}

const Proto::UserEntry *DirectoryService::entry(int k) const
{
    return k >= 1 && k <= m_entries.size() ? &m_entries.at(k - 1) : nullptr;
}

PalList &DirectoryService::pals()
{
    return m_.pals;
}

int DirectoryService::palCheckPosition() const
{
    return m_.pals.checkPosition;
}

QString DirectoryService::palServerHost() const
{
    return m_palFollows.isEmpty() ? m_.settings.DirAddress.trimmed() : m_palHost;
}

void DirectoryService::setPalServer(const QString &host, int port)
{
    followDirectory(m_.settings.DirAddress, dirPort());
    m_palHost = host;
    m_palPort = port;
    m_palMoved = true;
}

void DirectoryService::setPalPort(int port)
{
    m_palHomePort = port;
    if (!m_palMoved)
        m_palPort = port;
}

void DirectoryService::followDirectory(const QString &host, int port)
{
    // A directory server forgotten after a "BSY" leaves the pal server where it was.
    const QString trimmed = host.trimmed();
    const QString where = trimmed.toLower() + QLatin1Char(':') + QString::number(port);
    if (trimmed.isEmpty() || where == m_palFollows)
        return;
    const bool moving = !m_palFollows.isEmpty();
    m_palFollows = where;
    m_palHost = trimmed;
    m_palPort = m_palHomePort;
    m_palMoved = false;
    // The old pal server's connection goes; the next one reaches the new server.
    if (moving)
        m_ippServerPal->setConnected(false);
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
    m_userNumber = UserNumberFile::read(m_.userNumberFile);
    m_ippServer->setStackOn(true);
    m_ippServerPal->setStackOn(true);
    emit palsChanged();
    m_tmrCheckPal->start();
}

void DirectoryService::shutdown()
{
    m_tmrCheckPal->stop();
    m_ippServer->setConnected(false);
    m_ippServerPal->setConnected(false);
    m_ippServer->setStackOn(false);
    m_ippServerPal->setStackOn(false);
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
    followDirectory(trimmed, port);
    connectPalServer();
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
    palCheckTick();
}

void DirectoryService::refresh()
{
    if (m_ippServer->isConnected()) {
        setStatus(tr("Refreshing Directory List"));
        sendDirectoryRequest(Proto::listRequest());
    }
    palCheckTick();
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
    if (m_palLoggedIn)
        sendPalLogin();
}

void DirectoryService::refreshLogins()
{
    if (m_ippServer->isConnected())
        sendDirectoryLogin();
    if (m_palLoggedIn)
        sendPalLogin();
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

Proto::Login DirectoryService::ownLogin() const
{
    const Settings &s = m_.settings;
    return {.userNumber = m_userNumber, .name = s.Name, .email = s.EMail, .location = s.Location,
            .comment = s.Comment, .port = m_listenPort};
}

void DirectoryService::sendDirectoryLogin()
{
    Settings &s = m_.settings;
    s.EMail = s.EMail.toLower();
    Proto::Login login = ownLogin();
    login.video = m_.capture.isReady();
    login.audio = m_.audio.hasAudio();
    login.listed = s.ShowOnList;
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
    if (!m_ippServerPal->isConnected())
        connectPalServer();
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

// ---- Pals ----

void DirectoryService::connectPalServer()
{
    followDirectory(m_.settings.DirAddress, dirPort());
    if (m_ippServerPal->isConnected())
        return;
    // Trouble is silent here: the next check tries again.
    if (m_ippServerPal->setRemotePort(m_palPort))
        return;
    if (m_ippServerPal->setRemoteAddress(m_palHost))
        return;
    m_ippServerPal->setConnected(true);
}

void DirectoryService::onPalConnected(int statusCode)
{
    if (statusCode != 0)
        return;
    m_skippingPal = false;
    m_.settings.EMail = m_.settings.EMail.toLower();
    if (m_userNumber == -1) {
        m_ippServerPal->sendData(Proto::numberRequest());
        return;
    }
    sendPalLogin();
}

void DirectoryService::sendPalLogin()
{
    Proto::Login login = ownLogin();
    login.kind = Proto::Login::PalClient;
    m_ippServerPal->sendData(Proto::login(login));
    m_palLoggedIn = true;
    if (m_palCheckWanted) {
        m_palCheckWanted = false;
        startPalCheck();
    }
}

void DirectoryService::onPalData(const QByteArray &text, bool eol)
{
    // No pal message comes near the buffer's size: an over-long one is skipped whole.
    if (m_skippingPal || !eol) {
        m_skippingPal = !eol;
        return;
    }
    onPalMessage(text);
}

void DirectoryService::onPalMessage(const QByteArray &text)
{
    using Kind = Proto::Kind;
    const Proto::FromServer message = Proto::readFromServer(text);
    switch (message.kind) {
    case Kind::NewNumber: {
        const qint32 number = message.number;
        // Only a number of the servers' range is an identity worth keeping. A server with
        // none to give now says so with -1: the user logs in without one meanwhile and
        // asks again on the next connection.
        if (number < Proto::FirstUserNumber || number > Proto::LastUserNumber) {
            if (!m_palLoggedIn && m_userNumber == Proto::NoUserNumber)
                sendPalLogin();
            return;
        }
        m_userNumber = number;
        if (const FileError e = UserNumberFile::write(m_.userNumberFile, number)) {
            emit informationRequested(tr("Could not save the user number, ") + QString::number(e.code)
                                      + QStringLiteral(" : ") + e.description);
        }
        emit userNumberChanged(number);
        sendPalLogin();
        // A directory login made before the number came carries -1: it is brought up to date.
        if (m_ippServer->isConnected())
            sendDirectoryLogin();
        break;
    }
    case Kind::EmailAnswer:
        onPalAnswer(message.email);
        break;
    case Kind::CallOffer:
    case Kind::CallAnswer:
    case Kind::CallEnd:
    case Kind::RelayAccess:
        // Only a server that speaks encrypted passes these on.
        if (passesPathTexts())
            onPathMessage(message);
        break;
    case Kind::Busy:
        m_ippServerPal->setConnected(false);
        if (message.target)
            setPalServer(message.target->Host, message.target->Port);
        break;
    default:
        break;
    }
}

void DirectoryService::onPathMessage(const Proto::FromServer &message)
{
    if (message.offer)
        emit callOfferArrived(*message.offer);
    else if (message.answer)
        emit callAnswerArrived(*message.answer);
    else if (message.end)
        emit callEndArrived(*message.end);
    else if (message.relay)
        emit relayAccessChanged(message.relay);
}

bool DirectoryService::passesPathTexts() const
{
    return m_palLoggedIn && m_ippServerPal->isConnected() && m_ippServerPal->security().encrypted();
}

bool DirectoryService::renewRelay()
{
    if (!passesPathTexts())
        return false;
    sendPalLogin();
    return true;
}

bool DirectoryService::sendPathText(const QByteArray &text)
{
    if (!passesPathTexts())
        return false;
    m_ippServerPal->sendData(text);
    return m_ippServerPal->sentCount() > 0;
}

int DirectoryService::matchPal(const QString &email) const
{
    const PalList &list = m_.pals;
    const QString lower = email.trimmed().toLower();
    for (int k = 1; k <= list.count(); ++k) {
        const QString &stored = list.pal(k).EMail;
        if (!stored.isEmpty() && stored.toLower() == lower)
            return k;
    }
    for (int k = 1; k <= list.count(); ++k) {
        const QString &stored = list.pal(k).EMail;
        if (!stored.isEmpty() && email.contains(stored))
            return k;
    }
    return 0;
}

void DirectoryService::onPalAnswer(const Proto::EmailAnswer &answer)
{
    PalList &list = m_.pals;
    if (const int k = matchPal(answer.email)) {
        PalList::Pal &pal = list.pal(k);
        if (answer.found() && answer.port != 0) {
            // The stored e-mail stays: it is the pal's key in the file.
            pal.Name = Fields::singleLine(answer.name).isEmpty() ? pal.Name : Fields::singleLine(answer.name);
            pal.Location = answer.location;
            pal.Address = answer.address;
            pal.Port = qint16(quint16(answer.port));
            pal.Status = 2;
        } else {
            pal.Status = 1;
        }
    }
    // Only an answer within a running check moves it on.
    int &position = list.checkPosition;
    if (position < 1 || position > list.count())
        return;
    ++position;
    if (position <= list.count()) {
        lookUpPal(position);
    } else {
        position = 0;
        emit palsChanged();
    }
}

void DirectoryService::lookUpPal(int k)
{
    m_ippServerPal->sendData(Proto::emailLookup(m_.pals.pal(k).EMail));
}

void DirectoryService::startPalCheck()
{
    PalList &list = m_.pals;
    if (list.count() == 0)
        return;
    if (!m_ippServerPal->isConnected()) {
        m_palCheckWanted = true;
        return;
    }
    list.checkPosition = 1;
    lookUpPal(1);
}

void DirectoryService::palCheckTick()
{
    connectPalServer();
    if (m_windowVisible && m_.pals.count() > 0)
        startPalCheck();
}

bool DirectoryService::addPalEntry(const QString &email)
{
    const QString text = email.trimmed();
    if (text.isEmpty())
        return false;
    PalList &list = m_.pals;
    if (list.count() >= PalList::Capacity) {
        emit messageBoxRequested(tr("Pal Entry"),
                                 tr("Your pal list is full: it holds %1 pals. Delete a pal before "
                                    "adding another.")
                                     .arg(PalList::Capacity));
        return false;
    }
    if (const FileError e = list.add(m_.palFile, text))
        emit messageBoxRequested(QStringLiteral("ZELMO"), saveFailure(e));
    emit palsChanged();
    return true;
}

bool DirectoryService::addPal(const QString &email)
{
    if (!addPalEntry(email))
        return false;
    startPalCheck();
    return true;
}

bool DirectoryService::addPalFromMessage(const QString &email)
{
    return addPalEntry(email);
}

void DirectoryService::removePal(int number)
{
    PalList &list = m_.pals;
    if (number < 1 || number > list.count())
        return;
    if (const FileError e = list.remove(m_.palFile, number))
        emit messageBoxRequested(QStringLiteral("ZELMO"), saveFailure(e));
    emit palsChanged();
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
