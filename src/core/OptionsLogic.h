#pragma once

#include "core/FileError.h"

#include <QObject>
#include <QString>

#include <functional>

class RefuseList;
struct Settings;

// What the options dialog does with the settings, without the dialog: the values its
// controls load, the ";" filter of the personal boxes, the two length checks, and the save
// steps with the rule that decides when the directory must hear a new login.
//
// Saving tells the directory what changed through two signals, in this order:
// directoryServerChanged() when the directory address or port changed (the connection to
// the old server is to be closed), then loginChanged() when the login must be given anew:
// sent again on an open connection, or a connection opened to DirAddress:DirPort when
// there is none.
class OptionsLogic : public QObject
{
    Q_OBJECT

public:
    // The controls' values, as the dialog shows them.
    struct Values
    {
        QString name;
        QString email;
        QString location;
        QString comment;
        bool showOnList = true;
        QString dirAddress;
        bool autoAccept = false;
        bool sendWelcome = true;
        QString welcomeMsg;
        bool realChat = true;
        bool saveWinPos = false;
        bool moveAllWin = true;
        bool rememberWin = true;
        bool imageMsgOn = false;
        QString imageMsg;
        bool quickMessagesDisabled = false;
    };

    // The directory server's port when the address names none.
    static constexpr int DefaultDirPort = 2010;
    // What the settings file keeps of a text (longer values come back cut at the next start).
    static constexpr int TextLength = 49;
    static constexpr int WelcomeLength = 99;
    // The protocols' field separator, which the personal boxes never take.
    static constexpr QChar Separator = QLatin1Char(';');

    static QString nameTooShortText();
    static QString emailTooShortText();
    static QString realChatLockedText();

    OptionsLogic(Settings &settings, RefuseList &refuseList, QString refusePath, QObject *parent = nullptr);

    // Whether a text chat connection is open, for the real-time chat rule (none when unset).
    void setChatConnectionQuery(std::function<bool()> isOpen) { m_chatOpen = std::move(isOpen); }

    Values load() const;
    // "host:port" as the directory box shows it.
    static QString dirAddressText(const QString &host, int port);
    // Split at the first ":": the host before it, the leading number after it (0 when none);
    // without a ":" the whole text is the host and the port is 2010.
    struct DirAddress
    {
        QString host;
        qint16 port = DefaultDirPort;
    };
    static DirAddress splitDirAddress(const QString &text);
    // The key filter of the name, e-mail, location, comment and welcome boxes.
    static QString withoutSeparators(const QString &text);

    // The message that refuses the values, or an empty text when they may be saved.
    static QString refusal(const Values &values);
    // Checks and saves. A refusal is announced through informationRequested and nothing
    // changes; otherwise the settings take the values and the directory is told.
    bool save(const Values &values);
    // The dialog closes without saving: only the sound test ends.
    void discard();

    // The real-time chat box may not change while a text chat connection is open: returns
    // the value the box must show (the stored one when the change is refused, after
    // realChatRefused).
    bool realChatChanged(bool checked);

    // Quality choices apply at once.
    void setVideoQualityLow(bool low);

    // Removes refuse entry `row` (counted from 0) and rewrites the refuse file; a file that
    // cannot be written is reported (the entry stays removed for this run).
    FileError removeRefused(int row);
    const RefuseList &refuseList() const { return m_refuseList; }

signals:
    void informationRequested(const QString &text);
    void realChatRefused(const QString &text);
    void directoryServerChanged();
    void loginChanged();
    // The dialog closed: a sound-test recording is discarded and no longer held.
    void soundTestEnded();
    // Quick messages were switched off or on: the indicator hides or shows.
    void quickMessagesDisabledChanged(bool disabled);

private:
    Settings &m_settings;
    RefuseList &m_refuseList;
    QString m_refusePath;
    std::function<bool()> m_chatOpen;
};
