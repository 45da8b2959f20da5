#include "reach/UpnpGateway.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>

#include <cstring>

namespace {

constexpr int ConflictInMappingEntry = 718;
constexpr int OnlyPermanentLeasesSupported = 725;
// The description every mapping carries, so that the router's list says whose it is.
constexpr const char *MappingDescription = "ZELMO";

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
    auto router = std::make_unique<Router>();
    char lanAddress[64] = {};
    *noAnswer = false;
    if (!m_descriptionAddress.isEmpty()) {
        if (!UPNP_GetIGDFromUrl(m_descriptionAddress.toLatin1().constData(), &router->urls, &router->data, lanAddress,
                                sizeof lanAddress)) {
            *why = QStringLiteral("the router at %1 gave no usable description").arg(m_descriptionAddress);
            return false;
        }
    } else {
        int error = 0;
        UPNPDev *devices = upnpDiscover(m_searchMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
        if (!devices) {
            *noAnswer = true;
            *why = QStringLiteral("no UPnP router answered the search");
            return false;
        }
        const int found = UPNP_GetValidIGD(devices, &router->urls, &router->data, lanAddress, sizeof lanAddress);
        freeUPNPDevlist(devices);
        if (found != 1) {
            *why = found == 0 ? QStringLiteral("the UPnP devices that answered are no usable router")
                   : found == 2 ? QStringLiteral("the UPnP router says it is not connected to the internet")
                                : QStringLiteral("the UPnP device that answered is not a router");
            return false;
        }
    }
    if (!router->urls.controlURL || !*router->urls.controlURL || !*router->data.first.servicetype) {
        *why = QStringLiteral("the UPnP router's description names no port forwarding service");
        return false;
    }
    char outside[64] = {};
    const int code = UPNP_GetExternalIPAddress(router->urls.controlURL, router->data.first.servicetype, outside);
    if (code != UPNPCOMMAND_SUCCESS || !*outside) {
        *why = QStringLiteral("the UPnP router did not tell its outside address: %1").arg(describe(code));
        return false;
    }
    m_outside = QString::fromLatin1(outside, int(strnlen(outside, sizeof outside)));
    m_inside = QString::fromLatin1(lanAddress, int(strnlen(lanAddress, sizeof lanAddress)));
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
