// A control message from a peer: the field routines and the control channel's parser.
#include "FuzzSupport.h"

#include "call/ControlProtocol.h"
#include "core/Fields.h"

namespace {

bool fitForALogLine(const QString &text)
{
    return text.size() <= ControlProtocol::MaxFieldLength && Fields::singleLine(text) == text
           && !text.contains(QLatin1Char(';'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = FuzzSupport::bytes(data, size);

    // The three field routines tell the same story.
    const int n = Fields::countFields(text);
    FUZZ_CHECK(n == text.count(';'));
    QByteArray rest = text;
    QByteArrayList fields;
    while (!rest.isEmpty())
        fields.append(Fields::readField(rest));
    const bool openLast = !text.isEmpty() && !text.endsWith(';');
    FUZZ_CHECK(fields.size() == n + (openLast ? 1 : 0));
    FUZZ_CHECK(fields.join(';') + (openLast || text.isEmpty() ? "" : ";") == text);
    for (int k = 1; k <= std::min<int>(int(fields.size()), 40); ++k)
        FUZZ_CHECK(Fields::getField(text, k) == fields.at(k - 1));

    const QByteArray cut = Fields::utf8Left(text, int(text.size() / 2));
    FUZZ_CHECK(text.startsWith(cut) && cut.size() <= text.size() / 2);
    const qint64 number = Fields::leadingNumber(text);
    FUZZ_CHECK(Fields::leadingInt16(text) == std::clamp<qint64>(number, -32768, 32767));

    // What the parser hands on is fit for a label, a log line and a transcript, and a
    // request or acceptance built from it reads back the same.
    const ControlProtocol::Message m = ControlProtocol::parse(text);
    using Kind = ControlProtocol::Message::Kind;
    FUZZ_CHECK(fitForALogLine(m.name) && fitForALogLine(m.location) && fitForALogLine(m.time));
    if (m.kind == Kind::Request) {
        const ControlProtocol::Message again = ControlProtocol::parse(ControlProtocol::request(m.name, m.location, QTime(9, 5)));
        FUZZ_CHECK(again.kind == Kind::Request && again.name == m.name && again.location == m.location);
    } else if (m.kind == Kind::Accepted) {
        const ControlProtocol::Message again =
            ControlProtocol::parse(ControlProtocol::acceptance(m.name, m.location, QTime(14, 30)));
        FUZZ_CHECK(again.kind == Kind::Accepted && again.name == m.name && again.location == m.location
                   && again.time == QLatin1String("14:30"));
    } else if (m.kind != Kind::UserInfo) {
        FUZZ_CHECK(m.name.isEmpty() && m.location.isEmpty());
    }
    if (!m.isV25)
        FUZZ_CHECK(m.kind == Kind::UserInfo || !m.rtc);
    return 0;
}
