// The core's failures, neither of them a syntax error: the internal failure (a broken invariant) with the checks
// that raise it, and the input's limit (a number in the text that does not fit its field).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace zorvane::base {

// A broken invariant of the core. The message says what failed and, for a failed check, where in the source.
class InternalError : public std::runtime_error {
public:
    explicit InternalError(const std::string& what) : std::runtime_error{what} {}
    InternalError(std::string_view what, const char* condition, const char* file, int line);

    // Where the failed check is, or null and 0 for a failure that names its place in its message.
    const char* file() const noexcept { return file_; }
    int line() const noexcept { return line_; }

private:
    const char* file_ = nullptr;
    int line_ = 0;
};

// A number in the text that does not fit its field: a limit of what the tree holds, not a fault of the core. It
// ends the whole call; its message names the number and its line and column.
class NumberOutOfRange : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws the failure of a check; out of line, so that each check costs a compare and a call.
[[noreturn, gnu::cold]] void check_failed(const char* what, const char* condition, const char* file, int line);

#ifdef ZORVANE_DEBUG_CHECKS
inline constexpr bool kDebugChecks = true;
#else
inline constexpr bool kDebugChecks = false;
#endif

}  // namespace zorvane::base

// ZORVANE_CHECK(condition, what): always on, for the checks that guard memory and the few that run once per call.
// ZORVANE_DEBUG_CHECK: the same in a build with ZORVANE_DEBUG_CHECKS, and nothing otherwise (the condition is not
// evaluated, but still compiled, so that it cannot rot); for positions, lengths and invariants on the hot paths.
// A function that is noexcept in a release build is noexcept(!base::kDebugChecks) where a debug check may throw.
#define ZORVANE_CHECK(condition, what)                                           \
    do {                                                                         \
        if (!(condition)) [[unlikely]]                                           \
            ::zorvane::base::check_failed(what, #condition, __FILE__, __LINE__); \
    } while (false)

#ifdef ZORVANE_DEBUG_CHECKS
#define ZORVANE_DEBUG_CHECK(condition, what) ZORVANE_CHECK(condition, what)
#else
#define ZORVANE_DEBUG_CHECK(condition, what) static_cast<void>(sizeof(!(condition)))
#endif
