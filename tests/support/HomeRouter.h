#pragma once

#include "support/NetworkLab.h"

#include <QProcess>
#include <QString>
#include <QStringList>

// A home network behind a router, for what a user behind one meets: a "home" machine
// (192.0.2.10, a second home address 192.0.2.11 for "another machine at home"), a
// "router" that translates addresses with nftables and runs the real miniupnpd on its
// inside link (192.0.2.1), and an "internet" machine (11.0.0.2) beside the router's
// outside address 11.0.0.1. The router software refuses documentation and private
// ranges as its outside address, so the outside link takes one that exists only on this
// veth pair; nothing routes out of these machines.
class HomeRouter
{
public:
    enum Machine { Home, Router, Internet };

    static inline const QString HomeAddress = QStringLiteral("192.0.2.10");
    static inline const QString OtherHomeAddress = QStringLiteral("192.0.2.11");
    static inline const QString InsideAddress = QStringLiteral("192.0.2.1");
    static inline const QString OutsideAddress = QStringLiteral("11.0.0.1");
    static inline const QString InternetAddress = QStringLiteral("11.0.0.2");

    explicit HomeRouter(const QString &tag);
    ~HomeRouter();

    // The three machines, the address translation and the (empty) forwarding chains the
    // router software fills; false with the reason.
    bool create(QString *why);

    struct Protocols
    {
        bool upnp = true;
        bool natPmp = true;
    };
    // Starts the router software; it dies with this object (or with stopRouter()).
    bool startRouter(Protocols protocols, const QString &folder, QString *why);
    void stopRouter();
    // The router's forwarding rules, as nftables lists them.
    QString forwardingRules() const;

    const NetworkLab &lab() const { return m_lab; }
    QString name(Machine machine) const { return m_lab.name(key(machine)); }
    QStringList command(Machine machine, const QString &program, const QStringList &arguments) const
    {
        return m_lab.command(key(machine), program, arguments);
    }
    bool run(Machine machine, const QStringList &command, QString *output = nullptr) const
    {
        return m_lab.run(key(machine), command, output);
    }

    static QString key(Machine machine);

private:
    NetworkLab m_lab;
    QProcess m_router;
};
