// Binding of call arguments to parameter names, and the conversions of scalar arguments, with CPython's wording.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ast/varint.hpp"
#include "module/pyref.hpp"

namespace zorvane::module {

// A callable's parameters, all required and positional-or-keyword.
struct Signature {
    const char* function;  // as messages name it: "parse_ptx", "PTXFile.get_instruction", "PTXRegister_Wide.__new__"
    const char* const* names;
    std::size_t count;
};

// Each of these fills out[0..count) or raises TypeError as CPython words it.
// Fast-call arguments are owned by the caller for the whole call, so borrowed references to them stay valid whatever
// Python code the conversions run.
bool bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// A keyword dictionary is an ordinary object that code run while the arguments are converted (an __index__, a
// __len__) can reach and empty, so every argument bound from it is held by a strong reference of its own.
bool bind_tuple_dict(const Signature& sig, PyObject* args, PyObject* kwargs, PyRef* out);

// Puts "argument 'name': " in front of the message of a pending TypeError; other exceptions pass unchanged.
void prefix_argument_error(const char* name);
// Raises TypeError "'int' object cannot be cast as 'str'", naming the object's type by its qualified name.
void raise_cannot_cast(PyObject* obj, std::string_view target);

// Scalar argument conversions; each returns false with a Python exception set.
bool borrow_text(PyObject* obj, std::string_view& out);  // valid while `obj` lives
bool from_python(PyObject* obj, std::uint64_t& out);
bool from_python(PyObject* obj, ast::u128& out);
// Lists take any sequence but a str.
bool check_sequence(PyObject* obj);

}  // namespace zorvane::module
