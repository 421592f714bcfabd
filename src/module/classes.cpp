// Methods and slots particular to single classes, the conversions of what a parse's records hold, and the entry
// points that turn parse results into objects.
#include "module/classes.hpp"

#include <cstring>
#include <functional>
#include <string>
#include <variant>

#include "peg/engine.hpp"

namespace zorvane::module {

namespace {

namespace encoding = ast::encoding;

PyObject* new_str(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// A new str of a text known to be ASCII (a kind, a mnemonic): made without decoding.
PyObject* new_ascii_str(std::string_view text) {
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (str != nullptr) std::memcpy(PyUnicode_DATA(str), text.data(), text.size());
    return str;
}

std::string predicate_text(std::uint64_t number) {
    return "%p" + std::to_string(number);
}

// Runs an operand accessor that answers one variant; every other variant gives None.
template <class Alternative, class Answer>
PyObject* answer_for(PyObject* self, Answer answer) {
    return guarded([self, &answer]() -> PyObject* {
        if (const auto* alternative = std::get_if<Alternative>(&value_of<ast::PTXOperand>(self)))
            return answer(*alternative);
        Py_RETURN_NONE;
    });
}

// A new list of `items.size()` objects, the i-th made by `make` from the i-th item that `items.for_each` gives.
template <class Items, class Make>
PyObject* list_of(const Items& items, Make&& make) {
    const std::size_t size = items.size();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(size)));
    if (!list) return nullptr;
    std::size_t made = 0;
    bool failed = false;
    items.for_each([&](const auto& item) {
        if (failed || made == size) return;
        PyObject* object = make(item);
        if (object == nullptr) {
            failed = true;
            return;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(made++), object);
    });
    if (failed) return nullptr;
    // A list with empty slots would crash whoever reads it.
    if (made != size) throw peg::InternalError{"a record holds fewer items than its count"};
    return list.release();
}

// The storage of a parse, as a capsule: the last view of the parse to go frees it.
constexpr const char* kStorageName = "zorvane.tree";

void free_storage(PyObject* capsule) noexcept {
    delete static_cast<ast::ParsedFile*>(PyCapsule_GetPointer(capsule, kStorageName));
}

}  // namespace

// ---- What a parse's records hold

PyObject* to_python(const ast::InstructionRef::Operands& operands, Shared) {
    return list_of(operands, [](const encoding::OperandFields& op) -> PyObject* {
        PyTypeObject* type = variant_class<ast::PTXOperand>(static_cast<std::size_t>(op.kind));
        if (type == nullptr) return nullptr;
        return new_instance_made<ast::PTXOperand>(type, [&op] { return encoding::operand_from(op); });
    });
}

PyObject* to_python(const ast::SignatureRef::Parameters& parameters, Shared) {
    return list_of(parameters, [](const ast::ParameterFields& p) {
        return to_python(ast::PTXFunctionParameter{std::string{p.name}, p.type});
    });
}

PyObject* to_python(const ast::StatementRecords& statements, Shared) {
    return list_of(statements, [](const encoding::Byte* record) {
        const encoding::Byte* p = record + 1;
        return to_python(encoding::get_statement(record[0], p));
    });
}

PyObject* to_python(const ast::InstructionRecords& instructions, Shared shared) {
    return list_of(instructions, [shared](const encoding::Byte* record) {
        return new_view(ast::InstructionRef{record}, shared.storage);
    });
}

PyObject* to_python(const ast::FileRef::Functions& functions, Shared shared) {
    return list_of(functions, [shared](ast::FunctionRef function) { return new_view(function, shared.storage); });
}

PyObject* to_python(ast::SignatureRef signature, Shared shared) {
    return new_view(signature, shared.storage);
}

PyObject* to_python(ast::BodyRef body, Shared shared) {
    return new_view(body, shared.storage);
}

