// What the router answers a port mapping request, in SOAP: whatever comes, the values read
// stay within their bounds, an answer is taken as success only with status 200 and readable
// text, and a refusal always says why. A request's own values, sent back as an answer, read
// as they went.
#include "FuzzSupport.h"

#include "reach/UpnpSoap.h"

namespace {

// Characters an XML text may hold as they are (escaped where they must be).
bool fitsXmlText(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0xd800 && u <= 0xdfff) || u >= 0xfffe)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::Choices choices(FuzzSupport::bytes(data, size));
    static constexpr int Statuses[] = {200, 500, 401, 404, 0};
    const int status = Statuses[choices.take() % std::size(Statuses)];
    const QByteArray body = choices.rest();

    const UpnpSoap::Answer answer = UpnpSoap::read(status, body);
    FUZZ_CHECK(answer.values.size() <= UpnpSoap::MaxValues);
    for (auto it = answer.values.cbegin(); it != answer.values.cend(); ++it) {
        FUZZ_CHECK(!it.key().isEmpty());
        FUZZ_CHECK(it.value().size() <= UpnpSoap::MaxValueChars);
    }
    FUZZ_CHECK(!answer.ok || status == 200);
    FUZZ_CHECK(answer.ok == answer.why.isEmpty());
    FUZZ_CHECK(answer.errorCode >= 0 && (answer.errorCode == 0 || !answer.ok));
    // The reason goes into the log and the options window: a line of bounded length.
    FUZZ_CHECK(answer.why.size() <= 200);

    // The same bytes as the value of a request: the router's echo of it reads the same.
    const QString value = QString::fromUtf8(body).left(UpnpSoap::MaxValueChars);
    if (!fitsXmlText(value))
        return 0;
    const UpnpSoap::Arguments arguments{{"NewRemoteHost", QString()}, {"NewDescription", value}};
    const UpnpSoap::Answer echo =
        UpnpSoap::read(200, UpnpSoap::envelope("urn:schemas-upnp-org:service:WANIPConnection:1", "AddPortMapping", arguments));
    FUZZ_CHECK(echo.ok);
    FUZZ_CHECK(echo.values.value(QStringLiteral("NewRemoteHost")).isEmpty());
    FUZZ_CHECK(echo.values.value(QStringLiteral("NewDescription")) == value.trimmed());
    return 0;
}
