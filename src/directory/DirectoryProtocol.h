#pragma once

#include <QByteArray>
#include <QString>
#include <QSet>
#include <QVector>
#include <optional>

// Every text of the directory and pal server channels, in both directions: the program's
// two clients and the companion server build and read them here, so they cannot drift.
// A message is a three-letter command and fields separated by ";", ended by "<ET>". The
// endpoints cut the stream at "<ET>", so the parsers get a message without it.
namespace DirectoryProtocol {

inline constexpr char Terminator[] = "<ET>";

// The client's tables hold this many entries; a longer list fills them and the rest is
// ignored.
constexpr int MaxEntries = 500;
constexpr int MaxServers = 200;
// User numbers of current versions; 0 and anything else belong to older ones.
constexpr qint32 FirstUserNumber = 1;
constexpr qint32 LastUserNumber = 1000000;
// The number of a user who has none: what a login carries before one was handed out, and
// the "NSN" answer when none can be handed out now (the client logs in without one and
// asks again on its next connection).
constexpr qint32 NoUserNumber = -1;
// The address of "nobody on line with that e-mail".
inline constexpr char NobodyAddress[] = "0.0.0.0";

// One login, directory or pal ("LGN"). The wire carries thirteen fields after the command.
struct Login
{
    // The kind of client that logs in: the pal client says "NO" for the three flags.
    static constexpr qint32 DirectoryClient = 0;
    static constexpr qint32 PalClient = 3;

    qint32 userNumber = -1;
    QString name;
    QString email;
    QString location;
    QString comment;
    qint32 kind = DirectoryClient;
    bool video = false;
    bool audio = false;
    QString version = QStringLiteral("2.51");
    bool listed = false;
    QString build = QStringLiteral("v1.2");
    int port = 0; // the user's base port; 0 when the field held no usable port
};

// A listed user, in the order of the fields of the client's directory table.
struct UserEntry
{
    qint32 UserNumber = 0;
    QString Name;
    QString Location;
    QString Comment;
    QString Address;
    int Port = 0;
    qint16 Kind = 0;
    bool HasVideo = false;
    bool HasAudio = false;
    qint16 State = 0;
    // The user's number and e-mail are bound to the key they logged in with; told only
    // over an encrypted connection ("LSK"), never part of "LS1".
    bool Keyed = false;
};

struct UserList
{
    qint64 online = 0;
    qint64 listed = 0;
    QVector<UserEntry> entries;
};

// A directory server of the server list, a redirect target, or a pal server's "go there".
struct ServerEntry
{
    QString Host;
    int Port = 0;
    QString Description;
};

// The answer to an e-mail lookup ("GER"); Port is 0 when the field held no usable port.
struct EmailAnswer
{
    QString email;
    QString name;
    QString location;
    QString address;
    int port = 0;

