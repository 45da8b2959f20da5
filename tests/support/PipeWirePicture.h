#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <atomic>

struct pw_thread_loop;
struct pw_context;
struct pw_core;
struct pw_registry;
struct pw_stream;
struct pw_proxy;
struct spa_source;

// A desktop's shared screen as PipeWire carries it, for the scenarios of the portal: a
// video stream of a known picture (BGRx, at the picture's size) on the daemon listening at
// `socket`, driven by a timer of its own on a thread of PipeWire's. Every video stream that
// reads from the daemon is linked to it as it appears, as a session manager would link a
// screen's reader to the screen the portal handed over.
class PipeWirePicture
{
public:
    PipeWirePicture(QString socket, QImage picture, int frameMs = 40);
    ~PipeWirePicture();
    PipeWirePicture(const PipeWirePicture &) = delete;
    PipeWirePicture &operator=(const PipeWirePicture &) = delete;

    // Connects and waits (bounded) until the stream has its node; why says what failed.
    bool start(QString *why);
    // The stream's node: what the portal hands out.
    quint32 node() const { return m_node; }
    int framesSent() const { return m_frames; }
    int links() const { return m_links; }
    // The desktop stops sending: the stream and its node go.
    void stop();

private:
    static void onGlobal(void *data, uint32_t id, uint32_t permissions, const char *type, uint32_t version,
                         const struct spa_dict *props);
    static void onParamChanged(void *data, uint32_t id, const struct spa_pod *param);
    static void onProcess(void *data);
    static void onTimer(void *data, uint64_t expirations);
    void linkWhenReady();

    const QString m_socket;
    const QImage m_picture;
    const int m_frameMs;
    pw_thread_loop *m_thread = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_registry *m_registry = nullptr;
    pw_stream *m_stream = nullptr;
    spa_source *m_timer = nullptr;
    struct Hooks;
    Hooks *m_hooks = nullptr;
    std::atomic<quint32> m_node{0xffffffff};
    std::atomic<int> m_frames{0};
    std::atomic<int> m_links{0};
    // On PipeWire's thread only: the newest reader's node and the input port seen for it,
    // and our own output port.
    quint32 m_readerNode = 0xffffffff;
    quint32 m_readerPort = 0xffffffff;
    quint32 m_ownPort = 0xffffffff;
    QList<pw_proxy *> m_linkProxies;
};
