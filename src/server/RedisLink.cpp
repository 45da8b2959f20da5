#include "server/RedisLink.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <hiredis/async.h>
#include <hiredis/hiredis.h>

#include <vector>

struct RedisLink::Pending
{
    RedisLink *link;
    Callback callback;
};

namespace {

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

RedisLink::Reply convert(const redisReply *r)
{
    RedisLink::Reply reply;
    if (!r)
        return reply;
    switch (r->type) {
    case REDIS_REPLY_NIL:
        reply.kind = RedisLink::Reply::Nil;
        break;
    case REDIS_REPLY_INTEGER:
        reply.kind = RedisLink::Reply::Integer;
        reply.integer = r->integer;
        break;
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
    case REDIS_REPLY_ERROR:
        reply.kind = r->type == REDIS_REPLY_STRING   ? RedisLink::Reply::Text
                     : r->type == REDIS_REPLY_STATUS ? RedisLink::Reply::Status
                                                     : RedisLink::Reply::Error;
        reply.text = QByteArray(r->str, qsizetype(r->len));
        break;
    case REDIS_REPLY_ARRAY:
        reply.kind = RedisLink::Reply::Array;
        reply.items.reserve(qsizetype(r->elements));
        for (size_t i = 0; i < r->elements; ++i)
            reply.items.append(convert(r->element[i]));
        break;
    default:
        break;
    }
    return reply;
}

} // namespace

std::optional<RedisAddress> RedisAddress::parse(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("redis") || url.host().isEmpty())
        return std::nullopt;
    RedisAddress address;
    address.host = url.host();
    address.port = url.port(6379);
    if (address.port < 1 || address.port > 65535)
        return std::nullopt;
    const QString path = url.path().mid(1);
    if (!path.isEmpty()) {
        bool ok = false;
        address.database = path.toInt(&ok);
        if (!ok || address.database < 0)
            return std::nullopt;
    }
    return address;
}

QString RedisAddress::text() const
{
    return QStringLiteral("redis://%1:%2%3")
        .arg(host)
        .arg(port)
        .arg(database != 0 ? QStringLiteral("/%1").arg(database) : QString());
}

RedisLink::RedisLink(RedisAddress address, QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_retry(new QTimer(this))
    , m_watchdog(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &RedisLink::open);
    m_watchdog->setInterval(1000);
    connect(m_watchdog, &QTimer::timeout, this, &RedisLink::checkAnswers);
}

RedisLink::~RedisLink()
{
    shutdown();
}

void RedisLink::open()
{
    m_wanted = true;
    if (m_context)
        return;
    redisAsyncContext *context = redisAsyncConnect(m_address.host.toUtf8().constData(), m_address.port);
    if (!context) {
        lost(QStringLiteral("out of memory"));
        return;
    }
    if (context->err) {
        const QString why = QString::fromLocal8Bit(context->errstr);
        redisAsyncFree(context);
        lost(why);
        return;
    }
    m_context = context;
    context->data = this;
    context->ev.data = this;
    context->ev.addRead = &RedisLink::addRead;
    context->ev.delRead = &RedisLink::delRead;
    context->ev.addWrite = &RedisLink::addWrite;
    context->ev.delWrite = &RedisLink::delWrite;
    context->ev.cleanup = &RedisLink::cleanup;
    redisAsyncSetConnectCallback(context, &RedisLink::onConnect);
    redisAsyncSetDisconnectCallback(context, &RedisLink::onDisconnect);
    // The connection is complete when the socket first becomes writable.
    addWrite(this);
}

void RedisLink::shutdown()
{
    m_wanted = false;
    m_retry->stop();
    const bool wasQuiet = m_quiet;
    m_quiet = true;
    dropContext(QString());
    m_quiet = wasQuiet;
}

void RedisLink::command(const QList<QByteArray> &args, Callback callback)
{
    if (!m_connected || !m_context) {
        if (callback)
            callback(Reply{});
        return;
    }
    std::vector<const char *> argv;
    std::vector<size_t> lengths;
    argv.reserve(size_t(args.size()));
    lengths.reserve(size_t(args.size()));
    for (const QByteArray &a : args) {
        argv.push_back(a.constData());
        lengths.push_back(size_t(a.size()));
    }
    auto *pending = new Pending{this, std::move(callback)};
    if (redisAsyncCommandArgv(m_context, &RedisLink::onReply, pending, int(argv.size()), argv.data(), lengths.data())
        != REDIS_OK) {
        Callback failed = std::move(pending->callback);
        delete pending;
        if (failed)
            failed(Reply{});
        return;
    }
    m_issued.push_back(nowMs());
}

void RedisLink::onReply(redisAsyncContext *, void *reply, void *data)
{
    auto *pending = static_cast<Pending *>(data);
    RedisLink *self = pending->link;
    if (!self->m_issued.empty())
        self->m_issued.pop_front();
    if (pending->callback && !self->m_quiet)
        pending->callback(convert(static_cast<const redisReply *>(reply)));
    delete pending;
}

