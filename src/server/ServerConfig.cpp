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

std::optional<DirectoryProtocol::ServerEntry> ServerConfig::parseHostPort(const QString &text, int defaultPort)
{
    const QString t = text.trimmed();
    QString host = t;
    QString portText;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        // More than one colon is an IPv6 address without a port.
        host = t.section(QLatin1Char(':'), 0, 0);
        portText = t.section(QLatin1Char(':'), 1);
    }
    int port = defaultPort;
    if (!portText.isNull()) {
        bool ok = false;
        port = portText.toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    DirectoryProtocol::ServerEntry entry;
    entry.Host = host.trimmed();
    entry.Port = Fields::validPort(port);
    if (entry.Host.isEmpty() || entry.Port == 0)
        return std::nullopt;
    return entry;
}
