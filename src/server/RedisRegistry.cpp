#include "server/RedisRegistry.h"

#include "protocol/DirectoryProtocol.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace Proto = DirectoryProtocol;

namespace {

// Keys (all under "zelmo:"):
//   nodes            sorted set: node id -> the time its users stop counting (Redis clock, ms)
//   node:ID          hash: the node's address, load and rates from its last report
//   users:ID         hash: connection key -> serial, then the user's fields
//   listed           sorted set: "ID/KEY" -> serial, the list in login order
//   email:ADDRESS    sorted set: "ID/KEY" -> serial, the logins with that e-mail
//   serial           the last login serial
//   numbers:last     the last user number handed out
//   numbers          hash: user number -> the e-mail last seen with it
//   numbers:unused   sorted set: number -> when it was handed out, until used for a login
//   node-ids         the last node id handed out
//   node-id:ID       the claim on a node id: the holder's token, expiring unless renewed
//   numbers:to       hash: user number -> the fingerprint (hex) of the key it was handed
//                    out to ('' for a plain asker; none for numbers from before it was kept)
//   owners           hash: "e:ADDRESS" or "n:NUMBER" -> the fingerprint (hex) of the key
//                    that owns the e-mail or the user number
//   owned:KEY        set: the names ("e:..", "n:..") the key owns
//   emails-owned     hash: key -> how many e-mails it owns
//   seen             hash: key -> when (the nodes' clock, ms) it last logged in owning
//                    something
//   bound            sorted set: "E-MAIL\x1fNUMBER\x1fKEY" -> when the key bound them, kept
//                    for two expiries so that every node up hears of it at a heartbeat
// Fields of a user are separated by the unit separator, which no text field keeps.
const char Prelude[] = R"LUA(
local t = redis.call('TIME')
local now = tonumber(t[1]) * 1000 + math.floor(tonumber(t[2]) / 1000)
local function emailOf(entry)
  return string.match(entry, '^[^\31]*\31[^\31]*\31[^\31]*\31([^\31]*)') or ''
end
local function keyedOf(entry)
  local _, seps = string.gsub(entry, '\31', '')
  return seps == 12 and string.sub(entry, -2) == '\31' .. '1'
end
local function nodeRows(from)
  local rows = {}
  local ids = redis.call('ZRANGEBYSCORE', 'zelmo:nodes', from, '+inf', 'WITHSCORES')
  for i = 1, #ids, 2 do
    local id = ids[i]
    local f = redis.call('HMGET', 'zelmo:node:' .. id, 'host', 'port', 'description', 'pal', 'users', 'listed',
                         'connections', 'max', 'logins', 'lookups', 'lists', 'reported')
    local row = {id}
    for k = 1, 11 do row[#row + 1] = f[k] or '' end
    row[#row + 1] = tostring(now - (tonumber(f[12]) or now))
    row[#row + 1] = (tonumber(ids[i + 1]) >= now) and '1' or '0'
    rows[#rows + 1] = row
  end
  return rows
end
local function sweep(id)
  local users = 'zelmo:users:' .. id
  local all = redis.call('HGETALL', users)
  for i = 1, #all, 2 do
    local member = id .. '/' .. all[i]
    redis.call('ZREM', 'zelmo:listed', member)
    local email = emailOf(all[i + 1])
    if email ~= '' then redis.call('ZREM', 'zelmo:email:' .. email, member) end
  end
  redis.call('DEL', users, 'zelmo:node:' .. id)
  redis.call('ZREM', 'zelmo:nodes', id)
end
)LUA";

// ARGV: node, key, fields, e-mail, listed (1/0), node's users, node's listed, number,
// token. Answers 0, changing nothing, when the node's id is not its own any more.
const char LoginScript[] = R"LUA(
local node, key, email = ARGV[1], ARGV[2], ARGV[4]
if redis.call('GET', 'zelmo:node-id:' .. node) ~= ARGV[9] then return 0 end
local users = 'zelmo:users:' .. node
local member = node .. '/' .. key
local old = redis.call('HGET', users, key)
local serial
if old then
  serial = string.match(old, '^(%d+)')
  local oldEmail = emailOf(old)
  if oldEmail ~= '' and oldEmail ~= email then redis.call('ZREM', 'zelmo:email:' .. oldEmail, member) end
else
  serial = tostring(redis.call('INCR', 'zelmo:serial'))
end
redis.call('HSET', users, key, serial .. '\31' .. ARGV[3])
if email ~= '' then redis.call('ZADD', 'zelmo:email:' .. email, serial, member) end
if ARGV[5] == '1' then
  redis.call('ZADD', 'zelmo:listed', serial, member)
else
  redis.call('ZREM', 'zelmo:listed', member)
end
redis.call('HSET', 'zelmo:node:' .. node, 'users', ARGV[6], 'listed', ARGV[7])
if redis.call('HEXISTS', 'zelmo:numbers', ARGV[8]) == 1 then
  redis.call('HSET', 'zelmo:numbers', ARGV[8], email)
  redis.call('ZREM', 'zelmo:numbers:unused', ARGV[8])
end
return 1
)LUA";

// ARGV: node, key, node's users, node's listed, token
const char LogoutScript[] = R"LUA(
if redis.call('GET', 'zelmo:node-id:' .. ARGV[1]) ~= ARGV[5] then return 0 end
local users = 'zelmo:users:' .. ARGV[1]
local member = ARGV[1] .. '/' .. ARGV[2]
local old = redis.call('HGET', users, ARGV[2])
if old then
  redis.call('HDEL', users, ARGV[2])
  redis.call('ZREM', 'zelmo:listed', member)
  local email = emailOf(old)
  if email ~= '' then redis.call('ZREM', 'zelmo:email:' .. email, member) end
end
redis.call('HSET', 'zelmo:node:' .. ARGV[1], 'users', ARGV[3], 'listed', ARGV[4])
return 1
)LUA";

// ARGV: the most entries. Answers users on line, users listed, then the entries, each
// as the node's id, the separator and the entry.
const char ListScript[] = R"LUA(
local max = tonumber(ARGV[1])
local up = {}
local online, listed = 0, 0
for _, id in ipairs(redis.call('ZRANGEBYSCORE', 'zelmo:nodes', now, '+inf')) do
  up[id] = true
  local c = redis.call('HMGET', 'zelmo:node:' .. id, 'users', 'listed')
  online = online + (tonumber(c[1]) or 0)
  listed = listed + (tonumber(c[2]) or 0)
end
local out = {online, listed}
local start = 0
local chunk = max + 100
while #out - 2 < max do
  local members = redis.call('ZRANGE', 'zelmo:listed', start, start + chunk - 1)
  if #members == 0 then break end
  for _, m in ipairs(members) do
    local id, key = string.match(m, '^([^/]*)/(.*)$')
    if id and up[id] then
      local e = redis.call('HGET', 'zelmo:users:' .. id, key)
      if e then
        out[#out + 1] = id .. '\31' .. e
        if #out - 2 >= max then break end
      end
    end
  end
  start = start + chunk
end
return out
)LUA";

// ARGV: e-mail. Answers the latest login with it on a node that is up (the node's id,
// the separator, the entry), or nil. An owned e-mail answers only its owner's logins.
const char LookupScript[] = R"LUA(
local owned = redis.call('HEXISTS', 'zelmo:owners', 'e:' .. ARGV[1]) == 1
for _, m in ipairs(redis.call('ZREVRANGE', 'zelmo:email:' .. ARGV[1], 0, 31)) do
  local id, key = string.match(m, '^([^/]*)/(.*)$')
  local until_ = id and redis.call('ZSCORE', 'zelmo:nodes', id)
  if until_ and tonumber(until_) >= now then
    local e = redis.call('HGET', 'zelmo:users:' .. id, key)
    if e and (not owned or keyedOf(e)) then return id .. '\31' .. e end
  end
end
return false
)LUA";

// ARGV: the last number allowed, the reclaim time (ms), the receiver's key (hex, '' for
// none). A new number while there are any, then the one left unused longest, once it has
// been unused for the reclaim time; 0 when there is none.
const char IssueScript[] = R"LUA(
local last = tonumber(redis.call('GET', 'zelmo:numbers:last') or '0')
local n
if last < tonumber(ARGV[1]) then
  n = redis.call('INCR', 'zelmo:numbers:last')
else
  local old = redis.call('ZRANGEBYSCORE', 'zelmo:numbers:unused', '-inf', now - tonumber(ARGV[2]), 'LIMIT', 0, 1)
  if #old == 0 then return 0 end
  n = tonumber(old[1])
end
redis.call('HSET', 'zelmo:numbers', n, '')
redis.call('HSET', 'zelmo:numbers:to', n, ARGV[3])
redis.call('ZADD', 'zelmo:numbers:unused', now, n)
return n
)LUA";

