#pragma once

// Which sanitizers this build runs under. GCC and clang say so in different ways, and a
// program under them must leave exit-time checks and crash reports to the sanitizer.
#if defined(__SANITIZE_ADDRESS__)
#define ZELMO_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELMO_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(ZELMO_ADDRESS_SANITIZER)
#define ZELMO_ANY_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(undefined_behavior_sanitizer)
#define ZELMO_ANY_SANITIZER 1
#endif
#endif