namespace {

// A view that owns its instruction's block; it frees the block should it fail.
PyObject* owning_view(ast::PackedInstruction&& instruction) {
    if (instruction.size() == 0) throw peg::InternalError{"an instruction without its record"};
    return new_view(ast::InstructionRef{instruction.release()}, nullptr);
}

}  // namespace

PyObject* to_python(const ast::PackedInstruction& instruction) {
    return owning_view(ast::PackedInstruction{instruction});
}

bool from_python(PyObject* obj, ast::PackedInstruction& out) {
    PyTypeObject* type = class_of<ast::InstructionRef>();
    if (type == nullptr) return false;
    if (!Py_IS_TYPE(obj, type)) {
        raise_cannot_cast(obj, Describe<ast::InstructionRef>::name);
        return false;
    }
    const encoding::Byte* record = value_of<ast::InstructionRef>(obj).record();
    out = ast::PackedInstruction{record, encoding::instruction_size(record)};
    return true;
}

// ---- Parse results

PyObject* new_file_object(ast::ParsedFile&& file) {
    auto* owned = new ast::ParsedFile{std::move(file)};
    PyRef storage = PyRef::steal(PyCapsule_New(owned, kStorageName, &free_storage));
    if (!storage) {
        delete owned;
        return nullptr;
    }
    return new_view(owned->root(), storage.get());
}

PyObject* new_instruction_object(ast::PackedInstruction&& instruction) {
    return owning_view(std::move(instruction));
}

PyObject* new_body_item_object(ast::BodyItem&& item) {
    return to_python(std::move(item));
}

PyTypeObject* file_class() {
    return class_of<ast::FileRef>();
}

// ---- Methods and slots

PyObject* opcode_str(PyObject* self) {
    return guarded([self] { return to_python(ast::mnemonic(value_of<ast::PTXOpcode>(self))); });
}

PyObject* register_str(PyObject* self) {
    return guarded([self] { return to_python(ast::register_text(value_of<ast::PTXRegister>(self))); });
}

PyObject* operand_str(PyObject* self) {
    return guarded([self] { return to_python(ast::operand_text(value_of<ast::PTXOperand>(self))); });
}

PyObject* operand_kind(PyObject* self, PyObject*) {
    return guarded([self] { return new_ascii_str(ast::operand_kind(value_of<ast::PTXOperand>(self))); });
}

PyObject* operand_get_float_imm(PyObject* self, PyObject*) {
    return answer_for<ast::operand::FloatImmediate>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_register(PyObject* self, PyObject*) {
    return guarded([self]() -> PyObject* {
        const ast::PTXOperand& operand = value_of<ast::PTXOperand>(self);
        if (const auto* reg = std::get_if<ast::operand::Register>(&operand))
            return to_python(ast::register_text(reg->_0));
        if (const auto* predicate = std::get_if<ast::operand::Predicate>(&operand))
            return to_python(predicate_text(predicate->_0));
        Py_RETURN_NONE;
    });
}

PyObject* operand_get_label(PyObject* self, PyObject*) {
    return answer_for<ast::operand::Label>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_immediate(PyObject* self, PyObject*) {
    return answer_for<ast::operand::Immediate>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_memory_lbl(PyObject* self, PyObject*) {
    return answer_for<ast::operand::MemoryLbl>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_memory_disp(PyObject* self, PyObject*) {
    return answer_for<ast::operand::MemoryRegDisp>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(to_python(op._0));
        if (!reg) return nullptr;
        PyRef displacement = PyRef::steal(to_python(op._1));
        if (!displacement) return nullptr;
        return PyTuple_Pack(2, reg.get(), displacement.get());
    });
}

PyObject* operand_get_predicate(PyObject* self, PyObject*) {
    return answer_for<ast::operand::Predicate>(self, [](const auto& op) { return to_python(predicate_text(op._0)); });
}

PyObject* operand_get_reg_pred_pair(PyObject* self, PyObject*) {
    return answer_for<ast::operand::RegPredPair>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(to_python(ast::register_text(op._0)));
        if (!reg) return nullptr;
        PyRef predicate = PyRef::steal(to_python(std::to_string(op._1)));
        if (!predicate) return nullptr;
        return PyTuple_Pack(2, reg.get(), predicate.get());
    });
}