// ARGV: node, expiry ms, host, port, description, pal port, users, listed, connections,
// max users, logins/s, lookups/s, lists/s, token, the time of the node's last heartbeat
// ('' for none). Answers whether the node was new to the registry (-1, changing nothing,
// when its id is not its own any more), the nodes that are up, the time now, and the
// claims bound since the last heartbeat; renews the node's claim on its id; clears away
// the nodes that stopped reporting.
const char HeartbeatScript[] = R"LUA(
local node = ARGV[1]
if redis.call('GET', 'zelmo:node-id:' .. node) ~= ARGV[14] then return {-1, {}} end
redis.call('PEXPIRE', 'zelmo:node-id:' .. node, ARGV[2])
local fresh = redis.call('ZADD', 'zelmo:nodes', now + tonumber(ARGV[2]), node)
redis.call('HSET', 'zelmo:node:' .. node, 'host', ARGV[3], 'port', ARGV[4], 'description', ARGV[5],
           'pal', ARGV[6], 'users', ARGV[7], 'listed', ARGV[8], 'connections', ARGV[9], 'max', ARGV[10],
           'logins', ARGV[11], 'lookups', ARGV[12], 'lists', ARGV[13], 'reported', now)
for _, id in ipairs(redis.call('ZRANGEBYSCORE', 'zelmo:nodes', '-inf', '(' .. now, 'LIMIT', 0, 4)) do
  sweep(id)
