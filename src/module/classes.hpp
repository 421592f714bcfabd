// The tree classes as Python sees them: one short description per class, which the generic protocol turns into a class.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ast/enums.hpp"
#include "ast/file.hpp"
#include "ast/index.hpp"
#include "ast/instructions.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/refs.hpp"
#include "ast/tables.hpp"
#include "module/protocol.hpp"
#include "module/pyref.hpp"

namespace zorvane::module {

// ---- What module.cpp needs: the finished parse results as new objects, and the class the module exports.

PyObject* new_file_object(ast::ParsedFile&& file);
PyObject* new_instruction_object(const ast::PackedInstruction& instruction);
PyObject* new_body_item_object(const ast::BodyItem& item);
PyTypeObject* file_class();

// ---- Methods and slots particular to one class (classes.cpp).

PyObject* opcode_str(PyObject* self);
PyObject* register_str(PyObject* self);
PyObject* operand_str(PyObject* self);
PyObject* operand_kind(PyObject* self, PyObject*);
PyObject* operand_get_float_imm(PyObject* self, PyObject*);
PyObject* operand_get_register(PyObject* self, PyObject*);
PyObject* operand_get_label(PyObject* self, PyObject*);
PyObject* operand_get_immediate(PyObject* self, PyObject*);
PyObject* operand_get_memory_lbl(PyObject* self, PyObject*);
PyObject* operand_get_memory_disp(PyObject* self, PyObject*);
PyObject* operand_get_predicate(PyObject* self, PyObject*);
PyObject* operand_get_reg_pred_pair(PyObject* self, PyObject*);
PyObject* instruction_is_float(PyObject* self, PyObject*);
PyObject* instruction_str(PyObject* self);
PyObject* body_item_kind(PyObject* self, PyObject*);
PyObject* body_item_as_instruction(PyObject* self, PyObject*);
PyObject* file_get_instruction(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* file_labels_ref(PyObject* self);

// The PTXInstruction objects that get_instruction hands out, one slot per instruction of the file, so that every
// later request for one returns the identical object. Slots come in pages made on first use, so that a few
// lookups in a large module cost a few pages; the references are released with the file.
class InstructionCache {
public:
    InstructionCache() noexcept = default;
    InstructionCache(const InstructionCache&) = delete;
    InstructionCache& operator=(const InstructionCache&) = delete;
    ~InstructionCache() {
        for (const auto& page : pages_)
            if (page)
                for (std::size_t i = 0; i < kPage; ++i) Py_XDECREF(page[i]);
    }

    // The object for instruction `number` of `count`, or nullptr when none has been made yet.
    PyObject*& slot(std::size_t number, std::size_t count) {
        if (pages_.empty()) pages_.resize(count / kPage + 1);
        std::unique_ptr<PyObject*[]>& page = pages_[number / kPage];
        if (!page) page = std::make_unique<PyObject*[]>(kPage);
        return page[number % kPage];
    }

private:
    static constexpr std::size_t kPage = 256;
    std::vector<std::unique_ptr<PyObject*[]>> pages_;
};

// What a PTXFile object keeps beside its value: the index of its instructions by offset, made on the first lookup,
// and the instruction objects handed out.
struct FileState {
    std::unique_ptr<ast::InstructionIndex> index;
    InstructionCache instructions;
};

// ---- Enumerations: the seven small ones need no description beyond their name tables.

template <>
struct Describe<ast::PTXOpcode> {
    static constexpr Kind kind = Kind::Enumeration;
    static inline PyType_Slot slots[] = {{Py_tp_str, slot_function(&opcode_str)}};
};

// ---- Sum types: their names, variants and fields are the unions' own descriptions (ast::description_of); only
// their methods and slots are the module's.

template <>
struct Describe<ast::PTXRegister> {
    static constexpr Kind kind = Kind::SumType;
    static inline PyType_Slot slots[] = {{Py_tp_str, slot_function(&register_str)}};
};

template <>
struct Describe<ast::PTXOperand> {
    static constexpr Kind kind = Kind::SumType;
    static inline PyMethodDef methods[] = {
        {"kind", operand_kind, METH_NOARGS, "kind($self)\n--\n\n"},
        {"get_float_imm", operand_get_float_imm, METH_NOARGS, "get_float_imm($self)\n--\n\n"},
        {"get_register", operand_get_register, METH_NOARGS, "get_register($self)\n--\n\n"},
        {"get_label", operand_get_label, METH_NOARGS, "get_label($self)\n--\n\n"},
        {"get_immediate", operand_get_immediate, METH_NOARGS, "get_immediate($self)\n--\n\n"},
        {"get_memory_lbl", operand_get_memory_lbl, METH_NOARGS, "get_memory_lbl($self)\n--\n\n"},
        {"get_memory_disp", operand_get_memory_disp, METH_NOARGS, "get_memory_disp($self)\n--\n\n"},
        {"get_predicate", operand_get_predicate, METH_NOARGS, "get_predicate($self)\n--\n\n"},
        {"get_reg_pred_pair", operand_get_reg_pred_pair, METH_NOARGS, "get_reg_pred_pair($self)\n--\n\n"},
        {nullptr, nullptr, 0, nullptr}};
    static inline PyType_Slot slots[] = {{Py_tp_str, slot_function(&operand_str)}};
};

template <>
struct Describe<ast::PTXStatement> {
    static constexpr Kind kind = Kind::SumType;
};

template <>
struct Describe<ast::BodyItem> {
    static constexpr Kind kind = Kind::SumType;
    static inline PyMethodDef methods[] = {
        {"kind", body_item_kind, METH_NOARGS, "kind($self)\n--\n\n"},
        {"as_instruction", body_item_as_instruction, METH_NOARGS, "as_instruction($self)\n--\n\n"},
        {nullptr, nullptr, 0, nullptr}};
};

// ---- Records held by value: properties in field order. Every field must be listed.

template <>
struct Describe<ast::PTXHeader> {
    using T = ast::PTXHeader;
    static constexpr Kind kind = Kind::Record;
    static constexpr std::string_view name = "PTXHeader";
    static constexpr std::tuple fields{Field<&T::version>{"version"}, Field<&T::target>{"target"},
                                       Field<&T::address_size>{"address_size"}};
};

template <>
struct Describe<ast::PTXFunctionParameter> {
    using T = ast::PTXFunctionParameter;
    static constexpr Kind kind = Kind::Record;
    static constexpr std::string_view name = "PTXFunctionParameter";
    static constexpr std::tuple fields{Field<&T::name>{"name"}, Field<&T::type_>{"type_"}};
};

// ---- Records read from the storage of a parse: properties in field order, each an accessor of the reference.

template <>
struct Describe<ast::InstructionRef> {
    using T = ast::InstructionRef;
    static constexpr Kind kind = Kind::View;
    static constexpr std::string_view name = "PTXInstruction";
    static constexpr std::tuple fields{Field<&T::offset>{"offset"}, Field<&T::opcode>{"opcode"},
                                       Field<&T::modifiers>{"modifiers"}, Field<&T::operands>{"operands"},
                                       Field<&T::is_predicated>{"is_predicated"}};
    static inline PyMethodDef methods[] = {{"is_float", instruction_is_float, METH_NOARGS, "is_float($self)\n--\n\n"},
                                           {nullptr, nullptr, 0, nullptr}};
    static inline PyType_Slot slots[] = {{Py_tp_str, slot_function(&instruction_str)}};
};

template <>
struct Describe<ast::SignatureRef> {
    using T = ast::SignatureRef;
    static constexpr Kind kind = Kind::View;
    static constexpr std::string_view name = "PTXFunctionSignature";
    static constexpr std::tuple fields{Field<&T::parameters>{"parameters"}};
};

template <>
struct Describe<ast::BodyRef> {
    using T = ast::BodyRef;
    static constexpr Kind kind = Kind::View;
    static constexpr std::string_view name = "PTXFunctionBody";
    static constexpr std::tuple fields{Field<&T::statements>{"statements"}, Field<&T::instructions>{"instructions"}};
};

template <>
struct Describe<ast::FunctionRef> {
    using T = ast::FunctionRef;
    static constexpr Kind kind = Kind::View;
    static constexpr std::string_view name = "PTXFunction";
    static constexpr std::tuple fields{
        Field<&T::name>{"name"}, Field<&T::offset>{"offset"},       Field<&T::link_directive>{"link_directive"},
        Field<&T::kind>{"kind"}, Field<&T::signature>{"signature"}, Field<&T::body>{"body"}};
};

template <>
struct Describe<ast::FileRef> {
    using T = ast::FileRef;
    using State = FileState;
    static constexpr Kind kind = Kind::View;
    static constexpr std::string_view name = "PTXFile";
    static constexpr std::tuple fields{
        Field<&T::header>{"header"}, Field<&T::functions>{"functions"}, Computed<&file_labels_ref>{"labels_ref"},
        Field<&ast::custom_registers>{"custom_registers",
                                      "PTX allows some custom registers, we map into some custom registers we have "
                                      "created\nthrough vexmoor"}};
    static inline PyMethodDef methods[] = {{"get_instruction", method_function(&file_get_instruction),
                                            METH_FASTCALL | METH_KEYWORDS, "get_instruction($self, addr)\n--\n\n"},
                                           {nullptr, nullptr, 0, nullptr}};
};

}  // namespace zorvane::module
