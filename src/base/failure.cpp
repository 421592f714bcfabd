// The failure of a check: what failed, the condition that did not hold, and where it is written.
#include "base/failure.hpp"

namespace zorvane::base {

InternalError::InternalError(std::string_view what, const char* condition, const char* file, int line)
    : std::runtime_error{std::string{what} + " (" + condition + " does not hold at " + file + ":" +
                         std::to_string(line) + ")"},
      file_{file},
      line_{line} {}

void check_failed(const char* what, const char* condition, const char* file, int line) {
    throw InternalError{what, condition, file, line};
}

}  // namespace zorvane::base