end
redis.call('ZREMRANGEBYSCORE', 'zelmo:bound', '-inf', '(' .. (now - 2 * tonumber(ARGV[2])))
local bound = {}
if ARGV[15] ~= '' then bound = redis.call('ZRANGEBYSCORE', 'zelmo:bound', ARGV[15], '+inf') end
return {fresh, nodeRows(now), now, bound}
)LUA";

// ARGV: node, token, whether it lets go of its id (1/0). It leaves with all its users. A
// node whose id is held by another leaves nothing: what is there is the other's.
const char LeaveScript[] = R"LUA(
if redis.call('GET', 'zelmo:node-id:' .. ARGV[1]) ~= ARGV[2] then return 0 end
sweep(ARGV[1])
if ARGV[3] == '1' then redis.call('DEL', 'zelmo:node-id:' .. ARGV[1]) end
return 1
)LUA";

// ARGV: the node's id ('' for none yet), token, expiry ms. Answers the id the node now
// holds: its own, renewed or claimed again after Redis lost it; else the next id nobody
// holds. No two running nodes hold one id, even after Redis lost its data.
const char ClaimScript[] = R"LUA(
local function claim(id)
  return redis.call('SET', 'zelmo:node-id:' .. id, ARGV[2], 'NX', 'PX', ARGV[3])
end
if ARGV[1] ~= '' then
  local holder = redis.call('GET', 'zelmo:node-id:' .. ARGV[1])
  if holder == ARGV[2] then
    redis.call('PEXPIRE', 'zelmo:node-id:' .. ARGV[1], ARGV[3])
    return tonumber(ARGV[1])
  end
  if not holder and claim(ARGV[1]) then return tonumber(ARGV[1]) end
end
for _ = 1, 1000 do
  local id = redis.call('INCR', 'zelmo:node-ids')
  if claim(id) then return id end
end
return 0
)LUA";

// ARGV: e-mail ('' for none), number ('0' for none), key fingerprint in hex ('' for none),
// the most e-mails a key may own (0: no bound), the node's time (ms), the lapse time (ms,
// 0: never). Decides as Registry::judge does; answers whether the login may use the e-mail
// and the number, whether the e-mail is its key's, whether the e-mail was refused for the
// bound, whether the number is its key's, and how many names a lapsed owner gave up, its
// key and how long it had not logged in.
const char OwnerScript[] = R"LUA(
local e, n, k = ARGV[1], ARGV[2], ARGV[3]
local most, at, lapse = tonumber(ARGV[4]), tonumber(ARGV[5]), tonumber(ARGV[6])
local freed, lapsedKey, idle = 0, '', 0
local function owner(name)
  local o = redis.call('HGET', 'zelmo:owners', name)
  if not o or k == '' or o == k or lapse <= 0 then return o end
  local seen = tonumber(redis.call('HGET', 'zelmo:seen', o) or '')
  if not seen then
    -- Owned from before logins were timed: counted from now.
    redis.call('HSET', 'zelmo:seen', o, at)
    return o
  end
  if at - seen < lapse then return o end
  lapsedKey, idle = o, at - seen
  for _, owned in ipairs(redis.call('SMEMBERS', 'zelmo:owned:' .. o)) do
    if redis.call('HGET', 'zelmo:owners', owned) == o then
      redis.call('HDEL', 'zelmo:owners', owned)
      freed = freed + 1
    end
  end
  if redis.call('HDEL', 'zelmo:owners', name) == 1 then freed = freed + 1 end
  redis.call('DEL', 'zelmo:owned:' .. o)
  redis.call('HDEL', 'zelmo:emails-owned', o)
  redis.call('HDEL', 'zelmo:seen', o)
  return false
