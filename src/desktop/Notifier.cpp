#include "desktop/Notifier.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

// The "image-data" hint: raw pixels as (iiibiiay).
struct NotificationImage
{
    qint32 width = 0;
    qint32 height = 0;
    qint32 rowStride = 0;
    bool hasAlpha = true;
    qint32 bitsPerSample = 8;
    qint32 channels = 4;
    QByteArray data;
};

QDBusArgument &operator<<(QDBusArgument &argument, const NotificationImage &image)
{
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha << image.bitsPerSample
             << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, NotificationImage &image)
{
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >> image.bitsPerSample
        >> image.channels >> image.data;
    argument.endStructure();
    return argument;
}

NotificationImage imageData(const QImage &picture)
{
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    NotificationImage image;
    image.width = rgba.width();
    image.height = rgba.height();
    image.rowStride = int(rgba.bytesPerLine());
    image.data = QByteArray(reinterpret_cast<const char *>(rgba.constBits()), int(rgba.sizeInBytes()));
    return image;
}

// Urgency levels of the interface.
constexpr int Normal = 1;
constexpr int Critical = 2;

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

Notifier::Notifier(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    qDBusRegisterMetaType<NotificationImage>();
    if (!m_bus.isConnected())
        return;
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));

    // Whether the service takes markup in the body, where a peer's text must then be
    // escaped; a service that does not would show the escapes.
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"))),
        this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError())
            return;
        m_capabilitiesKnown = true;
        m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
    });
}

Notifier::~Notifier()
{
    withdrawAll();
}

void Notifier::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        withdrawAll();
}

void Notifier::setPictures(const QImage &call, const QImage &message, const QImage &bell)
{
    m_callPicture = call;
    m_messagePicture = message;
    m_bellPicture = bell;
}

QString Notifier::firstWords(const QString &text, int maxLength)
{
    QString line;
    line.reserve(qMin<qsizetype>(text.size(), maxLength + 16));
    for (QChar c : text) {
        // Past the limit with a word begun: enough to know that something is cut. (A
        // blank there could be the end of the text.)
        if (line.size() > maxLength && !line.endsWith(QLatin1Char(' ')))
            break;
        const bool blank = c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
        if (blank) {
            if (!line.isEmpty() && !line.endsWith(QLatin1Char(' ')))
                line += QLatin1Char(' ');
        } else {
            line += c;
        }
    }
    line = line.trimmed();
    if (line.size() <= maxLength)
        return line;
    // Cut at the last word's end that fits; a single long word is cut where it must be.
    QString cut = line.left(maxLength);
    if (line.at(maxLength) != QLatin1Char(' ')) {
        const int space = int(cut.lastIndexOf(QLatin1Char(' ')));
        if (space > maxLength / 2)
            cut.truncate(space);
        else if (cut.back().isHighSurrogate())
            cut.chop(1);
    }
    return cut.trimmed() + QStringLiteral("...");
}

bool Notifier::mayShow() const
{
    return m_enabled && m_bus.isConnected() && !(m_inForeground && m_inForeground());
}

QString Notifier::bodyText(const QString &plain) const
{
    return m_bodyMarkup || !m_capabilitiesKnown ? plain.toHtmlEscaped() : plain;
}

QVariantMap Notifier::hints(const QString &category, int urgency, const QImage &picture) const
{
    QVariantMap h;
    h.insert(QStringLiteral("category"), category);
    h.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency)));
    // ZELMO plays its own sounds for all three events.
    h.insert(QStringLiteral("suppress-sound"), true);
    if (!picture.isNull())
        h.insert(QStringLiteral("image-data"), QVariant::fromValue(imageData(picture)));
    return h;
}

void Notifier::callOffered(const QString &name, const QString &location, bool autoAccepted)
{
    if (!mayShow())
        return;
    const QString who = firstWords(name, 60);
    const QString where = firstWords(location, 60);
    Content c;
    c.summary = where.isEmpty() ? tr("%1 is calling").arg(who) : tr("%1, %2 is calling").arg(who, where);
    if (autoAccepted) {
        c.body = bodyText(tr("Auto Accepting this Call"));
        c.hints = hints(QStringLiteral("call.incoming"), Normal, m_callPicture);
    } else {
        c.body = bodyText(tr("Would you like to accept this call?"));
        c.actions = QStringList{QStringLiteral("answer"), tr("Answer"), QStringLiteral("decline"), tr("Decline"),
                                QStringLiteral("default"), tr("Show")};
        c.hints = hints(QStringLiteral("call.incoming"), Critical, m_callPicture);
        // It stays until the prompt closes, which withdraws it.
        c.timeoutMs = 0;
    }
    show(Kind::Call, 0, c);
}

void Notifier::callOver()
{
    withdraw(Kind::Call, 0);
}

