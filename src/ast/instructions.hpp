// Instructions, declaration statements and body items.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ast/enums.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/text.hpp"

namespace zorvane::ast {

// Register and array counts may need more than 64 bits.
__extension__ typedef unsigned __int128 u128;

struct PTXInstruction {
    std::uint64_t offset;  // byte offset of the first character of the mnemonic
    PTXOpcode opcode;
    ShortText modifiers;  // without leading dots, joined by "."
    std::vector<PTXOperand> operands;
    std::optional<std::uint64_t> is_predicated;  // the guard's predicate number
};

// True when "f32", "f64" or "f8" occurs anywhere in the modifiers.
bool is_float(std::string_view modifiers);
// "PTXInstruction(opcode='Ld', modifiers='global.u32', operands=[" and, after the operands' tagged forms
// separated by ", " (append_operand_tagged), "])".
void append_instruction_text_head(std::string& out, PTXOpcode opcode, std::string_view modifiers);
void append_instruction_text_tail(std::string& out);
std::string instruction_text(const PTXInstruction& instr);

namespace statement {
struct CustomRegister {
    PTXSpace _0;
    PTXType _1;
    std::string _2;
};
struct RegisterCount {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
};
struct SharedMemory {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
    PTXOperand _3;  // the array name, a Label
};
struct LocalMemory {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
    PTXOperand _3;
};
struct Pragma {};
}  // namespace statement

using PTXStatement = std::variant<statement::CustomRegister, statement::RegisterCount, statement::SharedMemory,
                                  statement::LocalMemory, statement::Pragma>;

namespace body {
struct Statement {
    PTXStatement _0;
};
struct Instruction {
    PTXInstruction _0;
};
struct LabelDef {
    std::string _0;
};
struct Call {
    std::string _0;  // the called function
};
struct Param {};
}  // namespace body

using BodyItem = std::variant<body::Statement, body::Instruction, body::LabelDef, body::Call, body::Param>;

// "statement", "instruction", "label", "call", "param"
const char* body_item_kind(const BodyItem& item);

}  // namespace zorvane::ast