end
local eo = (e ~= '') and owner('e:' .. e)
local no = (n ~= '0') and owner('n:' .. n)
local hasKey = k ~= ''
local eok = (e == '') or (not eo) or (hasKey and eo == k)
local nok = (n == '0') or (not no) or (hasKey and no == k)
local ownsEmail = e ~= '' and hasKey and eo == k
local over = false
if hasKey and e ~= '' and not eo and nok and most > 0
   and tonumber(redis.call('HGET', 'zelmo:emails-owned', k) or '0') >= most then
  eok = false
  over = true
end
local bindEmail = hasKey and e ~= '' and eok and nok
local bindNumber = false
if bindEmail and n ~= '0' and redis.call('HEXISTS', 'zelmo:numbers', n) == 1 then
  local to = redis.call('HGET', 'zelmo:numbers:to', n)
  bindNumber = (not to) or to == k
end
local bound = false
if bindEmail and not eo then
  redis.call('HSET', 'zelmo:owners', 'e:' .. e, k)
  redis.call('SADD', 'zelmo:owned:' .. k, 'e:' .. e)
  redis.call('HINCRBY', 'zelmo:emails-owned', k, 1)
  bound = true
end
if bindNumber and not no then
  redis.call('HSET', 'zelmo:owners', 'n:' .. n, k)
  redis.call('SADD', 'zelmo:owned:' .. k, 'n:' .. n)
  bound = true
end
local numberKeyed = bindNumber or (n ~= '0' and hasKey and no == k)
if bound then
  redis.call('ZADD', 'zelmo:bound', now, e .. '\31' .. (numberKeyed and n or '0') .. '\31' .. k)
end
if hasKey and redis.call('EXISTS', 'zelmo:owned:' .. k) == 1 then redis.call('HSET', 'zelmo:seen', k, at) end
local keyed = bindEmail or ownsEmail
return {eok and 1 or 0, nok and 1 or 0, keyed and 1 or 0, over and 1 or 0, numberKeyed and 1 or 0, freed,
        lapsedKey, idle}
)LUA";

// ARGV: e-mail. Frees everything owned by the key that owns it; answers how many names.
const char ReleaseScript[] = R"LUA(
local k = redis.call('HGET', 'zelmo:owners', 'e:' .. ARGV[1])
if not k then return 0 end
local all = redis.call('HGETALL', 'zelmo:owners')
local freed = 0
for i = 1, #all, 2 do
  if all[i + 1] == k then
    redis.call('HDEL', 'zelmo:owners', all[i])
    freed = freed + 1
  end
end
redis.call('DEL', 'zelmo:owned:' .. k)
redis.call('HDEL', 'zelmo:emails-owned', k)
redis.call('HDEL', 'zelmo:seen', k)
return freed
)LUA";

// Every node that has reported and not been cleared away, up or not.
const char NodesScript[] = R"LUA(
return nodeRows('-inf')
)LUA";

QByteArray scriptText(int script)
{
    static const char *const bodies[] = {LoginScript,     LogoutScript, ListScript,  LookupScript, IssueScript,
                                         HeartbeatScript, LeaveScript,  NodesScript, ClaimScript, OwnerScript};
    return QByteArray(Prelude) + bodies[script];
}

QByteArray sha1Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex();
}

// A text field as stored: UTF-8 without the separator.
QByteArray stored(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\x1f', ' ');
    return bytes;
}

} // namespace

struct RedisRegistry::ListFetch
{
    struct Question
    {
        QString loopbackHost;
        std::function<void(const ListAnswer &)> answer;
    };
    std::vector<Question> waiting;
};

RedisRegistry::RedisRegistry(RedisAddress address, int expiryMs, UserRegistry &users, QObject *parent)
    : Registry(parent)
    , m_address(std::move(address))
    , m_expiryMs(expiryMs)
    , m_users(users)
    , m_link(new RedisLink(m_address, this))
    , m_token(QByteArray::number(QRandomGenerator::system()->generate64(), 16)
              + QByteArray::number(QRandomGenerator::system()->generate64(), 16))
{
    for (int s = 0; s < ScriptCount; ++s)
        m_sha[s] = sha1Hex(scriptText(s));
    connect(m_link, &RedisLink::connected, this, &RedisRegistry::onConnected);
    connect(m_link, &RedisLink::disconnected, this, &RedisRegistry::onDisconnected);
}

RedisRegistry::~RedisRegistry() = default;

QString RedisRegistry::description() const
{
    return QStringLiteral("Redis registry at %1 (node %2, users expire %3 s after the node's last report)")
        .arg(m_address.text(), nodeId())
        .arg(m_expiryMs / 1000.0);
}

