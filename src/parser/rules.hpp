// The grammar rules, from single tokens up to the whole module. Each starts exactly at the position it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast/file.hpp"
#include "ast/instructions.hpp"
#include "peg/engine.hpp"

namespace zorvane::parser {

using peg::ErrorState;
using peg::Input;
using peg::Parsed;
using peg::Pos;

// lexical.cpp
Parsed<ast::PTXType> type_(const Input& in, Pos pos, ErrorState& err);
Parsed<std::string> identifier(const Input& in, Pos pos, ErrorState& err);
Parsed<std::string> label_(const Input& in, Pos pos, ErrorState& err);
// modifier*: where the run of modifiers ends ("." ['a'..='z' | '0'..='9']+ each); never fails.
Pos modifiers(const Input& in, Pos pos, ErrorState& err);

// opcodes.cpp
Parsed<ast::PTXOpcode> opcode(const Input& in, Pos pos, ErrorState& err);
// The mnemonic that is exactly `word`, if any.
bool opcode_of_word(std::string_view word, ast::PTXOpcode& out);
// The same for the word [begin, end) of the text, read in one load where it is short.
bool opcode_of_word(const Input& in, Pos begin, Pos end, ast::PTXOpcode& out);

// registers.cpp
Parsed<ast::PTXRegister> parse_register(const Input& in, Pos pos, ErrorState& err);

// operands.cpp
Parsed<ast::PTXOperand> operand(const Input& in, Pos pos, ErrorState& err);
// The same rule, writing the value to `out` and its end to `end` on success; for the hot caller.
bool operand_into(const Input& in, Pos pos, ErrorState& err, ast::PTXOperand& out, Pos& end);

// instructions.cpp
Parsed<ast::PTXInstruction> instruction(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::BodyItem> body_item(const Input& in, Pos pos, ErrorState& err);
// The same rules for the hot callers: the instruction is built in `out`, and a body item goes straight into the
// body's lists (labels and calls are dropped there); both give the end in `end` on success. The body's caller
// offers instructions to the fast scanner itself, so body_item_into reads them with the rule.
bool instruction_into(const Input& in, Pos pos, ErrorState& err, ast::PTXInstruction& out, Pos& end);
bool body_item_into(const Input& in, Pos pos, ErrorState& err, ast::PTXFunctionBody& body, Pos& end);
// Whether an instruction that the fast scanner read whole, up to `end`, may stand in for the rule in this pass.
bool scanned_instruction_counts(const ErrorState& err, Pos end);
// instruction_into without its fast scanner: the rule as written, marking every failure.
bool generic_instruction_into(const Input& in, Pos pos, ErrorState& err, ast::PTXInstruction& out, Pos& end);

// fast_instruction.cpp
// The common shapes of an instruction, read without marking any failure: true with the value and end the
// instruction rule would give, or false when unsure, with `out` unspecified. For the first pass only. With
// `store`, the operands go there and the list borrows them; without, the list owns them.
bool fast_instruction_into(const Input& in, Pos pos, ast::PTXInstruction& out, Pos& end,
                           ast::OperandStore* store = nullptr);
// The ";" and "," from `pos` to the next "}" (a body's end, a call block's or a vector's), which bound what the
// lists of a body need room for there: each instruction ends at a ";" of its own, and each operand at a "," or a
// ";". A list asks again only once that room is used up, past the text counted, so the counting stays linear.
struct EndsAhead {
    std::size_t semicolons = 0;
    std::size_t commas = 0;
};
EndsAhead ends_ahead(const Input& in, Pos pos);

// statements.cpp
Parsed<ast::PTXStatement> statement(const Input& in, Pos pos, ErrorState& err);

// program.cpp
Parsed<ast::PTXHeader> header(const Input& in, Pos pos, ErrorState& err);
// A recognised item yields a function, or nothing for the global declarations that are dropped.
Parsed<std::optional<ast::PTXFunction>> top_level_item(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::PTXLinkDirective> link_directive(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::PTXFunctionKind> function_kind(const Input& in, Pos pos, ErrorState& err);
Parsed<std::vector<ast::PTXFunctionParameter>> function_signature(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::PTXFile> program(const Input& in, Pos pos, ErrorState& err);

// Unsigned decimal conversions of a digit run [begin, end); out-of-range values throw peg::NumberOutOfRange
// naming the number and its line and column.
std::uint64_t decimal_u64_any(const Input& in, Pos begin, Pos end);
// Runs of up to 19 digits always fit, and nearly every number is one, so they take an inline loop without checks.
inline std::uint64_t decimal_u64(const Input& in, Pos begin, Pos end) {
    if (end - begin > 19) return decimal_u64_any(in, begin, end);
    const char* text = in.text.data();
    std::uint64_t value = 0;
    for (Pos i = begin; i < end; ++i) value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    return value;
}
std::uint64_t negated_decimal_u64(const Input& in, Pos begin, Pos end);  // magnitude at most 2^63
std::uint64_t hex_u64(const Input& in, Pos begin, Pos end);
ast::u128 decimal_u128(const Input& in, Pos begin, Pos end);

}  // namespace zorvane::parser
