#include "directory/PalService.h"

#include "core/Fields.h"
#include "core/IPPort.h"
#include "core/PalList.h"
#include "core/Settings.h"
#include "directory/UserNumberFile.h"

#include <QCoreApplication>
#include <QTimer>

namespace Proto = DirectoryProtocol;

namespace {

QString saveFailure(const FileError &e)
{
    return QCoreApplication::translate("PalService", "Could not save Pal File, ") + QString::number(e.code)
           + QStringLiteral(" : ")
           + e.description;
}

} // namespace

PalService::PalService(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_ippServerPal(new IPPort(this))
    , m_tmrCheckPal(new QTimer(this))
{
    m_ippServerPal->setObjectName(QStringLiteral("ippServerPal"));
    m_tmrCheckPal->setObjectName(QStringLiteral("tmrCheckPal"));
    m_ippServerPal->setLineEnd(Proto::Terminator);
    m_ippServerPal->setInputBufferSize(PalInputBytes);
    m_tmrCheckPal->setInterval(PalCheckMs);

    connect(m_ippServerPal, &IPPort::connected, this, &PalService::onPalConnected);
    connect(m_ippServerPal, &IPPort::dataIn, this, &PalService::onPalData);
    connect(m_ippServerPal, &IPPort::disconnected, this, [this] {
        m_palLoggedIn = false;
        emit relayAccessChanged(std::nullopt);
        emit pathServerLost();
    });
    connect(m_tmrCheckPal, &QTimer::timeout, this, &PalService::palCheckTick);
}

PalList &PalService::list()
{
    return m_.pals;
}

int PalService::palCheckPosition() const
{
    return m_.pals.checkPosition;
}

QString PalService::palServerHost() const
{
    return m_palFollows.isEmpty() ? m_.settings.DirAddress.trimmed() : m_palHost;
}

void PalService::setPalServer(const QString &host, int port)
{
    followDirectory(m_.settings.DirAddress, dirPort());
    m_palHost = host;
    m_palPort = port;
    m_palMoved = true;
}

void PalService::setPalPort(int port)
{
    m_palHomePort = port;
    if (!m_palMoved)
        m_palPort = port;
}

int PalService::dirPort() const
{
    // The setting is 16 bits wide; ports above 32767 are kept in its bit pattern.
    return int(quint16(m_.settings.DirPort));
}

void PalService::followDirectory(const QString &host, int port)
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

void PalService::start()
{
    m_userNumber = UserNumberFile::read(m_.userNumberFile);
    m_ippServerPal->setStackOn(true);
    emit palsChanged();
    m_tmrCheckPal->start();
}

void PalService::shutdown()
{
    m_tmrCheckPal->stop();
    m_ippServerPal->setConnected(false);
    m_ippServerPal->setStackOn(false);
}

void PalService::directoryConnecting(const QString &host, int port)
{
    followDirectory(host, port);
    connectPalServer();
}

void PalService::refreshLogin()
{
    if (m_palLoggedIn)
        sendPalLogin();
}

void PalService::retryWithNewKey()
{
    if (!m_ippServerPal->isConnected())
        connectPalServer();
}

void PalService::connectPalServer()
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

void PalService::onPalConnected(int statusCode)
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

void PalService::sendPalLogin()
{
    const Settings &s = m_.settings;
    const Proto::Login login{.userNumber = m_userNumber, .name = s.Name, .email = s.EMail, .location = s.Location,
                             .comment = s.Comment, .kind = Proto::Login::PalClient, .port = m_listenPort};
    m_ippServerPal->sendData(Proto::login(login));
    m_palLoggedIn = true;
    if (m_palCheckWanted) {
        m_palCheckWanted = false;
        startPalCheck();
    }
}

void PalService::onPalData(const QByteArray &text, bool eol)
{
    // No pal message comes near the buffer's size: an over-long one is skipped whole.
    if (m_skippingPal || !eol) {
        m_skippingPal = !eol;
        return;
    }
    onPalMessage(text);
}

void PalService::onPalMessage(const QByteArray &text)
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
        sendPalLogin();
        // After the pal login: a directory login made before the number came carries -1
        // and is brought up to date on this.
        emit userNumberChanged(number);
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

void PalService::onPathMessage(const Proto::FromServer &message)
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

bool PalService::passesPathTexts() const
{
    return m_palLoggedIn && m_ippServerPal->isConnected() && m_ippServerPal->security().encrypted();
}

bool PalService::renewRelay()
{
    if (!passesPathTexts())
        return false;
    sendPalLogin();
    return true;
}

bool PalService::sendPathText(const QByteArray &text)
{
    if (!passesPathTexts())
        return false;
    m_ippServerPal->sendData(text);
    return m_ippServerPal->sentCount() > 0;
}

int PalService::matchPal(const QString &email) const
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

void PalService::onPalAnswer(const Proto::EmailAnswer &answer)
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

void PalService::lookUpPal(int k)
{
    m_ippServerPal->sendData(Proto::emailLookup(m_.pals.pal(k).EMail));
}

void PalService::startPalCheck()
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

void PalService::palCheckTick()
{
    connectPalServer();
    if (m_windowVisible && m_.pals.count() > 0)
        startPalCheck();
}

bool PalService::addPalEntry(const QString &email)
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

bool PalService::addPal(const QString &email)
{
    if (!addPalEntry(email))
        return false;
    startPalCheck();
    return true;
}

bool PalService::addPalFromMessage(const QString &email)
{
    return addPalEntry(email);
}

void PalService::removePal(int number)
{
    PalList &list = m_.pals;
    if (number < 1 || number > list.count())
        return;
    if (const FileError e = list.remove(m_.palFile, number))
        emit messageBoxRequested(QStringLiteral("ZELMO"), saveFailure(e));
    emit palsChanged();
}
