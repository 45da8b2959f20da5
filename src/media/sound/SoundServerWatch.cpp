#include "media/sound/SoundServerWatch.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <pulse/pulseaudio.h>

SoundServerWatch::SoundServerWatch(QObject *parent)
    : QObject(parent)
{
}

SoundServerWatch::~SoundServerWatch()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

bool SoundServerWatch::start()
{
    if (m_loop)
        return true;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        return false;
    pa_threaded_mainloop_lock(m_loop);
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "ZELMO device watch");
    bool ok = m_context != nullptr;
    if (ok) {
        pa_context_set_state_callback(m_context, &SoundServerWatch::onState, this);
        // No autospawn: a machine without a sound server stays without one.
        ok = pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    }
    pa_threaded_mainloop_unlock(m_loop);
    if (!ok || pa_threaded_mainloop_start(m_loop) < 0) {
        if (m_context) {
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        return false;
    }
    return true;
}

QByteArray SoundServerWatch::defaultSink() const
{
    QMutexLocker lock(&m_mutex);
    return m_defaultSink;
}

QByteArray SoundServerWatch::defaultSource() const
{
    QMutexLocker lock(&m_mutex);
    return m_defaultSource;
}

// The callbacks below run on the sound library's thread, with its lock held.

void SoundServerWatch::onState(pa_context *context, void *self)
{
    if (pa_context_get_state(context) != PA_CONTEXT_READY)
        return;
    auto *watch = static_cast<SoundServerWatch *>(self);
    pa_context_set_subscribe_callback(
        context,
        [](pa_context *c, pa_subscription_event_type_t type, uint32_t index, void *me) {
            onEvent(c, int(type), index, me);
        },
        watch);
    const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                                             | PA_SUBSCRIPTION_MASK_SERVER);
    if (pa_operation *op = pa_context_subscribe(context, mask, nullptr, nullptr))
        pa_operation_unref(op);
    watch->askServer();
}

void SoundServerWatch::onEvent(pa_context *, int, unsigned, void *self)
{
    // Any device or server change: the defaults may have moved with it.
    static_cast<SoundServerWatch *>(self)->askServer();
}

void SoundServerWatch::askServer()
{
    pa_operation *op = pa_context_get_server_info(
        m_context,
        [](pa_context *c, const pa_server_info *info, void *me) { onServerInfo(c, info, me); },
        this);
    if (op)
        pa_operation_unref(op);
}

void SoundServerWatch::onServerInfo(pa_context *, const void *data, void *self)
{
    const auto *info = static_cast<const pa_server_info *>(data);
    auto *watch = static_cast<SoundServerWatch *>(self);
    if (info) {
        QMutexLocker lock(&watch->m_mutex);
        watch->m_defaultSink = info->default_sink_name ? QByteArray(info->default_sink_name) : QByteArray();
        watch->m_defaultSource = info->default_source_name ? QByteArray(info->default_source_name) : QByteArray();
    }
    QMetaObject::invokeMethod(watch, &SoundServerWatch::changed, Qt::QueuedConnection);
}
