#include "server/ServerConfig.h"

#include "core/Fields.h"

std::optional<DirectoryProtocol::ServerEntry> ServerConfig::parseTarget(const QString &text)
{
    const qsizetype first = text.indexOf(QLatin1Char(':'));
    if (first <= 0)
        return std::nullopt;
    const qsizetype second = text.indexOf(QLatin1Char(':'), first + 1);
    const QString portText = second < 0 ? text.mid(first + 1) : text.mid(first + 1, second - first - 1);
    bool ok = false;
    const int port = portText.trimmed().toInt(&ok);
    DirectoryProtocol::ServerEntry target;
    target.Host = text.left(first).trimmed();
    target.Port = ok ? Fields::validPort(port) : 0;
    target.Description = second < 0 ? QString() : text.mid(second + 1).trimmed();
    if (target.Host.isEmpty() || target.Port == 0)
        return std::nullopt;
    return target;
}
