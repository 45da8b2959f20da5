#include "core/OptionsLogic.h"

#include "core/Fields.h"
#include "core/RefuseList.h"
#include "core/Settings.h"

QString OptionsLogic::nameTooShortText()
{
    return tr("You must enter a name of at least 3 Characters in length.");
}

QString OptionsLogic::emailTooShortText()
{
    return tr("You must enter an Email Address of at least 8 Characters in length.");
}

QString OptionsLogic::realChatLockedText()
{
    return tr("This option cannot be changed while you are in a connection. Please disconnect to set "
              "this option.");
}

OptionsLogic::OptionsLogic(Settings &settings, RefuseList &refuseList, QString refusePath, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_refuseList(refuseList)
    , m_refusePath(std::move(refusePath))
{
}

OptionsLogic::Values OptionsLogic::load() const
{
    const Settings &s = m_settings;
    Values v;
    v.name = s.Name;
    v.email = s.EMail;
    v.location = s.Location;
    v.comment = s.Comment;
    v.showOnList = s.ShowOnList;
    v.dirAddress = dirAddressText(s.DirAddress, s.DirPort);
    v.autoAccept = s.AutoAccept;
    v.sendWelcome = s.SendWelcome;
    v.welcomeMsg = s.WelcomeMsg;
    v.realChat = s.EnableRTC;
    v.saveWinPos = s.SaveWinPos;
    v.moveAllWin = s.MoveAllWin;
    v.rememberWin = s.RememberWin;
    v.imageMsgOn = s.SendImageMsg;
    v.imageMsg = s.ImageMsg;
    v.quickMessagesDisabled = s.Disable;
    return v;
}

QString OptionsLogic::dirAddressText(const QString &host, int port)
{
    return host + QLatin1Char(':') + QString::number(port);
}

OptionsLogic::DirAddress OptionsLogic::splitDirAddress(const QString &text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return {text, qint16(DefaultDirPort)};
    return {text.left(colon), Fields::leadingInt16(Fields::toWire(text.mid(colon + 1)))};
}

QString OptionsLogic::withoutSeparators(const QString &text)
{
    QString clean = text;
    clean.remove(Separator);
    return clean;
}

QString OptionsLogic::refusal(const Values &values)
{
    if (values.name.trimmed().size() < 3)
        return nameTooShortText();
    if (values.email.trimmed().size() < 8)
        return emailTooShortText();
    return {};
}

bool OptionsLogic::save(const Values &given)
{
    if (const QString text = refusal(given); !text.isEmpty()) {
        emit informationRequested(text);
        return false;
    }
    // The boxes filter the separator as it is typed; what else reaches here (a program
    // setting the values) is filtered the same way, so no wire message is ever split.
    Values v = given;
    for (QString *text : {&v.name, &v.email, &v.location, &v.comment, &v.welcomeMsg})
        *text = withoutSeparators(*text);

    Settings &s = m_settings;
    bool loginChange = v.name != s.Name || v.email != s.EMail || v.location != s.Location || v.comment != s.Comment
                       || v.showOnList != s.ShowOnList;

    s.Name = v.name;
    s.EMail = v.email;
    s.Location = v.location;
    s.Comment = v.comment;
    s.AutoAccept = v.autoAccept;
    s.ShowOnList = v.showOnList;
    s.EnableRTC = v.realChat;
    s.SendImageMsg = v.imageMsgOn;
    s.ImageMsg = v.imageMsg;

    const DirAddress dir = splitDirAddress(v.dirAddress);
    const bool serverChange = dir.host != s.DirAddress || dir.port != s.DirPort;
    if (serverChange) {
        s.DirAddress = dir.host;
        s.DirPort = dir.port;
        loginChange = true;
    }

    s.SendWelcome = v.sendWelcome;
    s.WelcomeMsg = v.welcomeMsg;
    s.SaveWinPos = v.saveWinPos;
    s.MoveAllWin = v.moveAllWin;
    s.RememberWin = v.rememberWin;

    if (serverChange)
        emit directoryServerChanged();
    if (loginChange)
        emit loginChanged();
    emit soundTestEnded();
    const bool disabledChange = s.Disable != v.quickMessagesDisabled;
    s.Disable = v.quickMessagesDisabled;
    if (disabledChange)
        emit quickMessagesDisabledChanged(s.Disable);
    return true;
}

void OptionsLogic::discard()
{
    emit soundTestEnded();
}

bool OptionsLogic::realChatChanged(bool checked)
{
    if (checked != m_settings.EnableRTC && m_chatOpen && m_chatOpen()) {
        emit realChatRefused(realChatLockedText());
        return m_settings.EnableRTC;
    }
    return checked;
}

void OptionsLogic::setVideoQualityLow(bool low)
{
    m_settings.VQualityLow = low;
}

FileError OptionsLogic::removeRefused(int row)
{
    if (row < 0 || row >= m_refuseList.count())
        return {};
    const FileError e = m_refuseList.remove(m_refusePath, row + 1);
    if (e) {
        emit informationRequested(tr("Could not save Refuse List data File, ") + QString::number(e.code)
                                  + QStringLiteral(" : ") + e.description);
    }
    return e;
}