void RedisLink::onConnect(const redisAsyncContext *context, int status)
{
    auto *self = static_cast<RedisLink *>(context->data);
    if (status != REDIS_OK) {
        // hiredis frees the context once this returns.
        const QString why = QString::fromLocal8Bit(context->errstr);
        self->m_context = nullptr;
        self->lost(why);
        return;
    }
    self->m_connected = true;
    self->m_downReported = false;
    self->m_watchdog->start();
    if (self->m_address.database != 0)
        self->command({"SELECT", QByteArray::number(self->m_address.database)});
    emit self->connected();
}

void RedisLink::onDisconnect(const redisAsyncContext *context, int status)
{
    auto *self = static_cast<RedisLink *>(context->data);
    // hiredis frees the context once this returns. When the link dropped it itself,
    // it has already let go of it.
    if (self->m_context != context)
        return;
    self->m_context = nullptr;
    self->lost(status == REDIS_OK ? QStringLiteral("connection closed")
                                  : QString::fromLocal8Bit(context->errstr));
}

void RedisLink::addRead(void *data)
{
    auto *self = static_cast<RedisLink *>(data);
    if (!self->m_context)
        return;
    if (!self->m_read) {
        self->m_read = new QSocketNotifier(self->m_context->c.fd, QSocketNotifier::Read, self);
        connect(self->m_read, &QSocketNotifier::activated, self, [self] {
            if (self->m_context)
                redisAsyncHandleRead(self->m_context);
        });
    }
    self->m_read->setEnabled(true);
}

void RedisLink::delRead(void *data)
{
    auto *self = static_cast<RedisLink *>(data);
    if (self->m_read)
        self->m_read->setEnabled(false);
}

void RedisLink::addWrite(void *data)
{
    auto *self = static_cast<RedisLink *>(data);
    if (!self->m_context)
        return;
    if (!self->m_write) {
        self->m_write = new QSocketNotifier(self->m_context->c.fd, QSocketNotifier::Write, self);
        connect(self->m_write, &QSocketNotifier::activated, self, [self] {
            if (self->m_context)
                redisAsyncHandleWrite(self->m_context);
        });
    }
    self->m_write->setEnabled(true);
}

void RedisLink::delWrite(void *data)
{
    auto *self = static_cast<RedisLink *>(data);
    if (self->m_write)
        self->m_write->setEnabled(false);
}

void RedisLink::cleanup(void *data)
{
    auto *self = static_cast<RedisLink *>(data);
    // This may run inside a notifier's own signal: they go later.
    for (QSocketNotifier **n : {&self->m_read, &self->m_write}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
}

void RedisLink::dropContext(const QString &reason)
{
    redisAsyncContext *context = m_context;
    m_context = nullptr;
    const bool wasConnected = m_connected;
    m_connected = false;
    if (context) {
        // Every waiting command is answered as failed from inside this call.
        redisAsyncFree(context);
    }
    m_issued.clear();
    m_watchdog->stop();
    if (!reason.isEmpty() && (context || wasConnected))
        lost(reason);
}

void RedisLink::lost(const QString &reason)
{
    m_connected = false;
    m_issued.clear();
    m_watchdog->stop();
    cleanup(this);
    // Told once per outage, not at every attempt.
    if (!m_downReported) {
        m_downReported = true;
        emit disconnected(reason);
    }
    if (m_wanted)
        m_retry->start(RetryMs);
}

void RedisLink::checkAnswers()
{
    if (!m_issued.empty() && nowMs() - m_issued.front() > AnswerTimeoutMs)
        dropContext(QStringLiteral("Redis left a command unanswered for %1 s").arg(AnswerTimeoutMs / 1000));
}

bool RedisLink::runOnce(const RedisAddress &address, const QList<QList<QByteArray>> &commands,
                        QVector<Reply> *replies, int timeoutMs, QString *error)
{
    const timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    redisContext *c = redisConnectWithTimeout(address.host.toUtf8().constData(), address.port, tv);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        if (c)
            redisFree(c);
        return false;
    };
    if (!c)
        return fail(QStringLiteral("out of memory"));
    if (c->err)
        return fail(QString::fromLocal8Bit(c->errstr));
    redisSetTimeout(c, tv);
    QList<QList<QByteArray>> all = commands;
    if (address.database != 0)
        all.prepend({"SELECT", QByteArray::number(address.database)});
    for (qsizetype k = 0; k < all.size(); ++k) {
        std::vector<const char *> argv;
        std::vector<size_t> lengths;
        for (const QByteArray &a : all[k]) {
            argv.push_back(a.constData());
            lengths.push_back(size_t(a.size()));
        }
        auto *r = static_cast<redisReply *>(redisCommandArgv(c, int(argv.size()), argv.data(), lengths.data()));
        if (!r)
            return fail(QString::fromLocal8Bit(c->errstr));
        const Reply reply = convert(r);
        freeReplyObject(r);
        if (address.database != 0 && k == 0) {
            if (!reply.ok())
                return fail(QString::fromUtf8(reply.text));
            continue;
        }
        if (replies)
            replies->append(reply);
    }
    redisFree(c);
    return true;
}