bool RedisRegistry::open(QString *error)
{
    QList<QList<QByteArray>> commands{{"PING"}};
    for (int s = 0; s < ScriptCount; ++s)
        commands.push_back(QList<QByteArray>{"SCRIPT", "LOAD", scriptText(s)});
    commands.push_back(
        QList<QByteArray>{"EVAL", scriptText(Claim), "0", "", m_token, QByteArray::number(m_expiryMs)});
    QVector<RedisLink::Reply> replies;
    QString why;
    if (!RedisLink::runOnce(m_address, commands, &replies, 3000, &why)) {
        if (error)
            *error = QStringLiteral("cannot reach the registry at %1: %2").arg(m_address.text(), why);
        return false;
    }
    for (const RedisLink::Reply &r : replies) {
        if (!r.ok()) {
            if (error)
                *error = QStringLiteral("the registry at %1 refused: %2")
                             .arg(m_address.text(), QString::fromUtf8(r.text));
            return false;
        }
    }
    if (replies.last().integer <= 0) {
        if (error)
            *error = QStringLiteral("the registry at %1 has no node id left to give").arg(m_address.text());
        return false;
    }
    m_nodeId = QByteArray::number(replies.last().integer);
    m_link->open();
    return true;
}

void RedisRegistry::close()
{
    if (m_nodeId.isEmpty())
        return;
    m_link->shutdown();
    m_ready = false;
    m_openFetch.reset();
    // The node's users go at once rather than at the expiry. A short wait of its own:
    // the event loop may be about to end.
    RedisLink::runOnce(m_address, {{"EVAL", scriptText(Leave), "0", m_nodeId, m_token, "1"}}, nullptr, 1000, nullptr);
    m_nodeId.clear();
    m_self.reset();
    m_nodes.clear();
}

void RedisRegistry::onConnected()
{
    // A Redis that restarted has forgotten the scripts; loading them first keeps them
    // ahead of every use on this connection.
    for (int s = 0; s < ScriptCount; ++s)
        m_link->command({"SCRIPT", "LOAD", scriptText(s)});
    m_ready = true;
    m_reloading = false;
    emit logLine(QStringLiteral("registry %1 reached").arg(m_address.text()));
    claimAndPublish();
}

void RedisRegistry::claimAndPublish()
{
    if (!m_ready || m_claiming)
        return;
    m_claiming = true;
    // Published at once under the id the node had: when the claim renews it, as it
    // nearly always does, nothing waits for the round trip. When the id is not the
    // node's any more, what was sent under it changes nothing, and everything is
    // published again under the new one.
    eval(Claim, {m_nodeId, m_token, QByteArray::number(m_expiryMs)}, [this](const RedisLink::Reply &reply) {
        m_claiming = false;
        if (!m_ready)
            return;
        if (reply.kind != RedisLink::Reply::Integer || reply.integer <= 0) {
            emit logLine(QStringLiteral("registry %1 gave this node no id (%2): trying again at the next report")
                             .arg(m_address.text(), QString::fromUtf8(reply.text)));
            return;
        }
        const QByteArray id = QByteArray::number(reply.integer);
        if (id != m_nodeId) {
            emit logLine(QStringLiteral("node id %1 is held by another node: this node is node %2 from now on")
                             .arg(nodeId(), QString::fromLatin1(id)));
            m_nodeId = id;
            if (m_self)
                m_self->id = nodeId();
            publishAll();
        }
    });
    publishAll();
}

void RedisRegistry::onDisconnected(const QString &reason)
{
    m_ready = false;
    m_openFetch.reset();
    emit logLine(QStringLiteral("registry %1 lost (%2): answering from this node's own users until it is back")
                     .arg(m_address.text(), reason));
}

void RedisRegistry::eval(Script script, QList<QByteArray> args, RedisLink::Callback callback)
{
    args.prepend("0");
    args.prepend(m_sha[script]);
    args.prepend("EVALSHA");
    m_link->command(args, [this, callback = std::move(callback)](const RedisLink::Reply &reply) {
        if (reply.kind == RedisLink::Reply::Error && reply.text.startsWith("NOSCRIPT") && !m_reloading) {
            // Someone flushed the scripts: load them again and publish everything anew.
            m_reloading = true;
            onConnected();
        }
        if (callback)
            callback(reply);
    });
}

void RedisRegistry::publishAll()
{
    if (!m_ready)
        return;
    // Whatever Redis still holds of this node goes first; then the node and all its users
    // are published again, in login order.
    eval(Leave, {m_nodeId, m_token, "0"});
    m_expectFresh = true;
    sendHeartbeat();
    m_users.forEach([this](Key key, const User &user) { userChanged(key, user); });
}

