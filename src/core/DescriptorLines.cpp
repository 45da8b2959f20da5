#include "core/DescriptorLines.h"

#include <QSocketNotifier>

#include <algorithm>
#include <unistd.h>

DescriptorLines::DescriptorLines(int fd, int maxLineBytes, QObject *parent)
    : QObject(parent)
    , m_fd(fd)
    , m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    m_cutter.setTerminator("\n");
    m_cutter.setLimit(maxLineBytes);
    connect(m_notifier, &QSocketNotifier::activated, this, &DescriptorLines::readSome);
}

void DescriptorLines::readSome()
{
    char buffer[4096];
    const size_t room = size_t(std::clamp<qsizetype>(m_cutter.room(), 1, qsizetype(sizeof buffer)));
    const ssize_t n = ::read(m_fd, buffer, room);
    if (n <= 0) {
        m_notifier->setEnabled(false);
        return;
    }
    m_cutter.append(QByteArray(buffer, n));
    QByteArray text;
    bool complete = false;
    while (m_cutter.next(&text, &complete)) {
        if (m_skipping) {
            m_skipping = !complete;
            continue;
        }
        m_skipping = !complete;
        emit lineRead(text, !complete);
    }
}
