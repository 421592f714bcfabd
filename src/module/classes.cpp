// Methods and slots particular to single classes, and the entry points that turn parse results into objects.
#include "module/classes.hpp"

#include <functional>
#include <string>
#include <variant>

#include "peg/engine.hpp"

namespace zorvane::module {

namespace {

PyObject* new_str(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

std::string predicate_text(std::uint64_t number) {
    return "%p" + std::to_string(number);
}

// Runs an operand accessor that answers one variant; every other variant gives None.
template <class Alternative, class Answer>
PyObject* answer_for(PyObject* self, Answer answer) noexcept {
    return guarded([self, &answer]() -> PyObject* {
        if (const auto* alternative = std::get_if<Alternative>(&value_of<ast::PTXOperand>(self)))
            return answer(*alternative);
        Py_RETURN_NONE;
    });
}

}  // namespace

PyObject* new_file_object(ast::PTXFile&& file) {
    return to_python(std::move(file));
}
PyObject* new_instruction_object(ast::PTXInstruction&& instruction) {
    return to_python(std::move(instruction));
}
PyObject* new_body_item_object(ast::BodyItem&& item) {
    return to_python(std::move(item));
}
PyTypeObject* file_class() {
    return class_of<ast::PTXFile>();
}

PyObject* opcode_str(PyObject* self) noexcept {
    return guarded([self] { return to_python(ast::mnemonic(value_of<ast::PTXOpcode>(self))); });
}

PyObject* register_str(PyObject* self) noexcept {
    return guarded([self] { return to_python(ast::register_text(value_of<ast::PTXRegister>(self))); });
}

PyObject* operand_str(PyObject* self) noexcept {
    return guarded([self] { return to_python(ast::operand_text(value_of<ast::PTXOperand>(self))); });
}

PyObject* operand_kind(PyObject* self, PyObject*) noexcept {
    return guarded([self] { return new_str(ast::operand_kind(value_of<ast::PTXOperand>(self))); });
}

PyObject* operand_get_float_imm(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::FloatImmediate>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_register(PyObject* self, PyObject*) noexcept {
    return guarded([self]() -> PyObject* {
        const ast::PTXOperand& operand = value_of<ast::PTXOperand>(self);
        if (const auto* reg = std::get_if<ast::operand::Register>(&operand))
            return to_python(ast::register_text(reg->_0));
        if (const auto* predicate = std::get_if<ast::operand::Predicate>(&operand))
            return to_python(predicate_text(predicate->_0));
        Py_RETURN_NONE;
    });
}

PyObject* operand_get_label(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::Label>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_immediate(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::Immediate>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_memory_lbl(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::MemoryLbl>(self, [](const auto& op) { return to_python(op._0); });
}

PyObject* operand_get_memory_disp(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::MemoryRegDisp>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(to_python(op._0));
        if (!reg) return nullptr;
        PyRef displacement = PyRef::steal(to_python(op._1));
        if (!displacement) return nullptr;
        return PyTuple_Pack(2, reg.get(), displacement.get());
    });
}

PyObject* operand_get_predicate(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::Predicate>(self, [](const auto& op) { return to_python(predicate_text(op._0)); });
}

PyObject* operand_get_reg_pred_pair(PyObject* self, PyObject*) noexcept {
    return answer_for<ast::operand::RegPredPair>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(to_python(ast::register_text(op._0)));
        if (!reg) return nullptr;
        PyRef predicate = PyRef::steal(to_python(std::to_string(op._1)));
        if (!predicate) return nullptr;
        return PyTuple_Pack(2, reg.get(), predicate.get());
    });
}

PyObject* instruction_is_float(PyObject* self, PyObject*) noexcept {
    return guarded([self] { return PyBool_FromLong(ast::is_float(value_of<ast::PTXInstruction>(self))); });
}

PyObject* instruction_str(PyObject* self) noexcept {
    return guarded([self] { return to_python(ast::instruction_text(value_of<ast::PTXInstruction>(self))); });
}

PyObject* body_item_kind(PyObject* self, PyObject*) noexcept {
    return guarded([self] { return new_str(ast::body_item_kind(value_of<ast::BodyItem>(self))); });
}

PyObject* body_item_as_instruction(PyObject* self, PyObject*) noexcept {
    return guarded([self]() -> PyObject* {
        if (const auto* item = std::get_if<ast::body::Instruction>(&value_of<ast::BodyItem>(self)))
            return to_python(item->_0);
        Py_RETURN_NONE;
    });
}

PyObject* file_get_instruction(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
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

        auto* object = reinterpret_cast<Object<ast::PTXFile>*>(self);
        const ast::PTXFile& file = object->value;
        const std::optional<ast::InstructionAddress> found = file.find_instruction(offset);
        if (!found) Py_RETURN_NONE;
        const std::size_t slot = found->number;
        const std::size_t entries = file.instruction_count;
        ZORVANE_CHECK(slot < entries, "the instruction lookup gave a number past the instruction count");

        if (object->state.instructions.slot(slot, entries) == nullptr) {
            PyObject* made = to_python(file.functions[found->function].body.instructions[found->index]);
            if (made == nullptr) return nullptr;
            // Making the object can run a garbage collection, and so other Python code, which may have asked for
            // the same instruction meanwhile; the first object made stays the one handed out.
            PyObject*& cached = object->state.instructions.slot(slot, entries);
            if (cached == nullptr)
                cached = made;
            else
                Py_DECREF(made);
        }
        return Py_NewRef(object->state.instructions.slot(slot, entries));
    });
}

PyObject* file_labels_ref(PyObject* self) {
    auto* object = reinterpret_cast<Object<ast::PTXFile>*>(self);
    // Worked out once, on the first read: many callers never read them, and a parse need not pay for them.
    if (!object->state.labels) object->state.labels = ast::referenced_labels(object->value.functions);
    return to_python(*object->state.labels);
}

}  // namespace zorvane::module
