#include "TwoMachines.h"

TwoMachines::TwoMachines(const QString &tag)
    : m_lab(tag)
{
}

QString TwoMachines::address(Machine machine)
{
    return machine == A ? QStringLiteral("192.0.2.10") : QStringLiteral("192.0.2.20");
}

bool TwoMachines::create(QString *why)
{
    m_up = m_lab.addMachine(key(A), why) && m_lab.addMachine(key(B), why)
           && m_lab.link(key(A), QStringLiteral("va"), {address(A) + QStringLiteral("/24")}, key(B), QStringLiteral("vb"),
                         {address(B) + QStringLiteral("/24")}, why);
    return m_up;
}
