#include "directory/DirectoryProtocol.h"

#include "core/Fields.h"

#include <QRandomGenerator>

#include <utility>

namespace DirectoryProtocol {

namespace {

QByteArray yesNo(bool value)
{
    return value ? QByteArrayLiteral("YES") : QByteArrayLiteral("NO");
}

bool isYes(const QByteArray &text)
{
    return text == "YES";
}

QString text(const QByteArray &bytes)
{
    return Fields::fromWire(bytes);
}

} // namespace

QByteArray command(const QByteArray &message)
{
    return message.left(3);
}

Kind kindOf(const QByteArray &message)
{
    static constexpr std::pair<const char *, Kind> Commands[] = {
        {"LGN", Kind::Login},      {"GEM", Kind::EmailLookup},   {"GER", Kind::EmailAnswer},
        {"INT", Kind::Notice},     {"MSG", Kind::Message},       {"BSY", Kind::Busy},
        {"RDM", Kind::Redirect},   {"VCL", Kind::ServerList},    {"LSK", Kind::KeyedUsers},
        {"LS1", Kind::UserList},   {"RSN", Kind::NumberRequest}, {"NSN", Kind::NewNumber},
        {"CLO", Kind::CallOffer},  {"CLA", Kind::CallAnswer},    {"CLX", Kind::CallEnd},
        {"RLY", Kind::RelayAccess},
    };
    const QByteArray name = command(message);
    for (const auto &[text, kind] : Commands) {
        if (name == text)
            return kind;
    }
    return Kind::Unknown;
}

QByteArray field(const QString &value)
{
    QString line = Fields::singleLine(value);
    line.remove(QLatin1Char(';'));
    // A terminator inside a field would cut the message in two at the receiver.
    while (line.contains(QLatin1String(Terminator)))
        line.remove(QLatin1String(Terminator));
    return Fields::toWire(line);
}

QByteArray userNumberField(qint32 number)
{
    return number >= 0 ? QByteArray(" ") + QByteArray::number(number) : QByteArray::number(number);
}

QByteArray login(const Login &l)
{
    QByteArray m = "LGN;";
    m += userNumberField(l.userNumber) + ';';
    m += field(l.name) + ';';
    m += field(l.email.toLower()) + ';';
    m += field(l.location) + ';';
    m += field(l.comment) + ';';
    m += QByteArray::number(l.kind) + ';';
    m += yesNo(l.video) + ';';
    m += yesNo(l.audio) + ';';
    m += field(l.version) + ';';
    m += yesNo(l.listed) + ';';
    m += "NO;";
    m += field(l.build) + ';';
    m += QByteArray::number(l.port) + ';';
    return m + Terminator;
}

QByteArray noticeRequest()
{
    return QByteArrayLiteral("INT") + Terminator;
}

QByteArray listRequest()
{
    return QByteArrayLiteral("LS1") + Terminator;
}

QByteArray numberRequest()
{
    return QByteArrayLiteral("RSN;") + Terminator;
}

QByteArray emailLookup(const QString &address)
{
    return "GEM;" + field(address.trimmed()) + ';' + Terminator;
}

QByteArray notice(const QByteArray &cmd, const QString &noticeText)
{
    return cmd + ';' + field(noticeText) + ';' + Terminator;
}

QByteArray redirect(const ServerEntry &target)
{
    return "RDM;Redirect;" + field(target.Host) + ';' + QByteArray::number(target.Port) + ';'
           + field(target.Description) + ';' + Terminator;
}

QByteArray serverList(const QVector<ServerEntry> &servers)
{
    QByteArray m = "VCL;";
    for (const ServerEntry &s : servers)
        m += field(s.Host) + ';' + QByteArray::number(s.Port) + ';' + field(s.Description) + ';';
    return m + Terminator;
}

QByteArray userList(qint64 online, qint64 listed, const QVector<UserEntry> &entries)
{
    QByteArray m = "LS1;" + QByteArray::number(online) + ';' + QByteArray::number(listed) + ';';
    m.reserve(m.size() + entries.size() * 96);
    for (const UserEntry &e : entries) {
        m += QByteArray::number(e.UserNumber) + ';';
        m += field(e.Name) + ';';
        m += field(e.Location) + ';';
        m += field(e.Address) + ';';
        m += field(e.Comment) + ';';
        m += QByteArray::number(e.Kind) + ';';
        m += yesNo(e.HasVideo) + ';';
        m += yesNo(e.HasAudio) + ';';
        m += QByteArray::number(e.State) + ';';
        m += QByteArray::number(e.Port) + ';';
    }
    return m + Terminator;
}

QByteArray emailAnswer(const EmailAnswer &a)
{
    return "GER;" + field(a.email) + ';' + field(a.name) + ';' + field(a.location) + ';' + field(a.address) + ';'
           + QByteArray::number(a.port) + ';' + Terminator;
}

QByteArray keyedUsers(const QVector<UserEntry> &entries)
{
    QByteArray numbers;
    int count = 0;
    for (const UserEntry &e : entries) {
        if (e.Keyed) {
            numbers += QByteArray::number(e.UserNumber) + ';';
            ++count;
        }
    }
    return "LSK;" + QByteArray::number(count) + ';' + numbers + Terminator;
}

QByteArray newNumber(qint32 number)
{
    return "NSN;" + QByteArray::number(number) + ';' + Terminator;
}

QByteArray palBusy(const ServerEntry &target)
{
    return "BSY;" + field(target.Host) + ';' + QByteArray::number(target.Port) + ';' + Terminator;
}

int portField(const QByteArray &value)
{
    return Fields::validPort(Fields::leadingInt32(value));
}

QString noticeText(const QByteArray &message)
{
    return text(Fields::getField(message, 2));
}

std::optional<ServerEntry> parseRedirect(const QByteArray &message)
{
    ServerEntry target{text(Fields::getField(message, 3)).trimmed(), portField(Fields::getField(message, 4)),
                       text(Fields::getField(message, 5))};
    if (target.Host.isEmpty() || target.Port == 0)
        return std::nullopt;
    return target;
}

QVector<ServerEntry> parseServerList(const QByteArray &message)
{
    QVector<ServerEntry> servers;
    const int count = Fields::countFields(message) - 1;
    Fields::Reader reader(message);
    // The command, however long the server made it: the entries start after its ";".
    reader.next();
    for (int i = 1; i <= count && servers.size() < MaxServers; i += 3) {
        ServerEntry s;
        // Shown in the window and used to connect: no control characters, no outer blanks.
        s.Host = Fields::singleLine(text(reader.next())).trimmed();
        s.Port = portField(reader.next());
        s.Description = Fields::singleLine(text(reader.next()));
        if (s.Port != 0 && !s.Host.isEmpty())
            servers.append(s);
        if (reader.atEnd())
            break;
    }
    return servers;
}

UserList parseUserList(const QByteArray &message)
{
    UserList list;
    Fields::Reader reader(message);
    reader.next(); // the command
    list.online = Fields::leadingNumber(reader.next());
    list.listed = Fields::leadingNumber(reader.next());
    const int count = Fields::countFields(message) - 3;
    for (int i = 1; i <= count && list.entries.size() < MaxEntries; i += 10) {
        UserEntry e;
        e.UserNumber = Fields::leadingInt32(reader.next());
        e.Name = text(reader.next());
        e.Location = text(reader.next());
        e.Address = text(reader.next());
        e.Comment = text(reader.next());
        e.Kind = Fields::leadingInt16(reader.next());
        e.HasVideo = isYes(reader.next());
        e.HasAudio = isYes(reader.next());
        e.State = Fields::leadingInt16(reader.next());
        e.Port = portField(reader.next());
        if (e.Port != 0)
            list.entries.append(e);
        if (reader.atEnd())
            break;
    }
    return list;
}

QSet<qint32> parseKeyedUsers(const QByteArray &message)
{
    QSet<qint32> numbers;
    Fields::Reader reader(message);
    reader.next(); // the command
    reader.next(); // the count: the numbers that follow are what counts
    while (!reader.atEnd() && numbers.size() < MaxEntries) {
        if (const qint32 number = Fields::leadingInt32(reader.next()); number > 0)
            numbers.insert(number);
    }
    return numbers;
}

EmailAnswer parseEmailAnswer(const QByteArray &message)
{
    Fields::Reader reader(message);
    reader.next();
    EmailAnswer a;
    a.email = text(reader.next());
    a.name = text(reader.next());
    a.location = text(reader.next());
    a.address = Fields::singleLine(text(reader.next())).trimmed();
    a.port = portField(reader.next());
    return a;
}

qint32 parseNewNumber(const QByteArray &message)
{
    return Fields::leadingInt32(Fields::getField(message, 2));
}

std::optional<ServerEntry> parsePalBusy(const QByteArray &message)
{
    ServerEntry target{text(Fields::getField(message, 2)).trimmed(), portField(Fields::getField(message, 3)), {}};
    if (target.Host.isEmpty() || target.Port == 0)
        return std::nullopt;
    return target;
}

Login parseLogin(const QByteArray &message)
{
    Fields::Reader reader(message);
    reader.next();
    Login l;
    l.userNumber = Fields::leadingInt32(reader.next());
    l.name = text(reader.next());
    l.email = text(reader.next()).trimmed().toLower();
    l.location = text(reader.next());
    l.comment = text(reader.next());
    l.kind = Fields::leadingInt32(reader.next());
    l.video = isYes(reader.next());
    l.audio = isYes(reader.next());
    l.version = text(reader.next());
    l.listed = isYes(reader.next());
    reader.next();
    l.build = text(reader.next());
    l.port = portField(reader.next());
    return l;
}

QString parseEmailLookup(const QByteArray &message)
{
    return text(Fields::getField(message, 2)).trimmed().toLower();
}

// ---- Finding a path ----

namespace {

bool isHex(const QByteArray &text)
{
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool isCallId(const QByteArray &text)
{
    return text.size() == CallIdLength && isHex(text);
}

// The reader gives fields cut at ";", so no separator can be inside; what is left to
// check is the size and the terminator.
bool isDescription(const QByteArray &text)
{
    return !text.isEmpty() && text.size() <= MaxPathDescription && !text.contains(Terminator);
}

QByteArray descriptionField(const QByteArray &description)
{
    QByteArray clean = description;
    clean.replace(';', QByteArray());
    return clean;
}

// Fields after the command; an empty list when the command is not `cmd`.
QList<QByteArray> fieldsOf(const QByteArray &message, const char *cmd, int wanted)
{
    if (command(message) != cmd)
        return {};
    Fields::Reader reader(message);
    reader.next();
    QList<QByteArray> fields;
    for (int i = 0; i < wanted; ++i)
        fields.append(reader.next());
    return fields;
}

} // namespace

QByteArray callOffer(const CallOffer &o)
{
    return "CLO;" + o.callId + ';' + field(o.target.trimmed()) + ';' + descriptionField(o.description) + ';' + Terminator;
}

QByteArray relayedOffer(const RelayedOffer &o)
{
    return "CLO;" + o.callId + ';' + field(o.fromEmail) + ';' + QByteArray::number(o.fromNumber) + ';'
           + o.fromKey.toHex() + ';' + field(o.fromAddress) + ';' + descriptionField(o.description) + ';'
           + Terminator;
}

QByteArray callAnswer(const CallAnswer &a)
{
    return "CLA;" + a.callId + ';' + descriptionField(a.description) + ';' + Terminator;
}

QByteArray callEnd(const CallEnd &e)
{
    return "CLX;" + e.callId + ';' + field(e.reason) + ';' + Terminator;
}

QByteArray relayAccess(const RelayAccess &r)
{
    return "RLY;" + field(r.host) + ';' + QByteArray::number(r.port) + ';' + field(r.username) + ';'
           + field(r.password) + ';' + QByteArray::number(r.tlsPort) + ';' + QByteArray::number(qMax(0, r.lifetimeSeconds))
           + ';' + Terminator;
}

std::optional<CallOffer> parseCallOffer(const QByteArray &message)
{
    const QList<QByteArray> f = fieldsOf(message, "CLO", 3);
    if (f.isEmpty() || !isCallId(f[0]) || f[1].trimmed().isEmpty() || !isDescription(f[2]))
        return std::nullopt;
    return CallOffer{f[0], text(f[1]).trimmed(), f[2]};
}

std::optional<RelayedOffer> parseRelayedOffer(const QByteArray &message)
{
    const QList<QByteArray> f = fieldsOf(message, "CLO", 6);
    if (f.isEmpty() || !isCallId(f[0]) || f[3].isEmpty() || !isHex(f[3]) || f[3].size() % 2 != 0
        || !isDescription(f[5]))
        return std::nullopt;
    RelayedOffer o;
    o.callId = f[0];
    o.fromEmail = text(f[1]);
    o.fromNumber = f[2].isEmpty() ? NoUserNumber : Fields::leadingInt32(f[2]);
    o.fromKey = QByteArray::fromHex(f[3]);
    o.fromAddress = text(f[4]);
    o.description = f[5];
    return o;
}

std::optional<CallAnswer> parseCallAnswer(const QByteArray &message)
{
    const QList<QByteArray> f = fieldsOf(message, "CLA", 2);
    if (f.isEmpty() || !isCallId(f[0]) || !isDescription(f[1]))
        return std::nullopt;
    return CallAnswer{f[0], f[1]};
}

std::optional<CallEnd> parseCallEnd(const QByteArray &message)
{
    const QList<QByteArray> f = fieldsOf(message, "CLX", 2);
    if (f.isEmpty() || !isCallId(f[0]))
        return std::nullopt;
    return CallEnd{f[0], text(f[1])};
}

std::optional<RelayAccess> parseRelayAccess(const QByteArray &message)
{
    const QList<QByteArray> f = fieldsOf(message, "RLY", 6);
    if (f.isEmpty() || f[0].trimmed().isEmpty() || portField(f[1]) == 0)
        return std::nullopt;
    RelayAccess r;
    r.host = text(f[0]).trimmed();
    r.port = portField(f[1]);
    r.username = text(f[2]);
    r.password = text(f[3]);
    r.tlsPort = portField(f[4]);
    r.lifetimeSeconds = qMax(0, Fields::leadingInt32(f[5]));
    return r;
}

namespace {

// "CLA" and "CLX" read alike, whichever way they go.
template <typename Read>
void readBothWays(Read &m, const QByteArray &message)
{
    if (m.kind == Kind::CallAnswer)
        m.answer = parseCallAnswer(message);
    else if (m.kind == Kind::CallEnd)
        m.end = parseCallEnd(message);
}

} // namespace

FromServer readFromServer(const QByteArray &message)
{
    FromServer m;
    m.kind = kindOf(message);
    switch (m.kind) {
    case Kind::Notice:
    case Kind::Message:
        m.notice = noticeText(message);
        break;
    case Kind::Busy:
        // The directory's says why; the pal server's says where to go instead.
        m.notice = noticeText(message);
        m.target = parsePalBusy(message);
        break;
    case Kind::Redirect:
        m.target = parseRedirect(message);
        break;
    case Kind::ServerList:
        m.servers = parseServerList(message);
        break;
    case Kind::KeyedUsers:
        m.keyed = parseKeyedUsers(message);
        break;
    case Kind::UserList:
        m.users = parseUserList(message);
        break;
    case Kind::EmailAnswer:
        m.email = parseEmailAnswer(message);
        break;
    case Kind::NewNumber:
        m.number = parseNewNumber(message);
        break;
    case Kind::CallOffer:
        m.offer = parseRelayedOffer(message);
        break;
    case Kind::RelayAccess:
        m.relay = parseRelayAccess(message);
        break;
    default:
        readBothWays(m, message);
        break;
    }
    return m;
}

FromClient readFromClient(const QByteArray &message)
{
    FromClient m;
    m.kind = kindOf(message);
    switch (m.kind) {
    case Kind::Login:
        m.login = parseLogin(message);
        break;
    case Kind::EmailLookup:
        m.lookup = parseEmailLookup(message);
        break;
    case Kind::CallOffer:
        m.offer = parseCallOffer(message);
        break;
    default:
        readBothWays(m, message);
        break;
    }
    return m;
}

QByteArray newCallId()
{
    const quint64 value = QRandomGenerator::system()->generate64();
    return QByteArray::number(value, 16).rightJustified(CallIdLength, '0');
}

} // namespace DirectoryProtocol
