#include "server/OperatorInput.h"

#include <QSocketNotifier>
#include <QString>

#include <unistd.h>

OperatorInput::OperatorInput(int fd, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
{
    if (isatty(fd) && tcgetpgrp(fd) != getpgrp())
        return;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &OperatorInput::readSome);
}

void OperatorInput::readSome()
{
    char buffer[512];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n <= 0) {
        m_notifier->setEnabled(false);
        return;
    }
    m_pending.append(buffer, n);
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QString text = QString::fromUtf8(m_pending.left(end)).trimmed();
        m_pending.remove(0, end + 1);
        if (!text.isEmpty())
            emit line(text);
    }
    // A line without an end is cut rather than held without bound.
    if (m_pending.size() > MaxLineBytes) {
        emit line(QString::fromUtf8(m_pending.left(MaxLineBytes)).trimmed());
        m_pending.clear();
    }
}
