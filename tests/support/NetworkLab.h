#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Machines made of network namespaces, joined by veth pairs with addresses that exist
// only on those pairs, and no route out. Making them needs root (as CI runs). Their names
// carry a tag and the process id, so runs side by side never meet; machines that a killed
// run left behind are cleared away. All go when this object goes, after the programs on
// them have ended.
class NetworkLab
{
public:
    explicit NetworkLab(const QString &tag);
    ~NetworkLab();
    NetworkLab(const NetworkLab &) = delete;
    NetworkLab &operator=(const NetworkLab &) = delete;

    // Why machines cannot be made here; empty when they can.
    static QString obstacle();

    // A machine with its loopback up; false with the reason.
    bool addMachine(const QString &machine, QString *why);
    // A cable between two machines: each end named and given its addresses ("192.0.2.10/24",
    // "2001:db8::10/64"); waits until both ends carry traffic.
    bool link(const QString &a, const QString &endA, const QStringList &addressesA, const QString &b,
              const QString &endB, const QStringList &addressesB, QString *why);
    // Runs a command on a machine (bounded), its output in *output; false when it failed.
    bool run(const QString &machine, const QStringList &command, QString *output = nullptr,
             const QByteArray &input = QByteArray()) const;

    QString name(const QString &machine) const;
    // What runs a program on that machine: put before the program's own command line.
    QStringList on(const QString &machine) const;
    // The command line that runs the program on that machine.
    QStringList command(const QString &machine, const QString &program, const QStringList &arguments) const;
    // Runs `work` with this thread on that machine's network: the sockets it opens, to
    // connect or to listen, belong to that machine for good.
    bool onMachine(const QString &machine, const std::function<void()> &work) const;

private:
    void sweepLeftovers() const;

    QString m_tag;
    QString m_prefix;
    QStringList m_machines;
};
