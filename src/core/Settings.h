#pragma once

#include <QString>

// The user's settings, one member per key of "zelmo.ini", read once at start-up and
// written once at exit. Member names are the key names.
struct Settings
{
    // [Personal]
    QString Name;
    QString EMail;
    QString Location;
    QString Comment;
    bool ShowOnList = true;
    QString DirAddress = DefaultDirAddress;
    qint16 DirPort = 2010;
    // [Messaging]
    bool Disable = false;
    // [VideoCapture]
    qint16 DriverNum = 0;
    bool SendImageMsg = false;
    QString ImageMsg = QStringLiteral("I like ZELMO");
    // [Calling]
    bool AutoAccept = false;
    bool EnableRTC = true;
    bool SendWelcome = true;
    QString WelcomeMsg = QStringLiteral("I can SEE you Too!");
    qint16 AutoDecTime = 20;
    // [Windows]
    bool SaveWinPos = false;
    // Window geometry in twips; 32-bit, since a 16-bit twip count ends at about 2184 pixels.
    qint32 DirWidth = 8400;
    qint32 DirHeight = 6000;
    qint32 WinPosLeft = 0;
    qint32 WinPosTop = 0;
    bool MoveAllWin = true;
    bool RememberWin = true;
    bool SelfViewOn = true;
    bool ChatToolOn = false;
    bool DataRatesOn = false;
    bool VQualityLow = false;
    // VSpeedLow is written as "True" and never read.
    qint16 ChatFontSize = 9;

    static inline const QString DefaultDirAddress = QStringLiteral("localhost");
    static constexpr int KeyCount = 29;

    // Missing file, section or key: the default. Never fails.
    void load(const QString &path);
    // Writes every key in table order, keeping the file's other lines.
    // Returns false when the file cannot be written.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
