// Argument binding and scalar argument conversions.
#include "module/arguments.hpp"

#include <cstring>

#include "module/compat.hpp"
#include "module/pyref.hpp"

namespace zorvane::module {

namespace {

constexpr std::size_t no_parameter = static_cast<std::size_t>(-1);
// The most fields a variant has.
constexpr std::size_t kMaxParameters = 4;

std::size_t find_parameter(const Signature& sig, PyObject* name) {
    if (!PyUnicode_Check(name)) return no_parameter;
    for (std::size_t i = 0; i < sig.count; ++i)
        if (PyUnicode_CompareWithASCIIString(name, sig.names[i]) == 0) return i;
    return no_parameter;
}

bool place_keyword(const Signature& sig, PyObject* name, PyObject* value, PyObject** out) {
    std::size_t i = find_parameter(sig, name);
    if (i == no_parameter) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", sig.function, name);
        return false;
    }
    if (out[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.function, sig.names[i]);
        return false;
    }
    out[i] = value;
    return true;
}

bool place_positional(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject** out) {
    if (static_cast<std::size_t>(nargs) > sig.count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given", sig.function, sig.count,
                     nargs, nargs == 1 ? "was" : "were");
        return false;
    }
    for (std::size_t i = 0; i < sig.count; ++i) out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;
    return true;
}

// "missing 2 required positional arguments: '_1' and '_2'", "... '_0', '_1', and '_2'"
bool check_complete(const Signature& sig, PyObject* const* out) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < sig.count; ++i) missing += out[i] == nullptr;
    if (missing == 0) return true;
    std::string list;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < sig.count; ++i) {
        if (out[i] != nullptr) continue;
        if (listed != 0) {
            if (missing > 2) list += ',';
            list += listed + 1 == missing ? " and " : " ";
        }
        list += '\'';
        list += sig.names[i];
        list += '\'';
        ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", sig.function, missing,
                 missing == 1 ? "" : "s", list.c_str());
    return false;
}

}  // namespace

bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    if (!place_positional(sig, args, nargs, out)) return false;
    if (kwnames != nullptr) {
        Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k)
            if (!place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out)) return false;
    }
    return check_complete(sig, out);
}

bool bind_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyRef* out) {
    // Binding runs no Python code (the names are compared as str), so the borrowed entries below stay valid
    // until each is taken as a strong reference.
    PyObject* bound[kMaxParameters] = {};
    if (sig.count > kMaxParameters) {
        PyErr_SetString(PyExc_SystemError, "a signature has more parameters than argument binding supports");
        return false;
    }
    if (!place_positional(sig, reinterpret_cast<PyTupleObject*>(args)->ob_item, PyTuple_GET_SIZE(args), bound))
        return false;
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *name, *value;
        while (PyDict_Next(kwargs, &pos, &name, &value))
            if (!place_keyword(sig, name, value, bound)) return false;
    }
    if (!check_complete(sig, bound)) return false;
    for (std::size_t i = 0; i < sig.count; ++i) out[i] = PyRef::borrow(bound[i]);
    return true;
}

void prefix_argument_error(const char* name) {
    PyRef error = PyRef::steal(PyErr_GetRaisedException());
    if (!error) return;
    // Only TypeError itself is reworded; its subclasses and every other exception pass as raised.
    if (!Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(error.release());
        return;
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %S", name, error.get()));
    if (!message) return;
    PyRef reworded = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (!reworded) return;
    PyException_SetCause(reworded.get(), PyException_GetCause(error.get()));  // steals the cause
    PyErr_SetRaisedException(reworded.release());
}

void raise_cannot_cast(PyObject* obj, std::string_view target) {
    PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (!type_name) return;
    PyRef target_name =
        PyRef::steal(PyUnicode_FromStringAndSize(target.data(), static_cast<Py_ssize_t>(target.size())));
    if (!target_name) return;
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be cast as '%U'", type_name.get(), target_name.get());
}

bool borrow_text(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        raise_cannot_cast(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    // A str holding lone surrogates has no UTF-8 form: the UnicodeEncodeError raised here is the caller's error.
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) return false;
    out = std::string_view{data, static_cast<std::size_t>(size)};
    return true;
}

bool from_python(PyObject* obj, std::uint64_t& out) {
    PyRef index;
    if (!PyLong_Check(obj)) {
        index = PyRef::steal(PyNumber_Index(obj));
        if (!index) return false;
        obj = index.get();
    }
    // Negative and too large values raise the interpreter's own OverflowError.
    unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool from_python(PyObject* obj, ast::u128& out) {
    PyRef index = PyRef::steal(PyNumber_Index(obj));
    if (!index) return false;
    unsigned char bytes[sizeof(ast::u128)];
    Py_ssize_t needed = PyLong_AsNativeBytes(
        index.get(), bytes, sizeof bytes,
        Py_ASNATIVEBYTES_NATIVE_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER | Py_ASNATIVEBYTES_REJECT_NEGATIVE);
    if (needed < 0) return false;
    if (static_cast<std::size_t>(needed) > sizeof bytes) {
        PyErr_SetString(PyExc_OverflowError, "Python int larger than 128 bits");
        return false;
    }
    std::memcpy(&out, bytes, sizeof bytes);
    return true;
}

bool check_sequence(PyObject* obj) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (PyList_Check(obj) || PyTuple_Check(obj)) return true;
    // Looked up once and kept for the life of the process, like the classes.
    static PyObject* sequence_abc = nullptr;
    if (sequence_abc == nullptr) {
        PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
        if (!abc) return false;
        PyObject* sequence = PyObject_GetAttrString(abc.get(), "Sequence");
        if (sequence == nullptr) return false;
        if (sequence_abc == nullptr)
            sequence_abc = sequence;
        else
            Py_DECREF(sequence);
    }
    int is_sequence = PyObject_IsInstance(obj, sequence_abc);
    if (is_sequence < 0) return false;
    if (is_sequence == 0) raise_cannot_cast(obj, "Sequence");
    return is_sequence == 1;
}

}  // namespace zorvane::module
