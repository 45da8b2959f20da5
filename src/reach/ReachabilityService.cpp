#include "reach/ReachabilityService.h"

#include "core/PeerChannel.h"
#include "reach/AddressScope.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <mutex>

namespace {

// Giving the ports back at the end waits no longer than this for the router: with the
// destructor's wait, quitting takes a second at most.
constexpr int GiveBackMs = 750;

// The ports a person forwards by hand: the four channels and the encrypted port.
QString forwardedPorts(int base)
{
    return QCoreApplication::translate("ReachabilityService", "TCP %1-%2 and %3")
        .arg(base)
        .arg(PortPlan::port(base, PeerChannel::Chat))
        .arg(PortPlan::encrypted(base));
}

} // namespace

struct ReachabilityService::Inbox
{
    std::mutex lock;
    ReachabilityService *owner = nullptr;
};

ReachabilityService::ReachabilityService(Services services, QObject *parent)
    : QObject(parent)
    , m_(std::move(services))
    , m_inbox(std::make_shared<Inbox>())
    , m_worker(new QThreadPool(this))
    , m_renewal(new QTimer(this))
    , m_check(new ReachabilityCheck(m_.directoryDialer, this))
{
    // One request at a time, in order: map, renew, give back.
    m_worker->setMaxThreadCount(1);
    m_worker->setExpiryTimeout(-1);
    m_renewal->setSingleShot(true);
    connect(m_renewal, &QTimer::timeout, this, &ReachabilityService::askTheRouter);
    connect(m_check, &ReachabilityCheck::finished, this, &ReachabilityService::onChecked);
    m_inbox->owner = this;
}

ReachabilityService::~ReachabilityService()
{
    {
        const std::lock_guard<std::mutex> hold(m_inbox->lock);
        m_inbox->owner = nullptr;
    }
    m_worker->clear();
    if (m_worker->waitForDone(QuitWaitMs))
        return;
    // Something on the network holds a request: the program does not wait for it. The
    // worker finishes on its own, answers nobody, and its thread ends soon after, or
    // with the process.
    m_worker->setParent(nullptr);
    m_worker->setExpiryTimeout(0);
}

const QList<int> &ReachabilityService::portOffsets()
{
    static const QList<int> offsets = [] {
        QList<int> all;
        for (int channel = 0; channel < PortPlan::ChannelCount; ++channel)
            all << channel;
        return all << PortPlan::EncryptedOffset;
    }();
    return offsets;
}

void ReachabilityService::start(int insideBase)
{
    m_insideBase = insideBase;
    m_settings.load(m_.settingsPath);
    if (m_settings.AskRouter) {
        askTheRouter();
    } else {
        m_state = State::Off;
        log(QStringLiteral("Router requests are off"));
        updateLine();
        startCheck();
    }
}

void ReachabilityService::shutdown()
{
    ++m_generation;
    m_renewal->stop();
    m_check->cancel();
    giveBack(true);
}

void ReachabilityService::setAskRouter(bool on)
{
    if (m_settings.AskRouter == on)
        return;
    m_settings.AskRouter = on;
    QString error;
    if (!m_settings.save(m_.settingsPath, &error))
        log(QStringLiteral("Could not keep the router setting: ") + error);
    if (m_insideBase == 0)
        return;
    if (on) {
        askTheRouter();
        return;
    }
    ++m_generation;
    m_renewal->stop();
    giveBack(false);
    m_state = State::Off;
    log(QStringLiteral("Router requests are off"));
    updateLine();
    startCheck();
}

void ReachabilityService::checkAgain()
{
    if (m_state != State::Asking && m_insideBase != 0)
        startCheck();
}

int ReachabilityService::outsideBase() const
{
    return m_state == State::Mapped ? m_outcome.outsideBase : m_insideBase;
}

RouterMapping::Request ReachabilityService::request() const
{
    RouterMapping::Request r;
    r.insideBase = m_insideBase;
    r.preferredOutsideBase = m_state == State::Mapped ? m_outcome.outsideBase : 0;
    r.offsets = portOffsets();
    r.leaseSeconds = LeaseSeconds;
    r.routerAddress = m_settings.RouterAddress;
    return r;
}

