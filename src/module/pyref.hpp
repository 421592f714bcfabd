// PyRef: the owning, move-only handle held for every Python reference the module takes.
#pragma once

#include <Python.h>

#include <utility>

namespace zorvane::module {

// Whether the running thread holds the interpreter lock, so that it may touch Python objects. From 3.12 a thread
// has a thread state of its own exactly while it holds the lock, valid through shutdown and in every interpreter.
// 3.11 keeps only the holder's, shared by all threads: this thread holds the lock if the holder's is its own, as
// CPython records it for the thread (or, for one of a subinterpreter, as the state itself names the thread).
// PyGILState_Check would not do: it answers yes for every thread once a subinterpreter has existed, and again late
// in shutdown.
inline bool thread_holds_interpreter_lock() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked() != nullptr;
#elif PY_VERSION_HEX >= 0x030C0000
    return _PyThreadState_UncheckedGet() != nullptr;
#else
    PyThreadState* holder = _PyThreadState_UncheckedGet();
    return holder != nullptr &&
           (holder == PyGILState_GetThisThreadState() || holder->thread_id == PyThread_get_thread_ident());
#endif
}

// Releasing a reference can run Python code (a finalizer), and so can end in the forced unwind with which CPython
// 3.11 to 3.13 end a thread at interpreter exit; the destructor and the assignment are therefore not noexcept,
// which would turn that unwind into an abort. That unwind runs the destructors of the frames it passes without the
// lock, and there a handle leaves its reference alone: a deliberate leak of an object the process is about to drop.
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
    PyRef& operator=(PyRef&& o) noexcept(false) {
        PyRef old{std::exchange(ptr_, std::exchange(o.ptr_, nullptr))};
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() noexcept(false) {
        if (ptr_ != nullptr && thread_holds_interpreter_lock()) Py_DECREF(ptr_);
    }

    PyObject* get() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }

private:
    explicit PyRef(PyObject* o) noexcept : ptr_{o} {}
    PyObject* ptr_ = nullptr;
};

}  // namespace zorvane::module