void RedisRegistry::userChanged(Key key, const User &user)
{
    m_openFetch.reset();
    if (!m_ready)
        return;
    eval(Login,
         {m_nodeId, QByteArray::number(key), encode(user), stored(user.email), user.listed ? "1" : "0",
          QByteArray::number(m_users.online()), QByteArray::number(m_users.listed()),
          QByteArray::number(user.entry.UserNumber),
          m_token},
         [this, sentAs = m_nodeId](const RedisLink::Reply &reply) { checkHeld(sentAs, reply); });
}

void RedisRegistry::userLeft(Key key, const User &)
{
    m_openFetch.reset();
    if (!m_ready)
        return;
    eval(Logout,
         {m_nodeId, QByteArray::number(key), QByteArray::number(m_users.online()), QByteArray::number(m_users.listed()),
          m_token},
         [this, sentAs = m_nodeId](const RedisLink::Reply &reply) { checkHeld(sentAs, reply); });
}

void RedisRegistry::userList(const QString &loopbackHost, std::function<void(const ListAnswer &)> answer)
{
    if (!m_ready) {
        answer(m_users.listMessage(Proto::MaxEntries, loopbackHost));
        return;
    }
    // A fetch asked after this node's latest change answers this question too.
    if (m_openFetch) {
        m_openFetch->waiting.push_back({loopbackHost, std::move(answer)});
        return;
    }
    auto fetch = std::make_shared<ListFetch>();
    fetch->waiting.push_back({loopbackHost, std::move(answer)});
    m_openFetch = fetch;
    eval(List, {QByteArray::number(Proto::MaxEntries)}, [this, fetch](const RedisLink::Reply &reply) {
        if (m_openFetch == fetch)
            m_openFetch.reset();
        const bool fetched = reply.kind == RedisLink::Reply::Array && reply.items.size() >= 2;
        // The askers come from a few addresses: one message for each.
        QHash<QString, ListAnswer> messages;
        for (const ListFetch::Question &q : fetch->waiting) {
            auto message = messages.constFind(q.loopbackHost);
            if (message == messages.constEnd()) {
                message = messages.insert(q.loopbackHost,
                                          fetched ? listMessage(reply, q.loopbackHost)
                                                  : m_users.listMessage(Proto::MaxEntries, q.loopbackHost));
            }
            q.answer(*message);
        }
    });
}

RedisRegistry::ListAnswer RedisRegistry::listMessage(const RedisLink::Reply &reply, const QString &loopbackHost) const
{
    QVector<Proto::UserEntry> entries;
    entries.reserve(reply.items.size() - 2);
    for (qsizetype i = 2; i < reply.items.size(); ++i) {
        if (const std::optional<User> u = answered(reply.items[i].text, loopbackHost))
            entries.append(UserRegistry::listEntry(*u, u->entry.Address));
    }
    return {Proto::keyedUsers(entries), Proto::userList(reply.items[0].integer, reply.items[1].integer, entries)};
}

void RedisRegistry::findByEmail(const QString &email, const QString &loopbackHost,
                                std::function<void(std::optional<User>)> answer)
{
    const auto local = [this, email, loopbackHost] { return m_users.answerByEmail(email, loopbackHost); };
    if (!m_ready || email.isEmpty()) {
        answer(local());
        return;
    }
    eval(Lookup, {stored(email)},
         [this, answer = std::move(answer), local, loopbackHost](const RedisLink::Reply &reply) {
             if (reply.kind == RedisLink::Reply::Text)
                 answer(answered(reply.text, loopbackHost));
             else if (reply.kind == RedisLink::Reply::Nil)
                 answer(std::nullopt);
             else
                 answer(local());
         });
}

std::optional<UserRegistry::User> RedisRegistry::answered(const QByteArray &item, const QString &loopbackHost) const
{
    const qsizetype cut = item.indexOf('\x1f');
    if (cut < 0)
        return std::nullopt;
    std::optional<User> user = decode(item.mid(cut + 1));
    if (!user || !UserRegistry::isLoopback(user->entry.Address))
        return user;
    const QByteArray node = item.left(cut);
    if (node == m_nodeId) {
        user->entry.Address = UserRegistry::answeredAddress(user->entry.Address, loopbackHost);
        return user;
    }
    // A user on another node's machine: reached where that node is, as it reports itself.
    for (const NodeInfo &n : m_nodes) {
        if (n.id.toLatin1() == node) {
            if (!n.directory.Host.isEmpty() && !UserRegistry::isLoopback(n.directory.Host))
                user->entry.Address = n.directory.Host;
            break;
        }
    }
    return user;
}

