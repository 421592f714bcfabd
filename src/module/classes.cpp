// Methods and slots particular to single classes, the conversions of what a parse's records hold, and the entry
// points that turn parse results into objects.
#include "module/classes.hpp"

#include <functional>
#include <string>

#include "ast/render.hpp"
#include "base/failure.hpp"

namespace zorvane::module {

namespace {

PyObject* new_str(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

std::string predicate_text(std::uint64_t number) {
    return "%p" + std::to_string(number);
}

template <class V>
encoding::FieldsOf<V> fields_of_object(PyObject* self) noexcept {
    const Byte* p = record_of(self);
    return encoding::get_record<V>(p);
}

// Runs an operand accessor that answers one variant; every other variant gives None.
template <encoding::OperandKind Kind, class Answer>
PyObject* answer_for(PyObject* self, Answer answer) {
    return guarded([self, &answer]() -> PyObject* {
        const encoding::OperandFields op = fields_of_object<ast::PTXOperand>(self);
        if (op.kind == Kind) return answer(op);
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
    auto add = [&](const auto& item) {
        if (failed || made == size) return;
        PyObject* object = make(item);
        if (object == nullptr) {
            failed = true;
            return;
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(made++), object);
    };
    if constexpr (requires { items.for_each_record(add); })
        items.for_each_record(add);
    else
        items.for_each(add);
    if (failed) return nullptr;
    // A list with empty slots would crash whoever reads it.
    if (made != size) throw base::InternalError{"a record holds fewer items than its count"};
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
    return list_of(operands, [](Bytes record) { return new_variant_object<ast::PTXOperand>(record); });
}

PyObject* to_python(const ast::SignatureRef::Parameters& parameters, Shared) {
    return list_of(parameters, [](const encoding::ParameterFields& p) {
        return to_python(ast::PTXFunctionParameter{std::string{p.name}, p.type});
    });
}

PyObject* to_python(const ast::StatementRecords& statements, Shared) {
    return list_of(statements, [](const Byte* record) {
        return new_variant_object<ast::PTXStatement>(encoding::record_at<ast::PTXStatement>(record));
    });
}

PyObject* to_python(const ast::InstructionRecords& instructions, Shared shared) {
    return list_of(instructions, [shared](const Byte* record) {
        return new_shared_view(ast::InstructionRef{record}, shared.storage);
    });
}

PyObject* to_python(const ast::FileRef::Functions& functions, Shared shared) {
    return list_of(functions,
                   [shared](ast::FunctionRef function) { return new_shared_view(function, shared.storage); });
}

PyObject* to_python(ast::SignatureRef signature, Shared shared) {
    return new_shared_view(signature, shared.storage);
}

PyObject* to_python(ast::BodyRef body, Shared shared) {
    return new_shared_view(body, shared.storage);
}

PyObject* new_register_object(const encoding::RegisterFields& reg) {
    PyTypeObject* type = variant_class<ast::PTXRegister>(static_cast<std::size_t>(reg.kind));
    if (type == nullptr) return nullptr;
    encoding::Measure measure;
    encoding::put_record<ast::PTXRegister>(measure, reg);
    return new_object<ast::PTXRegister>(type, [&](void* memory) {
        return new (memory) VariantObject{PyObject{}, HeldRecord{measure.size, [&](encoding::Store& store) {
                                                                     encoding::put_record<ast::PTXRegister>(store, reg);
                                                                 }}};
    });
}

// A tree keeps every instruction that get_instruction hands out: one word more would take each into the allocator's
// next size of block.
static_assert(sizeof(Object<ast::InstructionRef>) == 32,
              "an instruction object fits the allocator's block of 32 bytes");

// An instruction parsed alone, or a body line's, reads its record in a bytes object of its own, which it holds as a
// view holds the storage of its parse.
PyObject* new_instruction_object(Bytes record) {
    if (record.empty()) throw base::InternalError{"an instruction without its record"};
    PyRef block = PyRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(record.data()),
                                                         static_cast<Py_ssize_t>(record.size())));
    if (!block) return nullptr;
    const ast::InstructionRef ref{reinterpret_cast<const Byte*>(PyBytes_AS_STRING(block.get()))};
    return new_view(ref, std::move(block));
}

bool instruction_from_python(PyObject* obj, Bytes& out) {
    PyTypeObject* type = class_of<ast::InstructionRef>();
    if (type == nullptr) return false;
    if (!Py_IS_TYPE(obj, type)) {
        raise_cannot_cast(obj, Describe<ast::InstructionRef>::name);
        return false;
    }
    const Byte* record = value_of<ast::InstructionRef>(obj).record();
    out = Bytes{record, encoding::instruction_size(record)};
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
    return new_shared_view(owned->root(), storage.get());
}

PyObject* new_instruction_object(const ast::PackedInstruction& instruction) {
    return new_instruction_object(Bytes{instruction.data(), instruction.size()});
}

PyObject* new_body_item_object(const ast::BodyItem& item) {
    PyTypeObject* type = variant_class<ast::BodyItem>(item.index());
    if (type == nullptr) return nullptr;
    encoding::Measure measure;
    encoding::put_value(measure, item);
    return new_object<ast::BodyItem>(type, [&](void* memory) {
        return new (memory) VariantObject{
            PyObject{}, HeldRecord{measure.size, [&](encoding::Store& store) { encoding::put_value(store, item); }}};
    });
}

PyTypeObject* file_class() {
    return class_of<ast::FileRef>();
}

// ---- Methods and slots

PyObject* opcode_str(PyObject* self) {
    return guarded([self] { return to_python(ast::mnemonic(value_of<ast::PTXOpcode>(self))); });
}

PyObject* register_str(PyObject* self) {
    return guarded([self] { return to_python(ast::register_text(fields_of_object<ast::PTXRegister>(self))); });
}

PyObject* operand_str(PyObject* self) {
    return guarded([self] { return to_python(ast::operand_text(fields_of_object<ast::PTXOperand>(self))); });
}

PyObject* operand_kind(PyObject* self, PyObject*) {
    return kind_text<ast::PTXOperand>(self);
}

PyObject* operand_get_float_imm(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::FloatImmediate>(self, [](const auto& op) { return to_python(op.value); });
}

PyObject* operand_get_register(PyObject* self, PyObject*) {
    return guarded([self]() -> PyObject* {
        const encoding::OperandFields op = fields_of_object<ast::PTXOperand>(self);
        if (op.kind == encoding::OperandKind::Register) return to_python(ast::register_text(op.reg));
        if (op.kind == encoding::OperandKind::Predicate) return to_python(predicate_text(op.value));
        Py_RETURN_NONE;
    });
}

PyObject* operand_get_label(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::Label>(self, [](const auto& op) { return to_python(op.text); });
}

PyObject* operand_get_immediate(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::Immediate>(self, [](const auto& op) { return to_python(op.value); });
}

PyObject* operand_get_memory_lbl(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::MemoryLbl>(self, [](const auto& op) { return to_python(op.text); });
}

PyObject* operand_get_memory_disp(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::MemoryRegDisp>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(new_register_object(op.reg));
        if (!reg) return nullptr;
        PyRef displacement = PyRef::steal(to_python(op.value));
        if (!displacement) return nullptr;
        return PyTuple_Pack(2, reg.get(), displacement.get());
    });
}

PyObject* operand_get_predicate(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::Predicate>(
        self, [](const auto& op) { return to_python(predicate_text(op.value)); });
}

PyObject* operand_get_reg_pred_pair(PyObject* self, PyObject*) {
    return answer_for<encoding::OperandKind::RegPredPair>(self, [](const auto& op) -> PyObject* {
        PyRef reg = PyRef::steal(to_python(ast::register_text(op.reg)));
        if (!reg) return nullptr;
        PyRef predicate = PyRef::steal(to_python(std::to_string(op.value)));
        if (!predicate) return nullptr;
        return PyTuple_Pack(2, reg.get(), predicate.get());
    });
}

PyObject* instruction_is_float(PyObject* self, PyObject*) {
    return guarded([self] { return PyBool_FromLong(ast::is_float(value_of<ast::InstructionRef>(self).modifiers())); });
}

PyObject* instruction_str(PyObject* self) {
    return guarded([self] { return to_python(ast::instruction_text(value_of<ast::InstructionRef>(self).record())); });
}

PyObject* body_item_kind(PyObject* self, PyObject*) {
    return kind_text<ast::BodyItem>(self);
}

PyObject* body_item_as_instruction(PyObject* self, PyObject*) {
    return guarded([self]() -> PyObject* {
        const encoding::BodyItemFields item = fields_of_object<ast::BodyItem>(self);
        if (item.kind == ast::index_of<ast::BodyItem, ast::body::Instruction>)
            return new_instruction_object(item.instruction);
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
            PyRef made = PyRef::steal(new_shared_view(state.index->instruction(*number), object->owner.get()));
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
