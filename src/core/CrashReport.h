#pragma once

// On a fatal signal (a segmentation fault, an abort, a bus or arithmetic error) the program
// writes what it was doing to standard error, the stack of the thread that failed, before
// it dies of the same signal: a crash that happens one run in five is then found from the
// one log that caught it. Builds with a sanitizer keep the sanitizer's own, better report.
class CrashReport
{
public:
    // Installs the handler for the whole process.
    static void install();
};
