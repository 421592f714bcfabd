// Reading the byte format of parsed trees back into fields and values.
#include "ast/encoding.hpp"

#include "peg/check.hpp"

#include <string>
#include <utility>
#include <vector>

namespace zorvane::ast::encoding {

RegisterFields fields_of(const PTXRegister& reg) noexcept {
    RegisterFields fields{};
    fields.kind = static_cast<RegisterKind>(reg.index());
    switch (fields.kind) {
        case RegisterKind::General:
            fields.number = std::get<reg::General>(reg)._0;
            break;
        case RegisterKind::Wide:
            fields.number = std::get<reg::Wide>(reg)._0;
            break;
        case RegisterKind::Float:
            fields.number = std::get<reg::Float>(reg)._0;
            break;
        case RegisterKind::Special:
            fields.special = std::get<reg::Special>(reg)._0;
            fields.direction = std::get<reg::Special>(reg)._1;
            break;
        case RegisterKind::Custom:
            fields.name = std::get<reg::Custom>(reg)._0.view();
            break;
    }
    return fields;
}

PTXRegister register_from(const RegisterFields& reg) {
    switch (reg.kind) {
        case RegisterKind::General:
            return reg::General{reg.number};
        case RegisterKind::Wide:
            return reg::Wide{reg.number};
        case RegisterKind::Float:
            return reg::Float{reg.number};
        case RegisterKind::Special:
            return reg::Special{reg.special, reg.direction};
        case RegisterKind::Custom:
            break;
    }
    return reg::Custom{Text{reg.name}};
}

RegisterFields get_register_payload(RegisterKind kind, const Byte*& p) noexcept {
    RegisterFields reg{};
    reg.kind = kind;
    switch (kind) {
        case RegisterKind::Special:
            reg.special = static_cast<PTXSpecialRegister>(p[0]);
            reg.direction = static_cast<PTXDirection>(p[1]);
            p += 2;
            break;
        case RegisterKind::Custom:
            reg.name = get_text(p);
            break;
        default:
            reg.number = get_varint(p);
            break;
    }
    return reg;
}

OperandFields get_operand(const Byte*& p) noexcept {
    const Byte tag = *p++;
    OperandFields op{};
    op.kind = static_cast<OperandKind>(tag & 0x0Fu);
    const auto reg_kind = static_cast<RegisterKind>((tag >> 4) & 0x07u);
    const bool negated = (tag & kNegated) != 0;
    switch (op.kind) {
        case OperandKind::Immediate:
        case OperandKind::FloatImmediate:
        case OperandKind::Predicate:
            op.value = get_varint(p);
            if (negated) op.value = 0 - op.value;
            break;
        case OperandKind::Register:
            op.reg = get_register_payload(reg_kind, p);
            break;
        case OperandKind::Memory:
            break;
        case OperandKind::MemoryLbl:
        case OperandKind::Label:
            if (const unsigned length = tag >> 4; length != 0) {
                op.text = std::string_view{reinterpret_cast<const char*>(p), length - 1};
                p += length - 1;
            } else {
                op.text = get_text(p);
            }
            break;
        case OperandKind::MemoryRegDisp:
            op.reg = get_register_payload(reg_kind, p);
            op.value = get_varint(p);
            if (negated) op.value = 0 - op.value;
            break;
        case OperandKind::Vector:
            op.vector_count = static_cast<std::size_t>(get_varint(p));
            op.vector_bytes = p;
            for (std::size_t i = 0; i < op.vector_count; ++i) {
                const auto kind = static_cast<RegisterKind>(*p++);
                get_register_payload(kind, p);
            }
            break;
        case OperandKind::RegPredPair:
            op.reg = get_register_payload(reg_kind, p);
            op.value = get_varint(p);
            break;
    }
    return op;
}

OperandFields fields_of(const PTXOperand& op) noexcept {
    OperandFields fields{};
    fields.kind = static_cast<OperandKind>(op.index());
    std::visit(
        [&fields](const auto& o) {
            using O = std::decay_t<decltype(o)>;
            if constexpr (std::is_same_v<O, operand::Immediate> || std::is_same_v<O, operand::FloatImmediate> ||
                          std::is_same_v<O, operand::Predicate>) {
                fields.value = o._0;
            } else if constexpr (std::is_same_v<O, operand::Register>) {
                fields.reg = fields_of(o._0);
            } else if constexpr (std::is_same_v<O, operand::MemoryLbl> || std::is_same_v<O, operand::Label>) {
                fields.text = o._0.view();
            } else if constexpr (std::is_same_v<O, operand::MemoryRegDisp> || std::is_same_v<O, operand::RegPredPair>) {
                fields.reg = fields_of(o._0);
                fields.value = o._1;
            } else if constexpr (std::is_same_v<O, operand::VectorOperand>) {
                fields.vector_count = o._0.size();
            }
        },
        op);
    return fields;
}

PTXOperand operand_from(const OperandFields& op) {
    using namespace operand;
    switch (op.kind) {
        case OperandKind::Immediate:
            return Immediate{op.value};
        case OperandKind::FloatImmediate:
            return FloatImmediate{op.value};
        case OperandKind::Register:
            return Register{register_from(op.reg)};
        case OperandKind::Predicate:
            return Predicate{op.value};
        case OperandKind::Memory:
            return Memory{};
        case OperandKind::MemoryLbl:
            return MemoryLbl{Text{op.text}};
        case OperandKind::MemoryRegDisp:
            return MemoryRegDisp{register_from(op.reg), op.value};
        case OperandKind::Label:
            return Label{Text{op.text}};
        case OperandKind::Vector: {
            std::vector<PTXRegister> registers;
            registers.reserve(op.vector_count);
            const Byte* p = op.vector_bytes;
            for (std::size_t i = 0; i < op.vector_count; ++i) {
                const auto kind = static_cast<RegisterKind>(*p++);
                registers.push_back(register_from(get_register_payload(kind, p)));
            }
            return VectorOperand{std::move(registers)};
        }
        case OperandKind::RegPredPair:
            break;
    }
    return RegPredPair{register_from(op.reg), op.value};
}

PTXStatement get_statement(Byte tag, const Byte*& p) {
    using namespace statement;
    const std::size_t variant = static_cast<std::size_t>(tag - kStatementTag);
    if (variant == 4) return Pragma{};
    const auto space = static_cast<PTXSpace>(p[0]);
    const auto type = static_cast<PTXType>(p[1]);
    p += 2;
    if (variant == 0) return CustomRegister{space, type, std::string{get_text(p)}};
    const u128 count = get_varint128(p);
    if (variant == 1) return RegisterCount{space, type, count};
    PTXOperand name = operand_from(get_operand(p));
    if (variant == 2) return SharedMemory{space, type, count, std::move(name)};
    return LocalMemory{space, type, count, std::move(name)};
}

InstructionHeader get_instruction_header(const Byte*& p) noexcept {
    InstructionHeader h;
    h.opcode = static_cast<PTXOpcode>(p[0]);
    const Byte flags = p[1];
    p += 2;
    h.offset = get_varint(p);
    if (flags & kHasGuard) h.guard = get_varint(p);
    if (flags & kHasModifiers) h.modifiers = get_text(p);
    h.operand_count = flags >> kCountShift;
    if (h.operand_count == kCountInFlags) h.operand_count = static_cast<std::size_t>(get_varint(p));
    return h;
}

std::size_t instruction_size(const Byte* p) noexcept {
    const Byte* at = p;
    const InstructionHeader h = get_instruction_header(at);
    for (std::size_t i = 0; i < h.operand_count; ++i) get_operand(at);
    return static_cast<std::size_t>(at - p);
}

PTXInstruction get_instruction(const Byte* p) {
    const InstructionHeader h = get_instruction_header(p);
    PTXInstruction instr;
    instr.offset = h.offset;
    instr.opcode = h.opcode;
    instr.modifiers.assign(h.modifiers);
    instr.is_predicated = h.guard;
    instr.operands.reserve(h.operand_count);
    for (std::size_t i = 0; i < h.operand_count; ++i) instr.operands.push_back(operand_from(get_operand(p)));
    return instr;
}

}  // namespace zorvane::ast::encoding
