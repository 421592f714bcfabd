// The module zorvane: its initialisation and the three parse functions.
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "module/classes.hpp"
#include "module/compat.hpp"
#include "parser/entry.hpp"
#include "peg/engine.hpp"

namespace zorvane::module {

namespace {

constexpr const char* content_parameter[] = {"content"};
constexpr const char* line_parameter[] = {"line"};
constexpr Signature parse_ptx_signature{"parse_ptx", content_parameter, 1};
constexpr Signature parse_instruction_signature{"parse_instruction", content_parameter, 1};
constexpr Signature parse_function_body_line_signature{"parse_function_body_line", line_parameter, 1};

// Binds the one text parameter of a parse function; its UTF-8 bytes stay owned by the str for the whole call.
bool text_argument(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   std::string_view& text) {
    PyObject* argument = nullptr;
    if (nargs == 1 && kwnames == nullptr)
        argument = args[0];
    else if (!bind_fastcall(sig, args, nargs, kwnames, &argument))
        return false;
    if (borrow_text(argument, text)) return true;
    prefix_argument_error(sig.names[0]);
    return false;
}

// The text a parse reads: the str's own UTF-8 bytes and the NUL after them, or, in a build with debug checks, a copy
// of exactly those: the interpreter's buffer may have room behind the NUL, where the sanitizer would not see a read
// one byte too far.
class TextToParse {
public:
    explicit TextToParse(std::string_view text) : view_{text} {
        if constexpr (base::kDebugChecks) {
            copy_ = std::make_unique_for_overwrite<char[]>(text.size() + 1);
            if (!text.empty()) std::memcpy(copy_.get(), text.data(), text.size());
            copy_[text.size()] = '\0';
            view_ = std::string_view{copy_.get(), text.size()};
        }
    }
    std::string_view view() const noexcept { return view_; }

private:
    std::string_view view_;
    std::unique_ptr<char[]> copy_;
};

// Below this size a parse takes well under a millisecond, less than other threads would gain.
constexpr std::size_t kThreadsAllowedFrom = 64 * 1024;

// Runs parse_program with the interpreter lock released, so that other threads run meanwhile; the core touches no
// Python object. The lock is taken back by a plain call, not by a destructor: at interpreter exit CPython 3.11 to
// 3.13 end a thread that asks for it with a forced unwind, which a destructor (noexcept) would turn into an abort.
// No Python reference is held in this frame, since the unwind runs its cleanups without the lock.
peg::Outcome<ast::ParsedFile> parse_program_letting_threads_run(std::string_view text) {
    PyThreadState* thread = PyEval_SaveThread();
    std::exception_ptr failure;
    peg::Outcome<ast::ParsedFile> outcome;
    try {
        outcome = parser::parse_program(text);
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(thread);
    if (failure) std::rethrow_exception(failure);
    return outcome;
}

PyObject* parse_ptx(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view argument;
        if (!text_argument(parse_ptx_signature, args, nargs, kwnames, argument)) return nullptr;
        const TextToParse to_parse{argument};
        const std::string_view text = to_parse.view();
        // A long parse lets other threads run, so that a program can parse several modules at once. The text stays
        // valid and unchanged meanwhile: the caller holds the str, and a str never changes. A thread that runs while
        // the interpreter is already shutting down keeps the lock, so that it can finish the call.
        const bool others_run = text.size() >= kThreadsAllowedFrom && !Py_IsFinalizing();
        peg::Outcome<ast::ParsedFile> outcome =
            others_run ? parse_program_letting_threads_run(text) : parser::parse_program(text);
        if (outcome.value) return new_file_object(std::move(*outcome.value));
        if (!outcome.error) throw base::InternalError{"the parse ended with neither a value nor an error"};
        PyRef message = PyRef::steal(to_python(outcome.error->text()));
        if (message) PyErr_SetObject(PyExc_ValueError, message.get());
        return nullptr;
    });
}

PyObject* parse_instruction(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view argument;
        if (!text_argument(parse_instruction_signature, args, nargs, kwnames, argument)) return nullptr;
        const TextToParse to_parse{argument};
        peg::Outcome<ast::PackedInstruction> outcome = parser::parse_single_instruction(to_parse.view());
        if (outcome.value) return new_instruction_object(std::move(*outcome.value));
        Py_RETURN_NONE;
    });
}

