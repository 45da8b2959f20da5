#pragma once

#include "support/NetworkLab.h"
#include "support/TurnRelay.h"

#include <QString>
#include <QStringList>

#include <functional>

// Two homes behind routers that forward nothing, for calls that must find their own way:
// homeA - routerA - internet - routerB - homeB. Both homes use the same private network,
// 192.168.1.0/24, with the same home address 192.168.1.10 behind the router's 192.168.1.1,
// so an address from the other home always names a machine at this one. The outside links
// are point-to-point links from TEST-NET-3 that exist only on these veth pairs: the
// internet machine is 203.0.113.1 on both, routerA 203.0.113.2 and routerB 203.0.113.3.
// One address for the internet machine (rather than a subnet per link) means its UDP
// answers always come from the address that was asked, so the routers' translations
// match them. Nothing routes out of these machines.
//
// Each router translates with nftables, forwards only what a home sent out and the answers
// to it, and answers nothing from outside itself; its kind decides how it translates:
//  - Cone: plain masquerade, which keeps a home's source port, so one inside port shows as
//    the same outside port to every destination. Only the destination a home sent to may
//    answer (Linux's conntrack filters by address and port), so a cone home cannot punch
//    through to a symmetric one, whose packets come from a port nobody learned.
//  - Symmetric: masquerade fully-random, a new outside port for every destination.
//  - UdpBlocked: a cone router that drops every UDP packet leaving the home, as
//    firewalls that let only TCP out do.
// The internet machine forwards between the routers and can run the TURN relay.
class TwoHomes
{
public:
    enum Machine { HomeA, RouterA, Internet, RouterB, HomeB };
    enum class Kind { Cone, Symmetric, UdpBlocked };

    static inline const QString HomeAddress = QStringLiteral("192.168.1.10");
    static inline const QString InsideAddress = QStringLiteral("192.168.1.1");
    static inline const QString InternetAddress = QStringLiteral("203.0.113.1");
    static inline const QString OutsideA = QStringLiteral("203.0.113.2");
    static inline const QString OutsideB = QStringLiteral("203.0.113.3");

    explicit TwoHomes(const QString &tag);
    ~TwoHomes();
    TwoHomes(const TwoHomes &) = delete;
    TwoHomes &operator=(const TwoHomes &) = delete;

    // The five machines and the two routers of these kinds; false with the reason.
    bool create(Kind a, Kind b, QString *why);
    static QString kindName(Kind kind);
    // The router's address on the internet for a home or its router.
    static QString outsideAddress(Machine machine);
    // The router of a home, and the home behind a router.
    static Machine routerOf(Machine home) { return home == HomeA ? RouterA : RouterB; }

    // Starts the TURN relay on the internet machine, logging to and keeping its secret in
    // `folder`; it dies with this object.
    bool startRelay(const QString &folder, QString *why);
    TurnRelay &relay() { return m_relay; }

    const NetworkLab &lab() const { return m_lab; }
    static QString key(Machine machine);
    QString name(Machine machine) const { return m_lab.name(key(machine)); }
    QStringList command(Machine machine, const QString &program, const QStringList &arguments) const
    {
        return m_lab.command(key(machine), program, arguments);
    }
    // What runs a program on a machine: put before the program's own command line.
    QStringList on(Machine machine) const;
    bool run(Machine machine, const QStringList &command, QString *output = nullptr) const
    {
        return m_lab.run(key(machine), command, output);
    }
    bool onMachine(Machine machine, const std::function<void()> &work) const { return m_lab.onMachine(key(machine), work); }
    // The router's rules, as nftables lists them.
    QString rules(Machine router) const;

private:
    bool makeRouter(Machine router, Kind kind, QString *why);

    NetworkLab m_lab;
    TurnRelay m_relay;
};
