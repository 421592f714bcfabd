// Registers and operands: tagged unions, their accessors and text renderings.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "ast/enums.hpp"
#include "ast/text.hpp"

namespace zorvane::ast {

// Variants of PTXRegister, in declaration order; fields are named as Python sees them.
namespace reg {
struct General {
    std::uint64_t _0;
};
struct Wide {
    std::uint64_t _0;
};
struct Float {
    std::uint64_t _0;
};
struct Special {
    PTXSpecialRegister _0;
    PTXDirection _1;
};
struct Custom {
    Text _0;  // the name without its leading "%"
};
}  // namespace reg

using PTXRegister = std::variant<reg::General, reg::Wide, reg::Float, reg::Special, reg::Custom>;

// Variants of PTXOperand, in declaration order. Negative numbers are stored in two's complement.
namespace operand {
struct Immediate {
    std::uint64_t _0;
};
struct FloatImmediate {
    std::uint64_t _0;  // the bit pattern written after "0f"
};
struct Register {
    PTXRegister _0;
};
struct Predicate {
    std::uint64_t _0;
};
struct Memory {};
struct MemoryLbl {
    Text _0;
};
struct MemoryRegDisp {
    PTXRegister _0;
    std::uint64_t _1;
};
struct Label {
    Text _0;
};
struct VectorOperand {
    std::vector<PTXRegister> _0;
};
struct RegPredPair {
    PTXRegister _0;
    std::uint64_t _1;
};
}  // namespace operand

using PTXOperand = std::variant<operand::Immediate, operand::FloatImmediate, operand::Register, operand::Predicate,
                                operand::Memory, operand::MemoryLbl, operand::MemoryRegDisp, operand::Label,
                                operand::VectorOperand, operand::RegPredPair>;

// "%r5", "%rd12", "%TID.X", "%foo"
std::string register_text(const PTXRegister& r);
// "General(5)", "Special(TID, X)", "Custom(\"foo\")"
std::string register_tagged(const PTXRegister& r);
void append_register_tagged(std::string& out, const PTXRegister& r);

// "imm", "reg", "memory_reg_disp", ...
std::string_view operand_kind(const PTXOperand& op) noexcept;
// What `str()` shows: "%General(5)", "[%Wide(2)+8]", "vector", ...
std::string operand_text(const PTXOperand& op);
// The form listed inside an instruction's text: "Register(General(5))", "MemoryRegDisp(Wide(2), 8)", ...
void append_operand_tagged(std::string& out, const PTXOperand& op);

// A text between double quotes, escaped as the tagged forms show it.
void append_quoted(std::string& out, std::string_view text);

}  // namespace zorvane::ast
