// Registers and operands: the two tagged unions an instruction operates on, described once.
#pragma once

#include <cstdint>
#include <vector>

#include "ast/enums.hpp"
#include "ast/text.hpp"
#include "ast/unions.hpp"

namespace zorvane::ast {

// Fields are named as Python sees them. Negative numbers are stored in two's complement.
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

inline constexpr Union kRegisterUnion{"PTXRegister",
                                      Variant<reg::General>{"General"},
                                      Variant<reg::Wide>{"Wide"},
                                      Variant<reg::Float>{"Float"},
                                      Variant<reg::Special>{"Special"},
                                      Variant<reg::Custom>{"Custom"}};
using PTXRegister = decltype(kRegisterUnion)::type;
template <>
constexpr const auto& description_of<PTXRegister>() {
    return kRegisterUnion;
}

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

inline constexpr Union kOperandUnion{"PTXOperand",
                                     Variant<operand::Immediate>{"Immediate", "imm"},
                                     Variant<operand::FloatImmediate>{"FloatImmediate", "float_imm"},
                                     Variant<operand::Register>{"Register", "reg"},
                                     Variant<operand::Predicate>{"Predicate", "predicate"},
                                     Variant<operand::Memory>{"Memory", "memory"},
                                     Variant<operand::MemoryLbl>{"MemoryLbl", "memory_label"},
                                     Variant<operand::MemoryRegDisp>{"MemoryRegDisp", "memory_reg_disp"},
                                     Variant<operand::Label>{"Label", "label"},
                                     Variant<operand::VectorOperand>{"VectorOperand", "vector"},
                                     Variant<operand::RegPredPair>{"RegPredPair", "reg_pred_pair"}};
using PTXOperand = decltype(kOperandUnion)::type;
template <>
constexpr const auto& description_of<PTXOperand>() {
    return kOperandUnion;
}

}  // namespace zorvane::ast
