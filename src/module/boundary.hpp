// The boundary between C++ and CPython: no C++ exception crosses it, each becomes the Python exception it stands for.
#pragma once

#include <Python.h>

#include <exception>
#include <type_traits>

namespace zorvane::module {

// Sets the Python exception for the std::exception being handled; call only from inside a catch block for one.
void raise_current_exception() noexcept;

// Runs the body of a function that CPython calls: a C++ exception leaves it as a Python exception and the
// failure value of the function's kind (nullptr, or -1). Every exception the module throws is a std::exception.
// A thread that takes the interpreter lock back while the interpreter shuts down (after a long parse, or in Python
// code that a conversion ran) is ended by a forced unwind on CPython 3.11 to 3.13, which must pass through: it is
// no std::exception, so no handler here takes it, and neither this nor any function that calls Python code is
// noexcept, since a noexcept frame would end the process instead.
template <class Body>
auto guarded(Body&& body) -> decltype(body()) {
    using Result = decltype(body());
    try {
        return body();
    } catch (const std::exception&) {
        raise_current_exception();
        if constexpr (std::is_pointer_v<Result>)
            return nullptr;
        else
            return Result(-1);
    }
}

}  // namespace zorvane::module
