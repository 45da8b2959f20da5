#include "share/ScreenShare.h"

#include "media/CaptureControl.h"
#include "share/PipeWireScreenSource.h"
#include "share/PortalScreenCast.h"
#include "share/X11ScreenSource.h"
#include "share/X11Targets.h"

ScreenShare::Context ScreenShare::fromSystem(CaptureControl &capture, std::function<void(const QString &)> logLine,
                                             int frameIntervalMs)
{
    return Context{capture, std::move(logLine), qEnvironmentVariable("DISPLAY"), QDBusConnection::sessionBus(),
                   frameIntervalMs};
}

ScreenShare::ScreenShare(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_portal(new PortalScreenCast(m_.bus, this))
{
    connect(m_portal, &PortalScreenCast::availabilityKnown, this, [this] { emit availabilityChanged(canShare()); });
    connect(m_portal, &PortalScreenCast::started, this,
            [this](const QDBusUnixFileDescriptor &pipeWire, quint32 node, QSize) { portalStarted(pipeWire, node); });
    connect(m_portal, &PortalScreenCast::refused, this, &ScreenShare::portalRefused);
    connect(m_portal, &PortalScreenCast::closed, this, [this] {
        if (m_state == State::Sharing) {
            m_.logLine(tr("Screen sharing ended: the desktop ended the session."));
            m_.capture.stopSharing();
        }
        setState(State::Idle);
    });
    connect(&m_.capture, &CaptureControl::sharingChanged, this, &ScreenShare::sharingChanged);
}

ScreenShare::~ScreenShare() = default;

bool ScreenShare::usesPortal() const
{
    return m_portal->isAvailable();
}

bool ScreenShare::canShare() const
{
    return m_inCall && (m_portal->isAvailable() || !m_.x11Display.isEmpty());
}

void ScreenShare::request()
{
    if (!canShare() || m_state != State::Idle)
        return;
    setState(State::Choosing);
    if (m_portal->isAvailable()) {
        m_portal->begin();
        return;
    }
    const QList<ScreenTarget> targets = X11Targets::list(m_.x11Display);
    if (targets.isEmpty()) {
        setState(State::Idle);
        emit problem(tr("The screen cannot be shared: the display %1 cannot be read.").arg(m_.x11Display));
        return;
    }
    emit pickerWanted(targets);
}

void ScreenShare::choose(const ScreenTarget &target)
{
    if (m_state != State::Choosing || m_portal->isAvailable())
        return;
    if (!m_inCall) {
        setState(State::Idle);
        return;
    }
    m_sharedName = target.name;
    if (!m_.capture.startSharing(std::make_unique<X11ScreenSource>(m_.x11Display, target, m_.frameIntervalMs))) {
        m_sharedName.clear();
        setState(State::Idle);
        emit problem(tr("\"%1\" cannot be shared: it is gone or its pixels cannot be read.").arg(target.name));
        return;
    }
    m_.logLine(tr("Screen sharing started: %1").arg(target.name));
    setState(State::Sharing);
}

void ScreenShare::cancelChoice()
{
    if (m_state != State::Choosing)
        return;
    m_portal->close();
    setState(State::Idle);
}

void ScreenShare::stop()
{
    if (m_state == State::Choosing) {
        cancelChoice();
        return;
    }
    if (m_state != State::Sharing)
        return;
    m_.capture.stopSharing();
}

void ScreenShare::setInCall(bool inCall)
{
    if (m_inCall == inCall)
        return;
    m_inCall = inCall;
    if (!inCall)
        stop();
    emit availabilityChanged(canShare());
}

void ScreenShare::portalStarted(const QDBusUnixFileDescriptor &pipeWire, quint32 node)
{
    if (m_state != State::Choosing || !m_inCall) {
        m_portal->close();
        return;
    }
    QString why;
    const bool moduleOpen = m_streams.open(why);
    if (!moduleOpen)
        m_.logLine(QStringLiteral("The desktop's picture cannot be read: ") + why);
    m_sharedName = tr("Shared screen");
    if (!moduleOpen
        || !m_.capture.startSharing(std::make_unique<PipeWireScreenSource>(m_streams, pipeWire.fileDescriptor(), node,
                                                                           m_.frameIntervalMs))) {
        m_sharedName.clear();
        m_portal->close();
        setState(State::Idle);
        emit problem(tr("The desktop's picture of the screen cannot be read."));
        return;
    }
    m_.logLine(tr("Screen sharing started through the desktop"));
    setState(State::Sharing);
}

void ScreenShare::portalRefused(const QString &why)
{
    if (m_state != State::Choosing)
        return;
    setState(State::Idle);
    emit problem(why);
}

void ScreenShare::sharingChanged(bool sharing, const QString &reason)
{
    if (sharing || m_state != State::Sharing)
        return;
    // The source ended by itself (a window closed, the stream stopped): one line says so.
    if (!reason.isEmpty())
        m_.logLine(tr("Screen sharing ended: %1").arg(reason));
    finishSharing();
}

void ScreenShare::finishSharing()
{
    m_portal->close();
    m_sharedName.clear();
    setState(State::Idle);
}

void ScreenShare::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}
