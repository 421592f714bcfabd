// Translation of the core's C++ exceptions into Python exceptions.
#include "module/boundary.hpp"

#include <exception>
#include <new>

#include "base/failure.hpp"

namespace zorvane::module {

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const base::NumberOutOfRange& e) {
        // The message names the number and its line and column.
        PyErr_SetString(PyExc_OverflowError, e.what());
    } catch (const base::InternalError& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
}

}  // namespace zorvane::module
