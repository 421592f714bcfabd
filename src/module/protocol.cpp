// The non-generic parts of the class protocol: building a heap type, and conversions that need no template.
#include "module/protocol.hpp"

namespace zorvane::module {

PyRef build_class(const char* name, std::size_t basicsize, unsigned long flags, std::vector<PyType_Slot> slots,
                  PyTypeObject* base) {
    slots.push_back({0, nullptr});
    PyType_Spec spec{name, static_cast<int>(basicsize), 0, static_cast<unsigned int>(flags), slots.data()};
    return PyRef::steal(PyType_FromSpecWithBases(&spec, reinterpret_cast<PyObject*>(base)));
}

std::string qualified_name(std::string_view name) {
    std::string qualified{"builtins."};
    qualified += name;
    return qualified;
}

int set_class_attribute(PyObject* type, std::string_view name, PyObject* value) {
    PyRef key = PyRef::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
    if (!key) return -1;
    PyObject* interned = key.release();
    PyUnicode_InternInPlace(&interned);
    key = PyRef::steal(interned);
    return PyObject_SetAttr(type, key.get(), value);
}

PyObject* refuse_alloc(PyTypeObject* type, Py_ssize_t) noexcept {
    PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
    return nullptr;
}

PyObject* raise_variant_mismatch(PyObject* self) {
    PyErr_Format(PyExc_RuntimeError, "internal error: a '%s' object holds the value of another variant",
                 Py_TYPE(self)->tp_name);
    return nullptr;
}

PyObject* to_python(ast::u128 number) {
    if ((number >> 64) == 0) return PyLong_FromUnsignedLongLong(static_cast<std::uint64_t>(number));
    return PyLong_FromUnsignedNativeBytes(&number, sizeof number, Py_ASNATIVEBYTES_NATIVE_ENDIAN);
}

PyObject* to_python(const std::unordered_map<std::string, std::string>& map) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [key, value] : map) {
        PyRef k = PyRef::steal(to_python(key));
        if (!k) return nullptr;
        PyRef v = PyRef::steal(to_python(value));
        if (!v) return nullptr;
        if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

}  // namespace zorvane::module
