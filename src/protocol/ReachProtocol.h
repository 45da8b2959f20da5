#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The reachability check between a ZELMO and its directory server, on the directory
// connection or one of its own: the program names the port others should call it on, the
// server tries to connect back to the address it sees the program at and says how that
// went. Older servers ignore the unknown command, and a client that never asks is never
// answered, so nothing changes for either.
namespace ReachProtocol {

// "RCH;" port ";<ET>"
QByteArray request(int port);
// The message is a request (its command is "RCH"), well formed or not.
bool isRequest(const QByteArray &message);
// The port asked about, or none when the request is not a valid one.
std::optional<int> parseRequest(const QByteArray &message);

struct Answer
{
    bool reachable = false;
    // Where the server tried: the address it sees the program at, and the port asked about.
    QString address;
    int port = 0;
    QString reason;
};

// "RCA;" "YES"|"NO" ";" address ";" port ";" reason ";<ET>"
QByteArray answer(const Answer &answer);
std::optional<Answer> parseAnswer(const QByteArray &message);

} // namespace ReachProtocol
