// PyRef: the owning, move-only handle held for every Python reference the module takes.
#pragma once

#include <Python.h>

#include <utility>

namespace zorvane::module {

class PyRef {
public:
    PyRef() noexcept = default;
    // Takes over a new reference (or nullptr, when the call that made it failed).
    static PyRef steal(PyObject* o) noexcept { return PyRef{o}; }
    // Adds a reference to a borrowed object.
    static PyRef borrow(PyObject* o) noexcept {
        Py_XINCREF(o);
        return PyRef{o};
    }
    PyRef(PyRef&& o) noexcept : ptr_{std::exchange(o.ptr_, nullptr)} {}
    PyRef& operator=(PyRef&& o) noexcept {
        PyRef old{std::exchange(ptr_, std::exchange(o.ptr_, nullptr))};
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(ptr_); }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

private:
    explicit PyRef(PyObject* o) noexcept : ptr_{o} {}
    PyObject* ptr_ = nullptr;
};

}  // namespace zorvane::module
