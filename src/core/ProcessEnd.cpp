#include "core/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define ZELMO_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELMO_LEAK_CHECK 1
#endif
#endif

#ifdef ZELMO_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

void ProcessEnd::now(int status)
{
    std::fflush(nullptr);
#ifdef ZELMO_LEAK_CHECK
    // The check the sanitizer would run at exit; it does nothing unless detect_leaks asks.
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
