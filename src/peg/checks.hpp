// Checks of the core's own invariants: a failed one throws the core's internal failure, naming what broke and
// where. CHECK guards memory and stays in every build; ASSERT is compiled only into builds with debug checks.
#pragma once

namespace zorvane::peg {

[[noreturn]] void fail_check(const char* what, const char* condition, const char* file, int line);

}  // namespace zorvane::peg

#define ZORVANE_CHECK(condition, what)                                          \
    do {                                                                        \
        if (!(condition)) [[unlikely]]                                          \
            ::zorvane::peg::fail_check((what), #condition, __FILE__, __LINE__); \
    } while (false)

#ifdef ZORVANE_DEBUG_CHECKS
#define ZORVANE_ASSERT(condition, what) ZORVANE_CHECK(condition, what)
#else
#define ZORVANE_ASSERT(condition, what) static_cast<void>(0)
#endif
