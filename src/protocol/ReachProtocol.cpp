#include "protocol/ReachProtocol.h"

#include "core/Fields.h"
#include "protocol/DirectoryProtocol.h"

namespace ReachProtocol {

namespace {

constexpr char RequestCommand[] = "RCH";
constexpr char AnswerCommand[] = "RCA";

std::optional<int> port(const QByteArray &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

} // namespace

QByteArray request(int port)
{
    return QByteArray(RequestCommand) + ';' + QByteArray::number(port) + ';' + DirectoryProtocol::Terminator;
}

bool isRequest(const QByteArray &message)
{
    return DirectoryProtocol::command(message) == RequestCommand;
}

std::optional<int> parseRequest(const QByteArray &message)
{
    if (!isRequest(message))
        return std::nullopt;
    return port(Fields::getField(message, 2));
}

QByteArray answer(const Answer &a)
{
    return QByteArray(AnswerCommand) + ';' + (a.reachable ? "YES" : "NO") + ';' + DirectoryProtocol::field(a.address)
           + ';' + QByteArray::number(a.port) + ';' + DirectoryProtocol::field(a.reason) + ';'
           + DirectoryProtocol::Terminator;
}

std::optional<Answer> parseAnswer(const QByteArray &message)
{
    if (DirectoryProtocol::command(message) != AnswerCommand)
        return std::nullopt;
    const QByteArray verdict = Fields::getField(message, 2);
    const std::optional<int> asked = port(Fields::getField(message, 4));
    if ((verdict != "YES" && verdict != "NO") || !asked)
        return std::nullopt;
    Answer a;
    a.reachable = verdict == "YES";
    a.address = Fields::singleLine(Fields::fromWire(Fields::getField(message, 3))).trimmed();
    a.port = *asked;
    a.reason = Fields::singleLine(Fields::fromWire(Fields::getField(message, 5))).trimmed();
    return a;
}

} // namespace ReachProtocol
