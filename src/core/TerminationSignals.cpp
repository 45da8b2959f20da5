#include "core/TerminationSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end for the signal handler: async-signal-safe code can only write to a file
// descriptor, so this one process-wide value is unavoidable.
volatile sig_atomic_t writeFd = -1;

void onSignal(int number)
{
    const char byte = char(number);
    if (writeFd >= 0)
        [[maybe_unused]] ssize_t n = ::write(writeFd, &byte, 1);
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds) != 0)
        return;
    writeFd = m_fds[0];
    m_notifier = new QSocketNotifier(m_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(m_fds[1], &byte, 1) == 1)
            emit received(int(byte));
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    writeFd = -1;
    for (int fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
    }
}
