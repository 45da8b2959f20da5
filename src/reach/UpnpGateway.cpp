#include "reach/UpnpGateway.h"

#include "reach/DescriptionFetch.h"

#include <QHostAddress>
#include <QList>
#include <QUrl>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int ConflictInMappingEntry = 718;
constexpr int OnlyPermanentLeasesSupported = 725;
// The description every mapping carries, so that the router's list says whose it is.
constexpr const char *MappingDescription = "ZELMO";

// Whether the search's multicast address has a route at all. Without one the search could
// not be sent, and the discovery library would say so on standard error.
bool searchHasRoute()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return true;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(1900);
    ::inet_pton(AF_INET, "239.255.255.250", &to.sin_addr);
    const bool routed = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    ::close(fd);
    return routed;
}

QString describe(int code)
{
    const char *text = strupnperror(code);
    return text ? QStringLiteral("%1 (%2)").arg(code).arg(QString::fromLatin1(text)) : QString::number(code);
}

} // namespace

struct UpnpGateway::Router
{
    UPNPUrls urls{};
    IGDdatas data{};
    ~Router() { FreeUPNPUrls(&urls); }
};

UpnpGateway::UpnpGateway(QString descriptionAddress, int searchMs)
    : m_descriptionAddress(std::move(descriptionAddress))
    , m_searchMs(searchMs)
{
}

UpnpGateway::~UpnpGateway() = default;

bool UpnpGateway::find(QString *why, bool *noAnswer)
{
    *noAnswer = false;
    // Where descriptions may be had: the address the user gave, or whatever answered the
    // search, each with the interface it answered on.
    QList<std::pair<QByteArray, unsigned int>> descriptions;
    if (!m_descriptionAddress.isEmpty()) {
        descriptions.append({m_descriptionAddress.toLatin1(), 0});
    } else {
        if (!searchHasRoute()) {
            *noAnswer = true;
            *why = QStringLiteral("no network route for the UPnP router search");
            return false;
        }
        int error = 0;
        UPNPDev *devices = upnpDiscover(m_searchMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
        if (!devices) {
            *noAnswer = true;
            *why = QStringLiteral("no UPnP router answered the search");
            return false;
        }
        for (const UPNPDev *d = devices; d && descriptions.size() < MaxDescriptions; d = d->pNext) {
            if (d->descURL)
                descriptions.append({QByteArray(d->descURL), d->scope_id});
        }
        freeUPNPDevlist(devices);
    }
    *why = QStringLiteral("the UPnP devices that answered are no usable router");
    for (const auto &[address, scope] : descriptions) {
        if (use(address, scope, why))
            return true;
    }
    return false;
}

// Reads one description, bounded in size and time, and takes its router when its control
// address is the one the description came from: anything on the home network can answer
// the search, and must not have requests sent wherever it likes.
bool UpnpGateway::use(const QByteArray &descriptionAddress, unsigned int scope, QString *why)
{
    const QString shown = QString::fromLatin1(descriptionAddress.left(200));
    const DescriptionFetch::Result fetched = DescriptionFetch::get(QString::fromLatin1(descriptionAddress));
    if (!fetched.ok) {
        *why = QStringLiteral("the router at %1 gave no usable description: %2").arg(shown, fetched.why);
        return false;
    }
    auto router = std::make_unique<Router>();
    parserootdesc(fetched.body.constData(), int(fetched.body.size()), &router->data);
    GetUPNPUrls(&router->urls, &router->data, descriptionAddress.constData(), scope);
    if (!router->urls.controlURL || !*router->urls.controlURL || !*router->data.first.servicetype) {
        *why = QStringLiteral("the UPnP router's description names no port forwarding service");
        return false;
    }
    const QUrl control(QString::fromLatin1(router->urls.controlURL));
    const QHostAddress controlHost(control.host());
    if (control.scheme() != QLatin1String("http") || controlHost.isNull()
        || !controlHost.isEqual(QHostAddress(fetched.peerAddress), QHostAddress::TolerantConversion)) {
        *why = QStringLiteral("the UPnP device at %1 names another address for its requests (%2): not used")
                   .arg(fetched.peerAddress, QString::fromLatin1(QByteArray(router->urls.controlURL).left(200)));
        return false;
    }
    // A router the user named is taken as it is; of those that answered a search, one that
    // is connected.
    if (m_descriptionAddress.isEmpty() && !UPNPIGD_IsConnected(&router->urls, &router->data)) {
        *why = QStringLiteral("the UPnP router says it is not connected to the internet");
        return false;
    }
    char outside[64] = {};
    const int code = UPNP_GetExternalIPAddress(router->urls.controlURL, router->data.first.servicetype, outside);
    if (code != UPNPCOMMAND_SUCCESS || !*outside) {
        *why = QStringLiteral("the UPnP router did not tell its outside address: %1").arg(describe(code));
        return false;
    }
    m_outside = QString::fromLatin1(outside, int(strnlen(outside, sizeof outside)));
    m_inside = fetched.localAddress;
    m_router = std::move(router);
    return true;
}

PortGateway::Grant UpnpGateway::map(int insidePort, int outsidePort, int leaseSeconds)
{
    Grant grant;
    if (!m_router) {
        grant.text = QStringLiteral("no router");
        return grant;
    }
    const QByteArray outsideText = QByteArray::number(outsidePort);
    const QByteArray insideText = QByteArray::number(insidePort);
    const QByteArray client = m_inside.toLatin1();
    const auto add = [&](int lease) {
        return UPNP_AddPortMapping(m_router->urls.controlURL, m_router->data.first.servicetype, outsideText.constData(),
                                   insideText.constData(), client.constData(), MappingDescription, "TCP", nullptr,
                                   QByteArray::number(lease).constData());
    };
    int code = add(leaseSeconds);
    // Some routers only keep mappings until they are removed; this program removes them.
    if (code == OnlyPermanentLeasesSupported) {
        leaseSeconds = 0;
        code = add(0);
    }
    grant.ok = code == UPNPCOMMAND_SUCCESS;
    grant.taken = code == ConflictInMappingEntry;
    grant.outsidePort = outsidePort;
    grant.leaseSeconds = leaseSeconds;
    if (!grant.ok)
        grant.text = describe(code);
    return grant;
}

void UpnpGateway::unmap(int, int outsidePort)
{
    if (m_router)
        UPNP_DeletePortMapping(m_router->urls.controlURL, m_router->data.first.servicetype,
                               QByteArray::number(outsidePort).constData(), "TCP", nullptr);
}
