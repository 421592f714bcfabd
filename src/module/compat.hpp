// Backfills, on CPython 3.11 to 3.13, the newer C-API calls the module makes, with the behaviour they have in 3.14.
#pragma once

#include <Python.h>

#if !PY_LITTLE_ENDIAN
#error "the byte-order backfills below assume a little-endian platform"
#endif

#if PY_VERSION_HEX < 0x030C0000
// The pending exception as one object, taken out of the thread state (3.12).
static inline PyObject* PyErr_GetRaisedException(void) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_DECREF(type);
    Py_XDECREF(traceback);
    return value;
}

// Steals `exc` and makes it the pending exception again (3.12).
static inline void PyErr_SetRaisedException(PyObject* exc) {
    if (exc == nullptr) {
        PyErr_Clear();
        return;
    }
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// Whether the main interpreter is shutting down (3.13).
static inline int Py_IsFinalizing(void) {
    return _Py_IsFinalizing();
}

#define Py_ASNATIVEBYTES_DEFAULTS -1
#define Py_ASNATIVEBYTES_BIG_ENDIAN 0
#define Py_ASNATIVEBYTES_LITTLE_ENDIAN 1
#define Py_ASNATIVEBYTES_NATIVE_ENDIAN 3
#define Py_ASNATIVEBYTES_UNSIGNED_BUFFER 4
#define Py_ASNATIVEBYTES_REJECT_NEGATIVE 8
#define Py_ASNATIVEBYTES_ALLOW_INDEX 16

// The bytes of an int and the number of bytes its value needs (3.13). Covers what the module asks for: an int
// into an unsigned little-endian buffer, negative values rejected. When the value needs more than `n` bytes the
// buffer's contents are unspecified; callers only look at the returned size then.
static inline Py_ssize_t PyLong_AsNativeBytes(PyObject* v, void* buffer, Py_ssize_t n, int flags) {
    const int wanted = Py_ASNATIVEBYTES_UNSIGNED_BUFFER | Py_ASNATIVEBYTES_REJECT_NEGATIVE;
    if (flags == -1 || (flags & wanted) != wanted || (flags & Py_ASNATIVEBYTES_LITTLE_ENDIAN) == 0) {
        PyErr_SetString(PyExc_SystemError, "PyLong_AsNativeBytes: flags not supported by this backfill");
        return -1;
    }
    if (!PyLong_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "expect int");
        return -1;
    }
    if (_PyLong_Sign(v) < 0) {
        PyErr_SetString(PyExc_ValueError, "Cannot convert negative int");
        return -1;
    }
    const size_t bits = _PyLong_NumBits(v);
    if (bits == static_cast<size_t>(-1) && PyErr_Occurred()) return -1;
    const Py_ssize_t needed = bits == 0 ? 1 : static_cast<Py_ssize_t>((bits + 7) / 8);
    if (needed <= n && _PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(v), static_cast<unsigned char*>(buffer),
                                           static_cast<size_t>(n), 1, 0) < 0)
        return -1;
    return needed;
}

// An int from unsigned bytes (3.13); little-endian only, as above.
static inline PyObject* PyLong_FromUnsignedNativeBytes(const void* buffer, size_t n, int flags) {
    if (flags != -1 && (flags & Py_ASNATIVEBYTES_LITTLE_ENDIAN) == 0) {
        PyErr_SetString(PyExc_SystemError, "PyLong_FromUnsignedNativeBytes: flags not supported by this backfill");
        return nullptr;
    }
    return _PyLong_FromByteArray(static_cast<const unsigned char*>(buffer), n, 1, 0);
}
#endif
