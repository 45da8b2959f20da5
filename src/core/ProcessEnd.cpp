#include "core/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

#include "core/Sanitizers.h"

#ifdef ZELMO_ADDRESS_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

void ProcessEnd::now(int status)
{
    std::fflush(nullptr);
#ifdef ZELMO_ADDRESS_SANITIZER
    // The check the sanitizer would run at exit; it does nothing unless detect_leaks asks.
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
