#include "reach/NatPmpGateway.h"

#include <QDeadlineTimer>
#include <QHostAddress>

#include <arpa/inet.h>
// The library's texts for its error codes.
#define ENABLE_STRNATPMPERR
#include <natpmp.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

// Sends one request and waits for its answer, the library resending on its own schedule,
// until the deadline; the library's codes, NATPMP_TRYAGAIN for no answer in time.
int exchange(const std::function<int(natpmp_t *)> &send, natpmpresp_t *response, int answerMs, QString *inside)
{
    natpmp_t session;
    int code = initnatpmp(&session, 0, 0);
    if (code < 0)
        return code;
    code = send(&session);
    if (code < 0) {
        closenatpmp(&session);
        return code;
    }
    if (inside) {
        // The address this machine's requests leave from is the one the router forwards to.
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(session.s, reinterpret_cast<sockaddr *>(&local), &length) == 0)
            *inside = QHostAddress(ntohl(local.sin_addr.s_addr)).toString();
    }
    const QDeadlineTimer deadline(answerMs);
    code = NATPMP_TRYAGAIN;
    while (code == NATPMP_TRYAGAIN && !deadline.hasExpired()) {
        timeval wait{};
        getnatpmprequesttimeout(&session, &wait);
        const qint64 leftMs = deadline.remainingTime();
        const qint64 waitMs = std::min<qint64>(leftMs, qint64(wait.tv_sec) * 1000 + wait.tv_usec / 1000);
        wait.tv_sec = waitMs / 1000;
        wait.tv_usec = (waitMs % 1000) * 1000;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(session.s, &readable);
        ::select(session.s + 1, &readable, nullptr, nullptr, &wait);
        code = readnatpmpresponseorretry(&session, response);
    }
    closenatpmp(&session);
    return code;
}

QString describe(int code)
{
    if (code == NATPMP_TRYAGAIN)
        return QStringLiteral("no answer");
    const char *text = strnatpmperr(code);
    return text ? QString::fromLatin1(text) : QString::number(code);
}

} // namespace

NatPmpGateway::NatPmpGateway(int answerMs)
    : m_answerMs(answerMs)
{
}

bool NatPmpGateway::find(QString *why, bool *noAnswer)
{
    natpmpresp_t response{};
    const int code = exchange([](natpmp_t *s) { return sendpublicaddressrequest(s); }, &response, m_answerMs, &m_inside);
    // A gateway that refuses the request port runs no NAT-PMP at all: as good as silence.
    *noAnswer = code == NATPMP_TRYAGAIN || code == NATPMP_ERR_CANNOTGETGATEWAY || code == NATPMP_ERR_RECVFROM
                || code == NATPMP_ERR_NOGATEWAYSUPPORT;
    if (code < 0) {
        *why = QStringLiteral("no NAT-PMP router answered: %1").arg(describe(code));
        return false;
    }
    if (response.type != NATPMP_RESPTYPE_PUBLICADDRESS) {
        *why = QStringLiteral("the NAT-PMP router gave a wrong answer");
        return false;
    }
    m_outside = QHostAddress(ntohl(response.pnu.publicaddress.addr.s_addr)).toString();
    return true;
}

PortGateway::Grant NatPmpGateway::map(int insidePort, int outsidePort, int leaseSeconds)
{
    Grant grant;
    natpmpresp_t response{};
    const int code = exchange(
        [&](natpmp_t *s) {
            return sendnewportmappingrequest(s, NATPMP_PROTOCOL_TCP, uint16_t(insidePort), uint16_t(outsidePort),
                                             uint32_t(leaseSeconds));
        },
        &response, m_answerMs, nullptr);
    if (code < 0) {
        grant.text = describe(code);
        return grant;
    }
    if (response.type != NATPMP_RESPTYPE_TCPPORTMAPPING || response.pnu.newportmapping.privateport != insidePort) {
        grant.text = QStringLiteral("a wrong answer");
        return grant;
    }
    grant.outsidePort = response.pnu.newportmapping.mappedpublicport;
    grant.leaseSeconds = int(std::min<quint32>(response.pnu.newportmapping.lifetime, 86400u * 365));
    // The router picks another outside port when the one asked for is taken.
    grant.taken = grant.outsidePort != outsidePort;
    grant.ok = grant.outsidePort > 0;
    if (!grant.ok)
        grant.text = QStringLiteral("no outside port");
    return grant;
}

void NatPmpGateway::unmap(int insidePort, int)
{
    natpmpresp_t response{};
    // A lease of zero removes the mapping of that inside port.
    exchange([&](natpmp_t *s) { return sendnewportmappingrequest(s, NATPMP_PROTOCOL_TCP, uint16_t(insidePort), 0, 0); },
             &response, m_answerMs, nullptr);
}