PyObject* instruction_is_float(PyObject* self, PyObject*) {
    return guarded([self] { return PyBool_FromLong(ast::is_float(value_of<ast::InstructionRef>(self).modifiers())); });
}

PyObject* instruction_str(PyObject* self) {
    return guarded([self] {
        const ast::InstructionRef instruction = value_of<ast::InstructionRef>(self);
        std::string text;
        text.reserve(128);  // most texts fit: one allocation instead of several as it grows
        ast::append_instruction_text_head(text, instruction.opcode(), instruction.modifiers());
        bool first = true;
        instruction.operands().for_each([&](const encoding::OperandFields& op) {
            if (!first) text += ", ";
            first = false;
            ast::append_operand_tagged(text, encoding::operand_from(op));
        });
        ast::append_instruction_text_tail(text);
        return to_python(text);
    });
}

PyObject* body_item_kind(PyObject* self, PyObject*) {
    return guarded([self] { return new_ascii_str(ast::body_item_kind(value_of<ast::BodyItem>(self))); });
}

PyObject* body_item_as_instruction(PyObject* self, PyObject*) {
    return guarded([self]() -> PyObject* {
        if (const auto* item = std::get_if<ast::body::Instruction>(&value_of<ast::BodyItem>(self)))
            return to_python(item->_0);
        Py_RETURN_NONE;
    });
}

PyObject* file_get_instruction(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* names[] = {"addr"};
        static constexpr Signature signature{"PTXFile.get_instruction", names, 1};
        PyObject* argument = nullptr;
        if (nargs == 1 && kwnames == nullptr)
            argument = args[0];
        else if (!bind_fastcall(signature, args, nargs, kwnames, &argument))
            return nullptr;
        std::uint64_t offset = 0;
        if (!from_python(argument, offset)) {
            prefix_argument_error("addr");
            return nullptr;
        }

        auto* object = reinterpret_cast<Object<ast::FileRef>*>(self);
        FileState& state = object->state;
        // Made once, on the first lookup: many callers never look one up, and a parse need not pay for it.
        if (!state.index) state.index = std::make_unique<ast::InstructionIndex>(object->value);
        const std::optional<std::size_t> number = state.index->number_of(offset);
        if (!number) Py_RETURN_NONE;
        const std::size_t count = state.index->instruction_count();
        ZORVANE_CHECK(*number < count, "the instruction lookup gave a number past the instruction count");

        if (state.instructions.slot(*number, count) == nullptr) {
            PyRef made = PyRef::steal(new_view(state.index->instruction(*number), object->storage));
            if (!made) return nullptr;
            // Making the first object of the class makes the class, which can run a garbage collection and so
            // other Python code, which may have asked for the same instruction meanwhile; the first object made
            // stays the one handed out.
            PyObject*& cached = state.instructions.slot(*number, count);
            if (cached == nullptr) cached = made.release();
        }
        return Py_NewRef(state.instructions.slot(*number, count));
    });
}

PyObject* file_labels_ref(PyObject* self) {
    // Worked out on every read, from the operands: many callers never read them, and a parse need not pay for
    // them, nor keep them.
    PyRef labels = PyRef::steal(PyList_New(0));
    if (!labels) return nullptr;
    bool failed = false;
    ast::for_each_referenced_label(value_of<ast::FileRef>(self), [&](std::string_view name) {
        if (failed) return;
        PyRef text = PyRef::steal(new_str(name));
        failed = !text || PyList_Append(labels.get(), text.get()) < 0;
    });
    if (failed) return nullptr;
    return labels.release();
}

}  // namespace zorvane::module
