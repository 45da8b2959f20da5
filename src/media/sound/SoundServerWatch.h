#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>

struct pa_context;
struct pa_threaded_mainloop;

// Listens to the sound server for devices that come and go and for changes of its
// default microphone and speaker, which Qt's device list neither announces nor follows.
// The server is talked to on a thread of the sound library's own; changed() arrives on
// the watch's thread.
class SoundServerWatch : public QObject
{
    Q_OBJECT

public:
    explicit SoundServerWatch(QObject *parent = nullptr);
    ~SoundServerWatch() override;

    // Connects to the sound server; false when there is none to connect to.
    bool start();
    // The server's defaults as it last said (empty until it has).
    QByteArray defaultSink() const;
    QByteArray defaultSource() const;

signals:
    void changed();

private:
    static void onState(pa_context *context, void *self);
    static void onEvent(pa_context *context, int type, unsigned index, void *self);
    static void onServerInfo(pa_context *context, const void *info, void *self);
    void askServer();

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    mutable QMutex m_mutex;
    QByteArray m_defaultSink;
    QByteArray m_defaultSource;
};
