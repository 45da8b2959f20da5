#pragma once

// Ends the process once main's own objects are gone, leaving the libraries' process-wide
// objects to the system instead of destroying them. Qt 6.4's sound back end closes its
// connection to the sound server at exit without holding the lock of the thread that
// serves that connection; now and then the two threads miscount the sound library's
// pending work and the library aborts the process ("Assertion
// 'm->io_events_please_scan == 0' failed"), after everything of ours ended well.
class ProcessEnd
{
public:
    // Flushes standard output and error, runs the leak check that a sanitized build was
    // asked for, and ends the process with `status`.
    [[noreturn]] static void now(int status);
};
