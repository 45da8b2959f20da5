#include "call/CallAddress.h"

#include "core/Fields.h"

namespace {

// Digits only, read without wrapping, then 1 to 65535; anything else is 0.
int portFrom(const QString &text)
{
    if (text.isEmpty())
        return 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
    }
    return Fields::validPort(Fields::leadingNumber(text));
}

CallAddress make(const QString &host, int port)
{
    CallAddress address;
    address.host = host;
    address.port = port;
    address.valid = !host.isEmpty() && port != 0;
    return address;
}

} // namespace

CallAddress CallAddress::parse(const QString &typed, int defaultPort)
{
    const QString text = typed.trimmed();
    const int fallback = Fields::validPort(defaultPort);

    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return make(QString(), 0);
        const QString host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.isEmpty())
            return make(host, fallback);
        if (!rest.startsWith(QLatin1Char(':')))
            return make(QString(), 0);
        return make(host, portFrom(rest.mid(1)));
    }

    const qsizetype colons = text.count(QLatin1Char(':'));
    if (colons == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        return make(text.left(colon), portFrom(text.mid(colon + 1)));
    }
    // No colon: a name or dotted address. Several: a bare IPv6 address.
    return make(text, fallback);
}

bool CallAddress::isEmailAddress(const QString &typed)
{
    return typed.contains(QLatin1Char('@'));
}
