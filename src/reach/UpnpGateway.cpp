#include "reach/UpnpGateway.h"

#include "reach/DefaultGateway.h"
#include "reach/RouterHttp.h"
#include "reach/RouterSearch.h"
#include "reach/UpnpSoap.h"

#include <QHostAddress>
#include <QUrl>

#include <miniupnpc/miniupnpc.h>

namespace {

constexpr int ConflictInMappingEntry = 718;
constexpr int OnlyPermanentLeasesSupported = 725;
// The description every mapping carries, so that the router's list says whose it is.
const QString MappingDescription = QStringLiteral("ZELMO");

} // namespace

UpnpGateway::UpnpGateway(QString descriptionAddress, int searchMs)
    : m_descriptionAddress(std::move(descriptionAddress))
    , m_searchMs(searchMs)
{
}

UpnpGateway::~UpnpGateway() = default;

bool UpnpGateway::find(QString *why, bool *noAnswer)
{
    *noAnswer = false;
    m_notice.clear();
    // A router the user named is asked where the user said.
    if (!m_descriptionAddress.isEmpty())
        return use(m_descriptionAddress.toLatin1(), why);

    const QHostAddress gateway = DefaultGateway::ipv4();
    if (gateway.isNull()) {
        *noAnswer = true;
        *why = QStringLiteral("no default gateway to search for a UPnP router at");
        return false;
    }
    const RouterSearch::Result found = RouterSearch::search(gateway, m_searchMs);
    if (found.ignored > 0)
        m_notice = QStringLiteral("%1 answer(s) to the router search from other machines than the gateway %2 were "
                                  "ignored, the first from %3")
                       .arg(found.ignored)
                       .arg(gateway.toString(), found.firstIgnoredFrom);
    if (found.location.isEmpty()) {
        *noAnswer = true;
        *why = found.why.isEmpty() ? QStringLiteral("no UPnP router answered the search at the gateway %1").arg(gateway.toString())
                                   : found.why;
        return false;
    }
    return use(found.location, why);
}

// Reads one description, bounded in size and time, and takes its router when its control
// address is the one the description came from: whatever poses as the router must not
// have requests sent wherever it likes.
bool UpnpGateway::use(const QByteArray &descriptionAddress, QString *why)
{
    const QString shown = QString::fromLatin1(descriptionAddress.left(200));
    const RouterHttp::Result fetched = RouterHttp::get(QString::fromLatin1(descriptionAddress));
    if (!fetched.ok) {
        *why = QStringLiteral("the router at %1 gave no usable description: %2").arg(shown, fetched.why);
        return false;
    }
    IGDdatas data{};
    parserootdesc(fetched.body.constData(), int(fetched.body.size()), &data);
    UPNPUrls urls{};
    GetUPNPUrls(&urls, &data, descriptionAddress.constData(), 0);
    const QByteArray controlUrl = urls.controlURL ? QByteArray(urls.controlURL) : QByteArray();
    FreeUPNPUrls(&urls);
    const QByteArray serviceType(data.first.servicetype);
    if (controlUrl.isEmpty() || serviceType.isEmpty()) {
        *why = QStringLiteral("the UPnP router's description names no port forwarding service");
        return false;
    }
    const QUrl control(QString::fromLatin1(controlUrl));
    const QHostAddress controlHost(control.host());
    if (control.scheme() != QLatin1String("http") || controlHost.isNull()
        || !controlHost.isEqual(QHostAddress(fetched.peerAddress), QHostAddress::TolerantConversion)) {
        *why = QStringLiteral("the UPnP device at %1 names another address for its requests (%2): not used")
                   .arg(fetched.peerAddress, QString::fromLatin1(controlUrl.left(200)));
        return false;
    }
    if (!UpnpSoap::isPlainName(serviceType)) {
        *why = QStringLiteral("the UPnP router's description names a service that is not a plain name");
        return false;
    }
    const QString controlAddress = QString::fromLatin1(controlUrl);
    // A router the user named is taken as it is; one found by the search must say that it
    // is connected.
    if (m_descriptionAddress.isEmpty()) {
        const UpnpSoap::Answer status = UpnpSoap::call(controlAddress, serviceType, "GetStatusInfo");
        if (!status.ok) {
            *why = QStringLiteral("the UPnP router did not say whether it is connected: %1").arg(status.why);
            return false;
        }
        if (status.values.value(QStringLiteral("NewConnectionStatus")) != QLatin1String("Connected")) {
            *why = QStringLiteral("the UPnP router says it is not connected to the internet");
            return false;
        }
    }
    const UpnpSoap::Answer outside = UpnpSoap::call(controlAddress, serviceType, "GetExternalIPAddress");
    const QString address = outside.values.value(QStringLiteral("NewExternalIPAddress"));
    if (!outside.ok || QHostAddress(address).isNull()) {
        *why = QStringLiteral("the UPnP router did not tell its outside address: %1")
                   .arg(outside.ok ? QStringLiteral("no address in its answer") : outside.why);
        return false;
    }
    m_outside = address;
    m_inside = fetched.localAddress;
    m_controlUrl = controlAddress;
    m_serviceType = serviceType;
    return true;
}

PortGateway::Grant UpnpGateway::map(int insidePort, int outsidePort, int leaseSeconds)
{
    Grant grant;
    if (m_controlUrl.isEmpty()) {
        grant.text = QStringLiteral("no router");
        return grant;
    }
    const auto add = [&](int lease) {
        return UpnpSoap::call(m_controlUrl, m_serviceType, "AddPortMapping",
                              {{"NewRemoteHost", QString()},
                               {"NewExternalPort", QString::number(outsidePort)},
                               {"NewProtocol", QStringLiteral("TCP")},
                               {"NewInternalPort", QString::number(insidePort)},
                               {"NewInternalClient", m_inside},
                               {"NewEnabled", QStringLiteral("1")},
                               {"NewPortMappingDescription", MappingDescription},
                               {"NewLeaseDuration", QString::number(lease)}});
    };
    UpnpSoap::Answer answer = add(leaseSeconds);
    // Some routers only keep mappings until they are removed; this program removes them.
    if (answer.errorCode == OnlyPermanentLeasesSupported) {
        leaseSeconds = 0;
        answer = add(0);
    }
    grant.ok = answer.ok;
    grant.taken = answer.errorCode == ConflictInMappingEntry;
    grant.outsidePort = outsidePort;
    grant.leaseSeconds = leaseSeconds;
    if (!grant.ok)
        grant.text = answer.why;
    return grant;
}

void UpnpGateway::unmap(int, int outsidePort)
{
    if (!m_controlUrl.isEmpty())
        UpnpSoap::call(m_controlUrl, m_serviceType, "DeletePortMapping",
                       {{"NewRemoteHost", QString()},
                        {"NewExternalPort", QString::number(outsidePort)},
                        {"NewProtocol", QStringLiteral("TCP")}});
}
