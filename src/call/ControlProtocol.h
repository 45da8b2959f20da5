#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

// Texts of the control channel between two peers. Every control message is built and
// parsed here; nothing else concatenates them. A control message has no terminator: each
// piece of data received is one whole message.
namespace ControlProtocol {

// The version this program announces in its user information.
inline constexpr char Version[] = "2.5";
// Texts taken from a peer are cut to this many characters.
inline constexpr int MaxFieldLength = 200;

// "RQC;" name ";" location ";" time ";"
QByteArray request(const QString &name, const QString &location, QTime localTime);
// "RRS;YES;" name ";" location ";" time ";"
QByteArray acceptance(const QString &name, const QString &location, QTime localTime);
// "RRS;NO;"
QByteArray refusal();
// "BSY"
QByteArray busy();
// "UIF;2.5;" followed by "True" or "False" and ";". The caller sends its EnableRTC; the
// callee answers every UIF with the combined real-time chat flag.
QByteArray userInfo(bool realTimeChat);

// Local time as sent in requests and acceptances: "9:05", "14:30", "0:00".
QString timeText(QTime localTime);

struct Message
{
    enum class Kind { Ignored, Request, Accepted, Refused, Busy, UserInfo };

    Kind kind = Kind::Ignored;
    // Request and Accepted: the sender's name, location and local time, each on one
    // line and at most MaxFieldLength characters.
    QString name;
    QString location;
    QString time;
    // UserInfo: the peer announced version 2.5, and its "True" real-time chat flag.
    // rtc only counts when isV25 is set.
    bool isV25 = false;
    bool rtc = false;
};

// Never fails: anything that is not a control message the program answers is Ignored.
// Which kinds a side acts on (Request on the callee, Accepted/Refused/Busy on the
// caller, UserInfo on both) is the caller's business.
Message parse(const QByteArray &text);

} // namespace ControlProtocol
