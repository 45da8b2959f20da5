#pragma once

#include "support/NetworkLab.h"

#include <QString>
#include <QStringList>

#include <functional>

// Two machines for what loopback would hide: two network namespaces joined by a veth pair,
// 192.0.2.10 on the first and 192.0.2.20 on the second, loopback up in each and no route
// out (see NetworkLab). Both go when this object goes.
class TwoMachines
{
public:
    enum Machine { A, B };

    explicit TwoMachines(const QString &tag);
    TwoMachines(const TwoMachines &) = delete;
    TwoMachines &operator=(const TwoMachines &) = delete;

    // Makes the pair; false with the reason when this process cannot.
    bool create(QString *why);
    bool isUp() const { return m_up; }

    static QString address(Machine machine);
    QString name(Machine machine) const { return m_lab.name(key(machine)); }
    // What runs a program on that machine: put before the program's own command line.
    QStringList on(Machine machine) const { return m_lab.on(key(machine)); }
    // The command line that runs the program on that machine.
    QStringList command(Machine machine, const QString &program, const QStringList &arguments) const
    {
        return m_lab.command(key(machine), program, arguments);
    }
    // Runs `work` with this thread on that machine's network.
    bool onMachine(Machine machine, const std::function<void()> &work) const
    {
        return m_lab.onMachine(key(machine), work);
    }

private:
    static QString key(Machine machine) { return machine == A ? QStringLiteral("a") : QStringLiteral("b"); }

    NetworkLab m_lab;
    bool m_up = false;
};