void Notifier::messageArrived(quint64 id, const QString &sender, const QString &text)
{
    if (!mayShow())
        return;
    const QString who = firstWords(sender, 60);
    Content c;
    c.summary = who.isEmpty() ? tr("Quick Message") : tr("Quick Message from %1").arg(who);
    c.body = bodyText(firstWords(text));
    c.actions = QStringList{QStringLiteral("default"), tr("Open"), QStringLiteral("open"), tr("Open")};
    c.hints = hints(QStringLiteral("im.received"), Normal, m_messagePicture);
    show(Kind::Message, id, c);
}

void Notifier::messageOpened(quint64 id)
{
    withdraw(Kind::Message, id);
}

void Notifier::bellRang(const QString &peerName)
{
    if (!mayShow())
        return;
    const QString who = firstWords(peerName, 60);
    Content c;
    c.summary = who.isEmpty() ? tr("Text Chat") : tr("Text Chat - ") + who;
    c.body = bodyText(who.isEmpty() ? tr("The chat bell rang.") : tr("%1 rang the chat bell.").arg(who));
    c.actions = QStringList{QStringLiteral("default"), tr("Show Chat"), QStringLiteral("show"), tr("Show Chat")};
    c.hints = hints(QStringLiteral("im"), Normal, m_bellPicture);
    show(Kind::Bell, 0, c);
}

void Notifier::bellOver()
{
    withdraw(Kind::Bell, 0);
}

void Notifier::withdrawAll()
{
    const QList<Entry> entries = m_entries;
    for (const Entry &e : entries)
        withdraw(e.kind, e.key);
}

Notifier::Entry *Notifier::find(Kind kind, quint64 key)
{
    for (Entry &e : m_entries) {
        if (e.kind == kind && e.key == key && !e.withdrawn)
            return &e;
    }
    return nullptr;
}

Notifier::Entry *Notifier::findById(uint id)
{
    for (Entry &e : m_entries) {
        if (e.id == id && id != 0)
            return &e;
    }
    return nullptr;
}

void Notifier::show(Kind kind, quint64 key, Content content)
{
    // A second bell, or a call offered again, replaces what is shown.
    if (Entry *e = find(kind, key)) {
        e->content = std::move(content);
        if (e->id == 0)
            e->changed = true;
        else
            send(*e);
        return;
    }
    m_entries.append(Entry{kind, key, 0, false, false, std::move(content)});
    send(m_entries.last());
}

void Notifier::send(Entry &entry)
{
    QDBusMessage notify = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    notify << QStringLiteral("ZELMO") << entry.id << QString() << entry.content.summary << entry.content.body
           << entry.content.actions << entry.content.hints << qint32(entry.content.timeoutMs);
    const Kind kind = entry.kind;
    const quint64 key = entry.key;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, kind, key] { notified(watcher, kind, key); });
}

void Notifier::notified(QDBusPendingCallWatcher *watcher, Kind kind, quint64 key)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        Entry &e = m_entries[i];
        if (e.kind != kind || e.key != key || (e.id != 0 && reply.isValid() && e.id != reply.value()))
            continue;
        if (reply.isError()) {
            // No service, or it failed: nothing is shown, nothing else changes.
            if (e.id == 0)
                m_entries.removeAt(i);
            return;
        }
        e.id = reply.value();
        if (e.withdrawn) {
            const uint id = e.id;
            m_entries.removeAt(i);
            QDBusMessage close =
                QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CloseNotification"));
            close << id;
            m_bus.asyncCall(close);
        } else if (e.changed) {
            e.changed = false;
            send(e);
        }
        return;
    }
}

void Notifier::withdraw(Kind kind, quint64 key)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        Entry &e = m_entries[i];
        if (e.kind != kind || e.key != key || e.withdrawn)
            continue;
        if (e.id == 0) {
            // Closed as soon as the service says which it is.
            e.withdrawn = true;
            return;
        }
        const uint id = e.id;
        m_entries.removeAt(i);
        QDBusMessage close = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CloseNotification"));
        close << id;
        m_bus.asyncCall(close);
        return;
    }
}

void Notifier::onActionInvoked(uint id, const QString &action)
{
    const Entry *e = findById(id);
    if (!e || e->withdrawn)
        return;
    const Kind kind = e->kind;
    const quint64 key = e->key;
    switch (kind) {
    case Kind::Call:
        if (action == QLatin1String("answer"))
            emit answerRequested();
        else if (action == QLatin1String("decline"))
            emit declineRequested();
        else if (action == QLatin1String("default"))
            emit promptRequested();
        break;
    case Kind::Message:
        if (action == QLatin1String("default") || action == QLatin1String("open"))
            emit messageOpenRequested(key);
        break;
    case Kind::Bell:
        if (action == QLatin1String("default") || action == QLatin1String("show"))
            emit chatRequested();
        break;
    }
}

void Notifier::onClosed(uint id, uint)
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].id == id && id != 0) {
            m_entries.removeAt(i);
            return;
        }
    }
}
