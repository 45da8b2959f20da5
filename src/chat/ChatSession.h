#pragma once

#include "chat/ChatText.h"
#include "core/EndpointError.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class AudioControl;
class CallControl;
class IPDaemon;
class IPPort;
class MediaClock;
class MediaSession;
class SoundPlayer;
struct Settings;

// The text chat of a call, without its window. It owns the chat connection's endpoints
// (the listener on the base port + 3, which takes only the caller of the accepted call,
// and the client the calling side opens once its media is up), the two texts the window
// shows (what the peer wrote and the user's own typing) and the font size.
//
// Real-time mode, when the peer runs 2.5, both sides allow it and the chat connection is
// up, sends every typed character at once; line mode sends a line on Enter through the
// media channel and echoes it with "> ". What the peer sends is taken in either way.
class ChatSession : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // The font size is kept in the settings.
        Settings &settings;
        CallControl &calls;
        MediaSession &media;
        // The bell rings only while the sound devices are idle.
        const AudioControl &audio;
        SoundPlayer &sounds;
        // Spaces out the bells.
        const MediaClock &clock;
    };

    // The conversation box holding more than ConversationLimit characters is cut to its
    // last ConversationKeep before anything goes in.
    static constexpr int ConversationLimit = 12000;
    static constexpr int ConversationKeep = 8000;
    static constexpr int MinFontSize = 8;
    // A bell within this time of the last one is not rung: about the sound's length.
    static constexpr double BellGapSeconds = 0.5;
    // A chat message is a handful of bytes; a longer one is dropped on arrival.
    static constexpr int InputBufferSize = 1024;

    explicit ChatSession(Context context, QObject *parent = nullptr);

    // Start-up: the listener starts on this port (the base port + 3). The error, if it
    // could not; the chat still works in line mode.
    EndpointError start(int port);
    // The end of the program: both connections closed, the listener stopped.
    void shutdown();

    IPDaemon &ipdText() { return *m_ipdText; }
    IPPort &ippText() { return *m_ippText; }
    // A chat connection to the peer is open, either way round.
    bool isConnected() const;
    // Whether a key typed now goes out at once.
    bool isRealTime() const;

    // Keys typed in the typing box, as the characters they make: Enter is 13, Backspace 8,
    // Ctrl+G 7. Other control characters are not typed.
    void type(const QString &characters);
    // Pasted text is typed, each line break an Enter.
    void paste(const QString &text);
    void ringUser();
    void clearText();
    void increaseFontSize();
    void decreaseFontSize();

    // The calling side's chat connection, opened when its media connection is up.
    void connectTo(const QString &host, int port);

    const ChatText &conversation() const { return m_conversation; }
    const ChatText &typing() const { return m_typing; }
    int fontSize() const { return m_fontSize; }
    QString caption() const { return m_caption; }

signals:
    // The two texts changed; see ChatText::Edit.
    void conversationEdited(int cut, int chop, const QString &added);
    void typingEdited(int cut, int chop, const QString &added);
    void fontSizeChanged(int points);
    void captionChanged(const QString &caption);
    // The peer rang the bell (at most once per BellGapSeconds, whether or not it sounded).
    void peerRang();

private:
    void typeCharacter(char32_t c);
    void sendLine();
    void send(const QByteArray &message);
    void receive(const QByteArray &text, bool eol, bool *inLongMessage);
    void apply(char32_t c);
    // Text that is not the peer's typing: a line from the media channel, an echo, a notice.
    void addToConversation(const QString &text);
    void ring();
    void editConversation(const ChatText::Edit &e);
    void editTyping(const ChatText::Edit &e);
    void onChatRequest(const QString &remoteAddress, bool *accept);
    void onCallEnded();
    void closeConnections();

    Context m_;
    IPDaemon *m_ipdText;
    IPPort *m_ippText;
    ChatText m_conversation;
    ChatText m_typing;
    int m_fontSize;
    QString m_caption;
    double m_lastBell = -1e9;
    double m_lastPeerBell = -1e9;
    // A message longer than the input buffer comes in pieces; all of them are dropped.
    bool m_clientInLongMessage = false;
    bool m_listenerInLongMessage = false;
};
