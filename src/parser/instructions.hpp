// The instruction rule and the body-item rule: one line of a function body.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "parser/grammar.hpp"
#include "parser/lexical.hpp"
#include "parser/opcodes.hpp"
#include "parser/operands.hpp"
#include "parser/registers.hpp"
#include "parser/statements.hpp"

namespace zorvane::parser {

// instruction: ("@%p" digits)? _ opcode modifier* _ (operand (_ "," _ operand)*)? _ ";" _
// The instruction is written as it is read, its operands one by one, so that one of any length takes no more memory
// than its record.
template <class Mode>
bool Grammar<Mode>::instruction(Pos& pos) {
    // The guard must be the very first thing; without digits it is dropped and the opcode fails on the "@".
    std::optional<std::uint64_t> guard;
    Pos p = pos;
    Pos number = pos;
    std::uint64_t value = 0;
    if (literal_opens<"@%p">(number) && this->number(number, value)) {
        guard = value;
        p = number;
    }
    p = ws(p);

    const Pos offset = p;
    ast::PTXOpcode op{};
    if (!opcode(p, op)) return false;
    const Pos modifiers_start = p;
    p = modifiers(p);
    if constexpr (Mode::builds) {
        // The modifiers are adjacent, so their values joined by "." are the text after the first dot.
        const std::string_view joined = p == modifiers_start ? std::string_view{} : text(modifiers_start + 1, p);
        out().begin_instruction({op, offset, guard, joined, 0});
    }
    p = ws(p);

    const std::size_t count = separated(p, [this](Pos& at) { return operand(at); });
    p = ws(p);
    // An instruction that fails leaves its record unfinished, and the next one is written over it.
    if (!literal<";">(p)) return false;
    if constexpr (Mode::builds) out().end_instruction(count);
    pos = ws(p);
    return true;
}

namespace body_items {

using peg::ByteSet;
using peg::first_of_literal;

// The bytes that can start each alternative of body_item, in its order of trial. The label skips whitespace first,
// and the instruction's guard is optional, with whitespace before its mnemonic.
inline constexpr std::array<ByteSet, 4> kFirsts{
    peg::kWhitespaceStarts | first_of_literal<"$">(),                             // label_definition
    first_of_literal<"{">(),                                                      // call_block
    statements::kFirst,                                                           // body_statement
    first_of_literal<"@%p">() | peg::kWhitespaceStarts | kModifierChars.bytes(),  // body_instruction
};
inline constexpr std::array<std::uint32_t, 256> kCandidates = first_byte_table(kFirsts);

}  // namespace body_items

// body_item: label_definition / call_block / statement / instruction
// Only the label skips whitespace of its own; a declaration must start exactly at `pos`.
template <class Mode>
bool Grammar<Mode>::body_item(Pos& pos, ItemRead& read) {
    return choose<&Grammar::label_definition, &Grammar::call_block, &Grammar::body_statement,
                  &Grammar::body_instruction>(pos, body_items::kCandidates[byte(pos)], read);
}

// label_definition: _ "$" label_ ":"
template <class Mode>
bool Grammar<Mode>::label_definition(Pos& pos, ItemRead& read) {
    Pos p = ws(pos);
    if (!literal<"$">(p)) return false;
    std::string_view name;
    if (!label_(p, name)) return false;
    if (!literal<":">(p)) return false;
    read = {ItemRead::Kind::LabelDef, name};
    pos = p;
    return true;
}

// param_store: parameter_declaration ";" _
//              "st.param" _ modifier* _ "[" identifier _ "+" _ digits "]" "," _ parse_register ";" _
template <class Mode>
bool Grammar<Mode>::param_store(Pos& pos) {
    Pos p = pos;
    ast::PTXType type{};
    std::string_view name;
    if (!parameter_declaration(p, type, name)) return false;
    if (!literal<";">(p)) return false;

    p = ws(p);
    if (!literal<"st.param">(p)) return false;
    p = modifiers(ws(p));
    p = ws(p);
    if (!literal<"[">(p)) return false;
    if (!identifier(p, name)) return false;
    p = ws(p);
    if (!literal<"+">(p)) return false;
    p = ws(p);
    if (!run<kDigits>(p)) return false;
    if (!literal<"]">(p)) return false;
    if (!literal<",">(p)) return false;
    p = ws(p);
    RegisterFields reg{};
    if (!parse_register(p, reg)) return false;
    if (!literal<";">(p)) return false;
    pos = ws(p);
    return true;
}

// call_block: "{" _ ".reg" _ type_ _ "temp_param_reg" ";" _ param_store* _ "call" _ modifier* _ identifier
//             "," _ "(" _ (identifier (_ "," _ identifier)*)? _ ")" _ ";" _ "}"
// The types, the stores and the arguments are read and dropped; the called function's name is the value.
template <class Mode>
bool Grammar<Mode>::call_block(Pos& pos, ItemRead& read) {
    Pos p = pos;
    if (!literal<"{">(p)) return false;
    p = ws(p);
    if (!literal<".reg">(p)) return false;
    p = ws(p);
    ast::PTXType type{};
    if (!type_(p, type)) return false;
    p = ws(p);
    if (!literal<"temp_param_reg">(p)) return false;
    if (!literal<";">(p)) return false;
    p = ws(p);

    while (param_store(p)) {
    }

    p = ws(p);
    if (!literal<"call">(p)) return false;
    p = modifiers(ws(p));
    p = ws(p);
    std::string_view callee;
    if (!identifier(p, callee)) return false;
    if (!literal<",">(p)) return false;
    p = ws(p);
    if (!literal<"(">(p)) return false;
    p = ws(p);
    std::string_view argument;
    separated(p, [&](Pos& at) { return identifier(at, argument); });
    p = ws(p);
    if (!literal<")">(p)) return false;
    p = ws(p);
    if (!literal<";">(p)) return false;
    p = ws(p);
    if (!literal<"}">(p)) return false;
    read = {ItemRead::Kind::Call, callee};
    pos = p;
    return true;
}

template <class Mode>
bool Grammar<Mode>::body_statement(Pos& pos, ItemRead& read) {
    if (!statement(pos)) return false;
    read = {ItemRead::Kind::Statement, {}};
    return true;
}

template <class Mode>
bool Grammar<Mode>::body_instruction(Pos& pos, ItemRead& read) {
    if (!instruction(pos)) return false;
    read = {ItemRead::Kind::Instruction, {}};
    return true;
}

}  // namespace zorvane::parser
