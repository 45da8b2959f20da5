#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Two machines for what loopback would hide: two network namespaces joined by a veth pair,
// 192.0.2.10 on the first and 192.0.2.20 on the second, loopback up in each and no route
// out. Making them needs root (as CI runs). Their names carry a tag and the process id, so
// runs side by side never meet; pairs that a killed run left behind are cleared away.
// Both go when this object goes, after the programs on them have ended.
class TwoMachines
{
public:
    enum Machine { A, B };

    explicit TwoMachines(const QString &tag);
    ~TwoMachines();
    TwoMachines(const TwoMachines &) = delete;
    TwoMachines &operator=(const TwoMachines &) = delete;

    // Makes the pair; false with the reason when this process cannot.
    bool create(QString *why);
    bool isUp() const { return m_up; }

    static QString address(Machine machine);
    QString name(Machine machine) const;
    // The command line that runs the program on that machine.
    QStringList command(Machine machine, const QString &program, const QStringList &arguments) const;
    // Runs `work` with this thread on that machine's network: the sockets it opens, to
    // connect or to listen, belong to that machine for good.
    bool onMachine(Machine machine, const std::function<void()> &work) const;

private:
    void sweepLeftovers() const;
    void remove();

    QString m_prefix;
    bool m_up = false;
};