void RedisRegistry::issueNumber(const QByteArray &key, std::function<void(qint32, const QString &)> answer)
{
    if (!m_ready) {
        answer(0, QStringLiteral("the registry at %1 is out of reach").arg(m_address.text()));
        return;
    }
    eval(Issue, {QByteArray::number(Proto::LastUserNumber), QByteArray::number(m_reclaimAfterMs), key.toHex()},
         [this, answer = std::move(answer)](const RedisLink::Reply &r) {
             if (r.kind == RedisLink::Reply::Integer && r.integer >= Proto::FirstUserNumber
                 && r.integer <= Proto::LastUserNumber) {
                 answer(qint32(r.integer), {});
             } else if (r.kind == RedisLink::Reply::Integer) {
                 answer(0, QStringLiteral("all %1 user numbers are taken, and none has gone unused for %2 s")
                               .arg(Proto::LastUserNumber)
                               .arg(m_reclaimAfterMs / 1000));
             } else {
                 answer(0, QStringLiteral("the registry at %1 failed: %2")
                               .arg(m_address.text(), r.ok() ? QStringLiteral("no answer") : QString::fromUtf8(r.text)));
             }
         });
}

void RedisRegistry::emailOf(qint32 number, std::function<void(const QString &)> answer)
{
    m_link->command({"HGET", "zelmo:numbers", QByteArray::number(number)},
                    [answer = std::move(answer)](const RedisLink::Reply &r) { answer(QString::fromUtf8(r.text)); });
}

void RedisRegistry::issuedCount(std::function<void(qint64)> answer)
{
    m_link->command({"HLEN", "zelmo:numbers"},
                    [answer = std::move(answer)](const RedisLink::Reply &r) { answer(r.integer); });
}

void RedisRegistry::report(const NodeInfo &self)
{
    m_self = self;
    m_self->id = nodeId();
    m_self->self = true;
    if (m_ready)
        sendHeartbeat();
}

void RedisRegistry::sendHeartbeat()
{
    if (!m_self)
        return;
    const NodeInfo &n = *m_self;
    eval(Heartbeat,
         {m_nodeId, QByteArray::number(m_expiryMs), stored(n.directory.Host), QByteArray::number(n.directory.Port),
          stored(n.directory.Description), QByteArray::number(n.palPort), QByteArray::number(n.users),
          QByteArray::number(n.listed), QByteArray::number(n.connections), QByteArray::number(n.maxUsers),
          QByteArray::number(n.loginsPerSecond, 'f', 1), QByteArray::number(n.lookupsPerSecond, 'f', 1),
          QByteArray::number(n.listsPerSecond, 'f', 1), m_token, m_boundSince},
         [this, sentAs = m_nodeId](const RedisLink::Reply &reply) {
             if (reply.kind != RedisLink::Reply::Array || reply.items.size() < 2 || sentAs != m_nodeId)
                 return;
             if (reply.items[0].integer == -1) {
                 // Redis lost the claim (it was wiped) or another node holds the id now.
                 emit logLine(QStringLiteral("the registry no longer knows node %1 as this node's: claiming an id again")
                                  .arg(nodeId()));
                 claimAndPublish();
                 return;
             }
             const bool fresh = reply.items[0].integer == 1;
             m_nodes = parseNodes(reply.items[1], m_nodeId);
             if (reply.items.size() >= 4) {
                 m_boundSince = QByteArray::number(reply.items[2].integer);
                 for (const RedisLink::Reply &item : reply.items[3].items) {
                     const QList<QByteArray> f = item.text.split('\x1f');
                     if (f.size() == 3)
                         emit claimBound({QString::fromUtf8(f[0]), f[1].toInt(), QByteArray::fromHex(f[2])});
                 }
             }
             if (fresh && !m_expectFresh) {
                 // The others took this node for dead (it missed its expiry) and cleared
                 // its users away: they are published again.
                 emit logLine(QStringLiteral("the registry had given this node up: publishing its %1 users again")
                                  .arg(m_users.connections()));
                 publishAll();
                 return;
             }
             m_expectFresh = false;
         });
}

void RedisRegistry::settleClaim(const Registry::Claim &claim, std::function<void(Standing)> answer)
{
    if (!m_ready) {
        answer(unsettled(claim));
        return;
    }
    eval(Owner,
         {stored(claim.email), QByteArray::number(qMax(0, claim.number)), claim.key.toHex(),
          QByteArray::number(m_maxEmailsPerKey), QByteArray::number(now()), QByteArray::number(m_lapseMs)},
         [this, claim, answer = std::move(answer)](const RedisLink::Reply &r) {
             if (r.kind != RedisLink::Reply::Array || r.items.size() != 8) {
                 answer(unsettled(claim));
                 return;
             }
             if (r.items[5].integer > 0)
                 reportLapse(QByteArray::fromHex(r.items[6].text), r.items[7].integer, int(r.items[5].integer));
             Standing s;
             s.email = r.items[0].integer == 1;
             s.number = r.items[1].integer == 1;
             s.keyed = r.items[2].integer == 1;
             s.overBound = r.items[3].integer == 1;
             s.numberKeyed = r.items[4].integer == 1;
             answer(s);
         });
}

