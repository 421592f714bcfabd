// The grammar rules, from single tokens up to the whole module. Each starts exactly at the position it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ast/file.hpp"
#include "ast/instructions.hpp"
#include "ast/tree.hpp"
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
// The operand rule: on success, appends the operand's record to `out` (nothing is kept without one) and gives its
// end in `end`; a failure appends nothing.
bool operand_into(const Input& in, Pos pos, ErrorState& err, std::vector<ast::encoding::Byte>* out, Pos& end);

// instructions.cpp
// An instruction read alone (without a writer) is a record of its own.
Parsed<ast::PackedInstruction> instruction(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::BodyItem> body_item(const Input& in, Pos pos, ErrorState& err);
// The same rules for the hot callers, giving the end in `end` on success: the instruction's record is built in
// `out` (nothing is kept without one), and a body item goes straight into the body that `writer` is writing
// (labels and calls are dropped there; nothing is written without a writer). The body's caller offers
// instructions to the fast scanner itself, so body_item_into reads them with the rule.
bool instruction_into(const Input& in, Pos pos, ErrorState& err, ast::encoding::InstructionBuilder* out, Pos& end);
bool body_item_into(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer, Pos& end);
// Whether an instruction that the fast scanner read whole, up to `end`, may stand in for the rule in this pass.
bool scanned_instruction_counts(const ErrorState& err, Pos end);
// instruction_into without its fast scanner: the rule as written, marking every failure.
bool generic_instruction_into(const Input& in, Pos pos, ErrorState& err, ast::encoding::InstructionBuilder* out,
                              Pos& end);

// fast_instruction.cpp
// The common shapes of an instruction, read without marking any failure: true with the end that the instruction
// rule would give, or false when unsure. For the first pass, and the second where scanned_instruction_counts
// allows. The first form builds the record the rule would build in `out`, if given (unspecified after false); the
// second writes it into the body that `writer` is writing, if there is a writer.
bool fast_instruction_into(const Input& in, Pos pos, ast::encoding::InstructionBuilder* out, Pos& end);
bool fast_instruction_write(const Input& in, Pos pos, ast::TreeWriter* writer, Pos& end);

// statements.cpp
Parsed<ast::PTXStatement> statement(const Input& in, Pos pos, ErrorState& err);

// program.cpp
Parsed<ast::PTXHeader> header(const Input& in, Pos pos, ErrorState& err);
// A recognised item writes a function into the tree (without a writer, nothing), or nothing for the global
// declarations, which are dropped.
Parsed<peg::Unit> top_level_item(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer);
Parsed<ast::PTXLinkDirective> link_directive(const Input& in, Pos pos, ErrorState& err);
Parsed<ast::PTXFunctionKind> function_kind(const Input& in, Pos pos, ErrorState& err);
// function_signature gives each parameter that it reads to the function that `writer` is writing, if any.
Parsed<peg::Unit> function_signature(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer);
// The tree is built in the first pass only; the second, which only looks for the error, gives an empty value.
Parsed<std::optional<ast::ParsedFile>> program(const Input& in, Pos pos, ErrorState& err);

// Unsigned decimal conversions of a digit run [begin, end); out-of-range values throw base::NumberOutOfRange
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