PyObject* parse_function_body_line(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        std::string_view argument;
        if (!text_argument(parse_function_body_line_signature, args, nargs, kwnames, argument)) return nullptr;
        const TextToParse to_parse{argument};
        peg::Outcome<ast::BodyItem> outcome = parser::parse_function_body_line(to_parse.view());
        if (outcome.value) return new_body_item_object(std::move(*outcome.value));
        Py_RETURN_NONE;
    });
}

PyMethodDef function_definitions[] = {
    {"parse_ptx", method_function(&parse_ptx), METH_FASTCALL | METH_KEYWORDS, "parse_ptx(content)\n--\n\n"},
    {"parse_instruction", method_function(&parse_instruction), METH_FASTCALL | METH_KEYWORDS,
     "parse_instruction(content)\n--\n\n"},
    {"parse_function_body_line", method_function(&parse_function_body_line), METH_FASTCALL | METH_KEYWORDS,
     "parse_function_body_line(line)\n--\n\n"},
};

PyModuleDef module_definition = {PyModuleDef_HEAD_INIT, "zorvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// The interpreter that first ran the initialisation; the module serves no other.
std::atomic<std::int64_t> owner_interpreter{-1};
// The module, once built; this reference is kept for the life of the process.
PyObject* module_cache = nullptr;

// Appends `name` to the module's __all__ (made on first use), then sets the attribute.
bool add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "the module's __all__ is not a list");
        return false;
    }
    if (PyList_Append(all.get(), name) < 0) return false;
    return PyObject_SetAttr(module, name, value) == 0;
}

PyObject* create_module() {
    PyRef module = PyRef::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) return nullptr;
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
    if (!module_name) return nullptr;
    for (PyMethodDef& definition : function_definitions) {
        PyRef function = PyRef::steal(PyCMethod_New(&definition, module.get(), module_name.get(), nullptr));
        if (!function) return nullptr;
        PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name || !add_to_module(module.get(), name.get(), function.get())) return nullptr;
    }
    PyTypeObject* file = file_class();
    if (file == nullptr) return nullptr;
    PyRef name = PyRef::steal(PyUnicode_InternFromString("PTXFile"));
    if (!name || !add_to_module(module.get(), name.get(), reinterpret_cast<PyObject*>(file))) return nullptr;
    return module.release();
}

// Whether this interpreter refuses modules that, like this one, initialise in a single phase (an isolated
// subinterpreter). CPython 3.12 runs the initialisation before it refuses such a module, so that run must claim
// nothing; later versions refuse before they run it.
bool refuses_single_phase_modules([[maybe_unused]] PyInterpreterState* interpreter) {
#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
    return _PyInterpreterState_HasFeature(interpreter, Py_RTFLAGS_MULTI_INTERP_EXTENSIONS) != 0;
#else
    return false;
#endif
}

constexpr const char* kOneInterpreterOnly =
    "zorvane does not support subinterpreters: it can be imported only by the interpreter that first imported it in "
    "this process";

PyObject* initialise() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) return nullptr;
    // The owner is claimed only by an initialisation that the interpreter will accept.
    if (refuses_single_phase_modules(interpreter)) {
        PyErr_SetString(PyExc_ImportError, kOneInterpreterOnly);
        return nullptr;
    }
    std::int64_t owner = -1;
    if (!owner_interpreter.compare_exchange_strong(owner, id) && owner != id) {
        PyErr_SetString(PyExc_ImportError, kOneInterpreterOnly);
        return nullptr;
    }
    if (module_cache != nullptr) return Py_NewRef(module_cache);
    // A failure leaves the cache empty, so that a later import tries again.
    PyObject* module = create_module();
    if (module == nullptr) return nullptr;
    // Building ran interpreter code; another thread may have finished the module meanwhile, and that one is kept.
    if (module_cache != nullptr) {
        Py_DECREF(module);
        return Py_NewRef(module_cache);
    }
    module_cache = module;
    return Py_NewRef(module);
}

}  // namespace

}  // namespace zorvane::module

PyMODINIT_FUNC PyInit_zorvane(void) {
    return zorvane::module::guarded([] { return zorvane::module::initialise(); });
}