int RedisRegistry::releaseOwner(const RedisAddress &address, const QString &email, QString *error)
{
    QVector<RedisLink::Reply> replies;
    QString why;
    if (!RedisLink::runOnce(address, {{"EVAL", ReleaseScript, "0", stored(email)}}, &replies, 3000, &why)
        || replies.value(0).kind != RedisLink::Reply::Integer) {
        if (error)
            *error = QStringLiteral("cannot change the registry at %1: %2")
                         .arg(address.text(), why.isEmpty() ? QString::fromUtf8(replies.value(0).text) : why);
        return -1;
    }
    return int(replies[0].integer);
}

bool RedisRegistry::readNodes(const RedisAddress &address, QVector<NodeInfo> *nodes, QString *error)
{
    QVector<RedisLink::Reply> replies;
    QString why;
    if (!RedisLink::runOnce(address, {{"EVAL", scriptText(Nodes), "0"}}, &replies, 3000, &why)
        || replies.value(0).kind != RedisLink::Reply::Array) {
        if (error)
            *error = QStringLiteral("cannot read the registry at %1: %2")
                         .arg(address.text(), why.isEmpty() ? QString::fromUtf8(replies.value(0).text) : why);
        return false;
    }
    *nodes = parseNodes(replies[0], {});
    return true;
}

void RedisRegistry::checkHeld(const QByteArray &sentAs, const RedisLink::Reply &reply)
{
    if (sentAs == m_nodeId && reply.kind == RedisLink::Reply::Integer && reply.integer == 0)
        claimAndPublish();
}

QVector<NodeInfo> RedisRegistry::parseNodes(const RedisLink::Reply &rows, const QByteArray &self)
{
    QVector<NodeInfo> nodes;
    for (const RedisLink::Reply &row : rows.items) {
        if (row.items.size() < 14)
            continue;
        const auto text = [&](int i) { return QString::fromUtf8(row.items[i].text); };
        const auto number = [&](int i) { return row.items[i].text.toInt(); };
        NodeInfo n;
        n.id = text(0);
        n.directory = {text(1), number(2), text(3)};
        n.palPort = number(4);
        n.users = number(5);
        n.listed = number(6);
        n.connections = number(7);
        n.maxUsers = number(8);
        n.loginsPerSecond = row.items[9].text.toDouble();
        n.lookupsPerSecond = row.items[10].text.toDouble();
        n.listsPerSecond = row.items[11].text.toDouble();
        n.reportAgeMs = row.items[12].text.toLongLong();
        n.self = row.items[0].text == self;
        n.up = row.items[13].text == "1";
        nodes.append(n);
    }
    return nodes;
}

QByteArray RedisRegistry::encode(const User &u)
{
    const char sep = '\x1f';
    QByteArray e;
    e += QByteArray::number(u.entry.UserNumber) + sep;
    e += stored(u.entry.Name) + sep;
    e += stored(u.email) + sep;
    e += stored(u.entry.Location) + sep;
    e += stored(u.entry.Comment) + sep;
    e += stored(u.entry.Address) + sep;
    e += QByteArray::number(u.entry.Port) + sep;
    e += QByteArray::number(u.entry.Kind) + sep;
    e += (u.entry.HasVideo ? "1" : "0") + QByteArray(1, sep);
    e += (u.entry.HasAudio ? "1" : "0") + QByteArray(1, sep);
    e += (u.listed ? "1" : "0") + QByteArray(1, sep);
    e += u.entry.Keyed ? "1" : "0";
    return e;
}

std::optional<UserRegistry::User> RedisRegistry::decode(const QByteArray &stored)
{
    // The serial, then the fields as encode() wrote them (a node of the version before
    // keys wrote no keyed mark).
    const QList<QByteArray> f = stored.split('\x1f');
    if (f.size() != 12 && f.size() != 13)
        return std::nullopt;
    User u;
    u.entry.UserNumber = f[1].toInt();
    u.entry.Name = QString::fromUtf8(f[2]);
    u.email = QString::fromUtf8(f[3]);
    u.entry.Location = QString::fromUtf8(f[4]);
    u.entry.Comment = QString::fromUtf8(f[5]);
    u.entry.Address = QString::fromUtf8(f[6]);
    u.entry.Port = f[7].toInt();
    u.entry.Kind = qint16(f[8].toInt());
    u.entry.HasVideo = f[9] == "1";
    u.entry.HasAudio = f[10] == "1";
    u.listed = f[11] == "1";
    u.entry.Keyed = f.size() > 12 && f[12] == "1";
    return u;
}
