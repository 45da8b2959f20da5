#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QDBusPendingCallWatcher;

// Tells the user through the desktop's own notification service (the freedesktop
// notification interface on the session bus) what happens while ZELMO is in the
// background: a call offered, a quick message arrived, the chat bell rung. Nothing is
// shown while the program is in the foreground, nothing ever takes the focus, and each
// notification is withdrawn when its event is over. Without a notification service
// nothing happens at all: the windows and sounds say everything as before.
//
// The program is told what the user picks in a notification through the signals; an
// action only ever does what a window's button does.
class Notifier : public QObject
{
    Q_OBJECT

public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString Interface = QStringLiteral("org.freedesktop.Notifications");
    // A message's text is cut to about this many characters, at a word's end.
    static constexpr int FirstWordsLength = 100;

    explicit Notifier(QDBusConnection bus, QObject *parent = nullptr);
    ~Notifier() override;

    // Whether the program is in the foreground now (its main window is the active one);
    // nothing is shown then.
    void setForegroundQuery(std::function<bool()> inForeground) { m_inForeground = std::move(inForeground); }
    // Switched off, nothing new is shown and what is shown is withdrawn.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The pictures that go with each kind of notification.
    void setPictures(const QImage &call, const QImage &message, const QImage &bell);

    // A call offered; autoAccepted when the acceptance already went out.
    void callOffered(const QString &name, const QString &location, bool autoAccepted);
    // The prompt closed: answered, declined or timed out.
    void callOver();
    void messageArrived(quint64 id, const QString &sender, const QString &text);
    void messageOpened(quint64 id);
    // The peer rang the chat bell.
    void bellRang(const QString &peerName);
    // The chat window was shown, or the call ended.
    void bellOver();
    // Everything shown is withdrawn (program exit).
    void withdrawAll();

    // One line of a text for a notification: no control characters, runs of blanks made
    // one, cut to about maxLength characters at a word's end with "..." after.
    static QString firstWords(const QString &text, int maxLength = FirstWordsLength);

signals:
    // The call notification's actions: "Answer" and "Decline" do what the prompt's Yes
    // and No do; a click on the notification itself asks for the prompt.
    void answerRequested();
    void declineRequested();
    void promptRequested();
    // The message notification's action: open this message in a viewer.
    void messageOpenRequested(quint64 id);
    // The bell notification's action: show the chat window.
    void chatRequested();

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onClosed(uint id, uint reason);

private:
    enum class Kind { Call, Message, Bell };
    struct Content
    {
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeoutMs = -1;
    };
    struct Entry
    {
        Kind kind;
        quint64 key = 0;
        // The service's number; 0 while Notify has not answered yet.
        uint id = 0;
        // Withdrawn or changed while Notify had not answered yet.
        bool withdrawn = false;
        bool changed = false;
        Content content;
    };

    bool mayShow() const;
    void show(Kind kind, quint64 key, Content content);
    void send(Entry &entry);
    void notified(QDBusPendingCallWatcher *watcher, Kind kind, quint64 key);
    void withdraw(Kind kind, quint64 key);
    Entry *find(Kind kind, quint64 key);
    Entry *findById(uint id);
    QString bodyText(const QString &plain) const;
    QVariantMap hints(const QString &category, int urgency, const QImage &picture) const;

    QDBusConnection m_bus;
    std::function<bool()> m_inForeground;
    bool m_enabled = true;
    // What the service says it can do; until it has answered, bodies are escaped as markup.
    bool m_capabilitiesKnown = false;
    bool m_bodyMarkup = true;
    QImage m_callPicture;
    QImage m_messagePicture;
    QImage m_bellPicture;
    QList<Entry> m_entries;
};
