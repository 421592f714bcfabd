// The text forms of registers, operands and instructions, read from their records' fields.
#pragma once

#include <string>
#include <string_view>

#include "ast/records.hpp"
#include "ast/union_records.hpp"

namespace zorvane::ast {

// "%r5", "%rd12", "%TID.X", "%foo"
std::string register_text(const encoding::RegisterFields& reg);
// What `str()` of an operand shows: "%General(5)", "[%Wide(2)+8]", "vector", ...
std::string operand_text(const encoding::OperandFields& op);

// The tagged forms, as an instruction's text lists its operands: the variant's name and, for a variant with fields,
// each field's own tagged form in parentheses: "General(5)", "Special(TID, X)", "Custom(\"foo\")",
// "MemoryRegDisp(Wide(2), 8)", "VectorOperand([General(1), Wide(2)])", "Memory",
// "SharedMemory(SharedMemory, B8, 1024, Label(\"buf\"))".
void append_tagged(std::string& out, const encoding::RegisterFields& reg);
void append_tagged(std::string& out, const encoding::OperandFields& op);
void append_tagged(std::string& out, const encoding::StatementFields& statement);

// A text between double quotes, escaped as the tagged forms show it.
void append_quoted(std::string& out, std::string_view text);

// True when "f32", "f64" or "f8" occurs anywhere in the modifiers.
bool is_float(std::string_view modifiers);
// What `str()` of an instruction shows, from its record (`record` at its opcode byte):
// "PTXInstruction(opcode='Ld', modifiers='global.u32', operands=[Register(General(1)), MemoryRegDisp(Wide(2), 8)])".
std::string instruction_text(const encoding::Byte* record);

}  // namespace zorvane::ast