void ReachabilityService::askTheRouter()
{
    const int generation = ++m_generation;
    const bool renewing = m_state == State::Mapped;
    if (!renewing) {
        m_state = State::Asking;
        updateLine();
    }
    log(QStringLiteral("Asking the router to forward TCP %1 (%2)")
            .arg(m_insideBase)
            .arg(renewing ? QStringLiteral("renewal") : QStringLiteral("first request")));
    const RouterMapping::Request r = request();
    // The blocking requests run on the worker; the answer comes back on this thread.
    m_worker->start([inbox = m_inbox, r, generation] {
        const RouterMapping::Outcome outcome = RouterMapping::map(r);
        const std::lock_guard<std::mutex> hold(inbox->lock);
        if (ReachabilityService *owner = inbox->owner) {
            QMetaObject::invokeMethod(owner, [owner, generation, outcome] { owner->onMapped(generation, outcome); },
                                      Qt::QueuedConnection);
        }
    });
}

void ReachabilityService::giveBack(bool wait)
{
    if (m_state != State::Mapped)
        return;
    const RouterMapping::Request r = request();
    const RouterMapping::Outcome outcome = m_outcome;
    m_outcome = {};
    m_state = State::Idle;
    log(QStringLiteral("Giving back the forwarded ports %1 to the router").arg(outcome.outsideBase));
    m_worker->start([r, outcome] { RouterMapping::unmap(r, outcome); });
    if (wait && !m_worker->waitForDone(GiveBackMs))
        log(QStringLiteral("The router did not confirm that the ports were given back"));
}

void ReachabilityService::onMapped(int generation, const RouterMapping::Outcome &outcome)
{
    if (generation != m_generation)
        return;
    for (const QString &step : outcome.steps)
        log(step);
    const int before = outsideBase();
    if (outcome.result == RouterMapping::Outcome::Mapped) {
        m_outcome = outcome;
        m_state = State::Mapped;
        // Renewed halfway through the lease; a lease for good needs no renewal.
        if (outcome.leaseSeconds > 0)
            m_renewal->start(std::max(30, outcome.leaseSeconds / 2) * 1000);
    } else {
        m_outcome = outcome;
        m_outcome.gateway.reset();
        m_state = State::NotMapped;
    }
    updateLine();
    if (outsideBase() != before)
        emit outsideBaseChanged(outsideBase());
    startCheck();
}

void ReachabilityService::startCheck()
{
    m_checked = false;
    m_checkReason.clear();
    const auto [host, port] = m_.directoryServer ? m_.directoryServer() : std::pair<QString, int>();
    if (host.trimmed().isEmpty())
        return;
    m_check->start(host.trimmed(), port, outsideBase());
}

void ReachabilityService::onChecked(ReachabilityCheck::Verdict verdict, const QString &address, int port,
                                    const QString &reason)
{
    m_checked = true;
    m_verdict = verdict;
    m_checkAddress = address;
    m_checkReason = reason;
    switch (verdict) {
    case ReachabilityCheck::Verdict::Reachable:
        // The server proves only what its own place allows: one beside this program, or in
        // the same home, connects back to addresses the internet cannot.
        switch (AddressScope::reachOf(address)) {
        case AddressScope::Reach::Internet:
            log(QStringLiteral("The directory server reached %1: reachable from the internet")
                    .arg(AddressScope::withPort(address, port)));
            break;
        case AddressScope::Reach::Network:
            log(QStringLiteral("The directory server reached %1: reachable on this network (the server is on it too, "
                               "so this says nothing of the internet)")
                    .arg(AddressScope::withPort(address, port)));
            break;
        case AddressScope::Reach::Computer:
            log(QStringLiteral("The directory server reached %1: it runs on this computer, so this says nothing of "
                               "other computers")
                    .arg(AddressScope::withPort(address, port)));
            break;
        }
        break;
    case ReachabilityCheck::Verdict::NotReachable:
        log(QStringLiteral("The directory server could not reach %1: %2").arg(AddressScope::withPort(address, port), reason));
        break;
    case ReachabilityCheck::Verdict::Unknown:
        log(QStringLiteral("Reachability not checked: ") + reason);
        break;
    }
    updateLine();
}

QString ReachabilityService::forwardAdvice() const
{
    QString inside = m_outcome.insideAddress;
    if (inside.isEmpty())
        inside = AddressScope::localIPv4();
    return tr("forward %1 to %2, see Help, Troubleshooting")
        .arg(forwardedPorts(m_insideBase), inside.isEmpty() ? tr("this computer") : inside);
}

