#include "core/CrashReport.h"

#include "core/Sanitizers.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <execinfo.h>
#include <initializer_list>
#include <unistd.h>


namespace {

void write(const char *text)
{
    // Nothing to do when the error output itself is gone.
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text, std::strlen(text));
}

void onFatalSignal(int signalNumber)
{
    // Only async-signal-safe calls: the heap may be what broke. backtrace() was called
    // once at install, so it needs no loading here.
    write("\nCrashed: ");
    write(strsignal(signalNumber));
    write("; the stack of the failing thread:\n");
    void *frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, STDERR_FILENO);
    // Dies of the same signal, so whoever waits sees the crash as a crash.
    std::signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

} // namespace

void CrashReport::install()
{
#ifndef ZELMO_ANY_SANITIZER
    void *warmUp[1];
    backtrace(warmUp, 1);
    // A stack of its own: a stack that overflowed has no room left for the handler. It
    // lives as long as the process, so it is never freed.
    stack_t own = {};
    own.ss_size = std::max<size_t>(SIGSTKSZ, 64 * 1024);
    own.ss_sp = new char[own.ss_size];
    sigaltstack(&own, nullptr);
    struct sigaction action = {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    // A crash in the handler itself ends the process at once.
    action.sa_flags = SA_RESETHAND | SA_ONSTACK;
    for (const int fatal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL})
        sigaction(fatal, &action, nullptr);
#endif
}
