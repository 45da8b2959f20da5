// Answers to the router search, from anything on the home network: a location is taken only
// from an answer with status 200, only as an http address of the very gateway asked, and
// then never for another gateway.
#include "FuzzSupport.h"

#include "reach/RouterSearch.h"

#include <QHostAddress>
#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QHostAddress Gateways[] = {QHostAddress(QStringLiteral("192.168.1.1")),
                                            QHostAddress(QStringLiteral("10.0.0.138")),
                                            QHostAddress(QStringLiteral("172.16.0.1"))};
    FuzzSupport::Choices choices(FuzzSupport::bytes(data, size));
    const QHostAddress &gateway = Gateways[choices.take() % std::size(Gateways)];
    const QByteArray answer = choices.rest();

    const QByteArray location = RouterSearch::locationIn(answer, gateway);
    if (location.isEmpty())
        return 0;
    // What one gateway may take, no other may.
    for (const QHostAddress &other : Gateways) {
        if (&other != &gateway)
            FUZZ_CHECK(RouterSearch::locationIn(answer, other).isEmpty());
    }
    FUZZ_CHECK(answer.startsWith("HTTP/1."));
    FUZZ_CHECK(answer.contains(location));
    // One header's value, nothing of the lines around it.
    FUZZ_CHECK(!location.contains('\n') && !location.contains('\r'));
    const QUrl url(QString::fromLatin1(location), QUrl::StrictMode);
    FUZZ_CHECK(url.isValid() && url.scheme() == QLatin1String("http"));
    FUZZ_CHECK(QHostAddress(url.host()).isEqual(gateway, QHostAddress::TolerantConversion));
    return 0;
}