void ReachabilityService::updateLine()
{
    using Verdict = ReachabilityCheck::Verdict;
    using Result = RouterMapping::Outcome::Result;
    const bool checkedYes = m_checked && m_verdict == Verdict::Reachable;
    const bool checkedNo = m_checked && m_verdict == Verdict::NotReachable;
    // Where the server stands, from the address it saw this program at.
    const AddressScope::Reach seen = AddressScope::reachOf(m_checkAddress);
    const bool reachedFromInternet = checkedYes && seen == AddressScope::Reach::Internet;
    QString where;
    QString why;
    switch (m_state) {
    case State::Idle:
        break;
    case State::Asking:
        why = tr("Asking your router to forward %1...").arg(forwardedPorts(m_insideBase));
        break;
    case State::Mapped:
        where = AddressScope::withPort(m_outcome.outsideAddress, m_outcome.outsideBase);
        break;
    case State::Off:
        why = tr("Router requests are off: ") + forwardAdvice();
        break;
    case State::NotMapped:
        switch (m_outcome.result) {
        case Result::NoRouter:
            why = tr("No router answered the request for port forwarding: ") + forwardAdvice();
            break;
        case Result::Refused:
            why = tr("Your router did not allow port forwarding: ") + forwardAdvice();
            break;
        case Result::Garbage:
            why = tr("Your router's answers made no sense (%1): ").arg(m_outcome.detail) + forwardAdvice();
            break;
        case Result::PrivateOutside:
            why = tr("Your router's outside address %1 is itself private, so another router or your "
                     "provider stands in front of it: ask there to ")
                      .arg(m_outcome.outsideAddress)
                  + forwardAdvice();
            break;
        case Result::NoLease:
            why = tr("Your router gave the ports for no time: ") + forwardAdvice();
            break;
        case Result::Mapped:
            break;
        }
        break;
    }
    // What the directory server saw from outside outweighs what the router said.
    if (reachedFromInternet && where.isEmpty() && m_state != State::Asking)
        where = AddressScope::withPort(m_checkAddress, outsideBase());
    // The check succeeded from a server that stands too close to speak for the internet,
    // and nothing else says where others call.
    const bool nearbyOnly = checkedYes && !reachedFromInternet && where.isEmpty() && m_state != State::Asking;
    const auto after = [](const QString &sentence, const QString &more) {
        return more.isEmpty() ? sentence : sentence + QStringLiteral(". ") + more;
    };
    QString line;
    if (checkedNo) {
        line = (seen == AddressScope::Reach::Internet
                    ? tr("Not reachable from the internet: the directory server could not connect to %1 (%2). ")
                    : tr("Not reachable: the directory server could not connect to %1 (%2). "))
                   .arg(AddressScope::withPort(m_checkAddress, outsideBase()), m_checkReason);
        if (!why.isEmpty())
            line += why;
        else if (m_state == State::Mapped)
            line += tr("Another router may stand in front of yours.");
    } else if (nearbyOnly && seen == AddressScope::Reach::Network) {
        line = after(tr("Others on this network can call you at %1")
                         .arg(AddressScope::withPort(m_checkAddress, outsideBase())),
                     why);
    } else if (nearbyOnly && seen == AddressScope::Reach::Computer) {
        // A loopback address is no way for anyone else to call.
        line = after(tr("Only programs on this computer use this directory server"), why);
    } else if (!where.isEmpty()) {
        line = tr("Others can call you at ") + where;
        const QString v6 = AddressScope::globalIPv6();
        if (!v6.isEmpty())
            line += QStringLiteral(" or ") + AddressScope::withPort(v6, m_insideBase);
        if (reachedFromInternet)
            line += tr(" (reachable from the internet)");
    } else if (m_state == State::Asking) {
        line = why;
    } else if (!why.isEmpty()) {
        // IPv6 needs no forwarding where the router lets calls in.
        const QString v6 = AddressScope::globalIPv6();
        line = v6.isEmpty() ? tr("Not reachable from the internet. ") + why
                            : tr("Others can call you at %1 over IPv6; over IPv4 not reachable. ")
                                      .arg(AddressScope::withPort(v6, m_insideBase))
                                  + why;
    }
    if (line == m_line)
        return;
    m_line = line;
    emit lineChanged(m_line);
}

void ReachabilityService::log(const QString &text) const
{
    if (m_.logLine)
        m_.logLine(text);
}