    // An answer without an address found nobody either: there is nowhere to call.
    bool found() const { return !address.isEmpty() && address != QLatin1String(NobodyAddress); }
};

// The command of a received message: its first three characters.
QByteArray command(const QByteArray &message);

// What a message is, by its command; the parse function of its kind reads its fields. The
// same command may go either way: a request, and the answer that carries what was asked.
enum class Kind {
    Unknown,
    Login,         // "LGN"
    EmailLookup,   // "GEM"
    EmailAnswer,   // "GER"
    Notice,        // "INT": the directory's notice, or the request for it
    Message,       // "MSG": a notice from the directory
    Busy,          // "BSY": the directory's busy notice, or the pal server's "go there"
    Redirect,      // "RDM"
    ServerList,    // "VCL"
    KeyedUsers,    // "LSK"
    UserList,      // "LS1": the list, or the request for it
    NumberRequest, // "RSN"
    NewNumber,     // "NSN"
    CallOffer,     // "CLO", either way
    CallAnswer,    // "CLA"
    CallEnd,       // "CLX"
    RelayAccess,   // "RLY"
};
Kind kindOf(const QByteArray &message);

// A text made fit to be one field: no ";", no line break, no terminator inside.
QByteArray field(const QString &text);
// The user number as the login writes it: one blank before a number that is not
// negative, the minus sign in that place otherwise (" 1234", "-1").
QByteArray userNumberField(qint32 number);

// ---- Client to server ----

// Either login; the e-mail goes in lower case.
QByteArray login(const Login &login);
QByteArray noticeRequest();  // "INT<ET>"
QByteArray listRequest();    // "LS1<ET>"
QByteArray numberRequest();  // "RSN;<ET>"
// "GEM;" + the trimmed address + ";<ET>"; the pal client passes a pal's stored e-mail.
QByteArray emailLookup(const QString &address);

// ---- Server to client ----

// "INT", "MSG" or "BSY" with one notice text.
QByteArray notice(const QByteArray &command, const QString &text);
QByteArray redirect(const ServerEntry &target);
QByteArray serverList(const QVector<ServerEntry> &servers);
// The counts, then ten fields per user: number, name, location, address, comment, kind,
// video, audio, state, port (the order in which the client reads them).
QByteArray userList(qint64 online, qint64 listed, const QVector<UserEntry> &entries);
QByteArray emailAnswer(const EmailAnswer &answer);
// "LSK;" + the count + ";" + the numbers of the entries marked Keyed, each with ";":
// sent just before "LS1", and only over an encrypted connection, which only clients of
// this version open.
QByteArray keyedUsers(const QVector<UserEntry> &entries);
QByteArray newNumber(qint32 number);
// The pal server's busy answer: where to go instead.
QByteArray palBusy(const ServerEntry &target);

// ---- Finding a path for a call between two programs ----
// Both programs keep an encrypted, keyed pal connection; the server passes a caller's offer
// (its ICE description) to the callee and the answer back, so two programs behind routers
// that forward nothing can still reach each other. These texts go only over encrypted
// connections, which only servers and programs of this version open.

// A description (credentials and candidates) is opaque to the server; it is bounded and
// carries no field separator and no terminator.
constexpr int MaxPathDescription = 8192;
// A call's id: this many lower-case hex digits, chosen by the caller.
constexpr int CallIdLength = 16;

// Caller to server ("CLO"): pass this offer to the user with this e-mail or number.
struct CallOffer
{
    QByteArray callId;
    QString target;
    QByteArray description;
};
// Server to callee ("CLO"): an offer, with who sent it as the server knows them: the
// e-mail and number bound to the key the sender logged in with (empty and -1 when none
// is), the key's fingerprint and the address the server saw.
struct RelayedOffer
{
    QByteArray callId;
    QString fromEmail;
    qint32 fromNumber = NoUserNumber;
    QByteArray fromKey;
    QString fromAddress;
    QByteArray description;
};
// "CLA", both ways: the callee's description.
struct CallAnswer
{
    QByteArray callId;
    QByteArray description;
};
// "CLX", both ways: the offer ends; from the server also when it could not be passed on.
struct CallEnd
{
    QByteArray callId;
    QString reason;
};
// Why an offer ends, as "CLX" names it.
inline constexpr char EndOffline[] = "offline";
inline constexpr char EndLimit[] = "limit";
inline constexpr char EndGone[] = "gone";
inline constexpr char EndRefused[] = "refused";
// Server to program ("RLY"), after an encrypted login: the relay this server's programs use,
// and time-limited credentials for it. tlsPort is 0 when the relay offers no TLS;
// lifetimeSeconds, how long the credentials are good from now, 0 when the server does not
// say (a server that does not say is older and leaves the field out).
struct RelayAccess
{
    QString host;
    int port = 0;
    QString username;
    QString password;
    int tlsPort = 0;
    int lifetimeSeconds = 0;
};

QByteArray callOffer(const CallOffer &offer);
QByteArray relayedOffer(const RelayedOffer &offer);
QByteArray callAnswer(const CallAnswer &answer);
QByteArray callEnd(const CallEnd &end);
QByteArray relayAccess(const RelayAccess &access);

// Each gives nothing for a message that is not whole and well formed: a call id that is
// not CallIdLength hex digits, a description that is empty or too long, a key that is not
// hex, a relay without host or usable port.
std::optional<CallOffer> parseCallOffer(const QByteArray &message);
std::optional<RelayedOffer> parseRelayedOffer(const QByteArray &message);
std::optional<CallAnswer> parseCallAnswer(const QByteArray &message);
std::optional<CallEnd> parseCallEnd(const QByteArray &message);
std::optional<RelayAccess> parseRelayAccess(const QByteArray &message);

// A fresh call id.
QByteArray newCallId();

// ---- Reading, on either side ----

// A port field read as a 32-bit number: 1 to 65535, else 0.
int portField(const QByteArray &text);

// Field 2 of "INT", "MSG" and the directory's "BSY".
QString noticeText(const QByteArray &message);
// "RDM": fields 3, 4 and 5; nothing when the port is unusable.
std::optional<ServerEntry> parseRedirect(const QByteArray &message);
// "VCL": groups of three, at most MaxServers; a group with an unusable port is skipped.
QVector<ServerEntry> parseServerList(const QByteArray &message);
// "LS1": at most MaxEntries users; a user with an unusable port is skipped.
UserList parseUserList(const QByteArray &message);
// "LSK": the numbers of the keyed users (at most MaxEntries).
QSet<qint32> parseKeyedUsers(const QByteArray &message);
// "GER", from either server: e-mail, name, location, address, port.
EmailAnswer parseEmailAnswer(const QByteArray &message);
// "NSN": the new user number.
qint32 parseNewNumber(const QByteArray &message);
// The pal server's "BSY": host and port; nothing when either is unusable.
std::optional<ServerEntry> parsePalBusy(const QByteArray &message);
// "LGN", as the server reads it.
Login parseLogin(const QByteArray &message);
// "GEM": the address asked for, trimmed and in lower case.
QString parseEmailLookup(const QByteArray &message);

// ---- A whole message, read once ----
// Each side reads what it receives into the message's kind and the fields of that kind;
// the fields of other kinds stay empty. An optional left empty is a message of its kind
// that was not whole and well formed: the receiver drops it.

// What a directory or pal server sends, as the clients read it.
struct FromServer
{
    Kind kind = Kind::Unknown;
    QString notice;                     // Notice, Message, and the directory's Busy
    std::optional<ServerEntry> target;  // Redirect, and the pal server's Busy
    QVector<ServerEntry> servers;       // ServerList
    QSet<qint32> keyed;                 // KeyedUsers
    UserList users;                     // UserList
    EmailAnswer email;                  // EmailAnswer
    qint32 number = NoUserNumber;       // NewNumber
    std::optional<RelayedOffer> offer;  // CallOffer
    std::optional<CallAnswer> answer;   // CallAnswer
    std::optional<CallEnd> end;         // CallEnd
    std::optional<RelayAccess> relay;   // RelayAccess
};
FromServer readFromServer(const QByteArray &message);

// What a client sends, as the server reads it. Notice, UserList and NumberRequest are
// requests without fields.
struct FromClient
{
    Kind kind = Kind::Unknown;
    Login login;                       // Login
    QString lookup;                    // EmailLookup
    std::optional<CallOffer> offer;    // CallOffer
    std::optional<CallAnswer> answer;  // CallAnswer
    std::optional<CallEnd> end;        // CallEnd
};
FromClient readFromClient(const QByteArray &message);

} // namespace DirectoryProtocol
