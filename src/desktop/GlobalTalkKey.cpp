#include "desktop/GlobalTalkKey.h"

#include "desktop/PortalTalkKey.h"
#include "desktop/X11TalkKey.h"

GlobalTalkKey::Context GlobalTalkKey::fromSystem()
{
    Context e;
    e.x11Display = qEnvironmentVariable("DISPLAY");
    e.waylandSession = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                       || qEnvironmentVariable("XDG_SESSION_TYPE").compare(QStringLiteral("wayland"),
                                                                           Qt::CaseInsensitive) == 0;
    e.bus = QDBusConnection::sessionBus();
    return e;
}

GlobalTalkKey::GlobalTalkKey(const Context &context, QObject *parent)
    : QObject(parent)
{
    // On a Wayland session an X11 grab would only hear keys typed into X11 windows, so
    // there the portal is the only way. Elsewhere the grab needs nobody's consent.
    if (!context.waylandSession && !context.x11Display.isEmpty()) {
        auto x11 = std::make_unique<X11TalkKey>(context.x11Display);
        if (x11->state() != TalkKeyBackend::State::Unavailable)
            m_backend = std::move(x11);
    }
    if (!m_backend)
        m_backend = std::make_unique<PortalTalkKey>(context.bus);
    attach();
}

GlobalTalkKey::GlobalTalkKey(std::unique_ptr<TalkKeyBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
    attach();
}

GlobalTalkKey::~GlobalTalkKey()
{
    // The backend goes first, quietly: nobody listens to a key that is going away.
    if (m_backend)
        m_backend->disconnect(this);
}

void GlobalTalkKey::attach()
{
    m_backend->setParent(nullptr);
    // The backend reports each press and release once, and releases a key it no longer has.
    connect(m_backend.get(), &TalkKeyBackend::stateChanged, this, &GlobalTalkKey::statusChanged);
    connect(m_backend.get(), &TalkKeyBackend::pressed, this, &GlobalTalkKey::pressed);
    connect(m_backend.get(), &TalkKeyBackend::released, this, &GlobalTalkKey::released);
}

void GlobalTalkKey::choose(const QString &name)
{
    const HotKey *key = HotKey::find(name);
    const QString chosen = key ? key->name : QString();
    if (chosen == m_chosen)
        return;
    m_chosen = chosen;
    m_backend->release();
    m_backend->bind(key);
    emit statusChanged();
}

GlobalTalkKey::Status GlobalTalkKey::status() const
{
    using State = TalkKeyBackend::State;
    switch (m_backend->state()) {
    case State::Unavailable: return Status::Unavailable;
    case State::Checking: return Status::Checking;
    case State::Idle: return m_chosen.isEmpty() ? Status::Off : Status::Pending;
    case State::Pending: return Status::Pending;
    case State::Bound: return Status::Active;
    case State::Refused: return Status::Refused;
    }
    return Status::Unavailable;
}

QString GlobalTalkKey::statusText() const
{
    const HotKey *key = HotKey::find(m_chosen);
    const QString label = key ? key->shownLabel() : QString();
    switch (status()) {
    case Status::Unavailable:
        return tr("This desktop offers no key that works while another window has the focus.");
    case Status::Checking:
        return tr("Asking the desktop whether it offers global keys...");
    case Status::Off:
        return tr("No talk key: hold the Talk button to talk.");
    case Status::Pending:
        return tr("Waiting for the desktop to give %1...").arg(label);
    case Status::Active:
        return tr("Hold %1 to talk, whichever window has the focus.").arg(m_backend->detail());
    case Status::Refused:
        return m_backend->detail();
    }
    return {};
}
