// The operand rule: immediates, registers, predicates, memory addresses, labels and register lists.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "parser/grammar.hpp"
#include "parser/lexical.hpp"
#include "parser/registers.hpp"

namespace zorvane::parser {

namespace operands {

using ast::encoding::OperandFields;
using ast::encoding::OperandKind;
using peg::ByteSet;
using peg::first_of_literal;

// The bytes that can start each alternative of the rule, in its order of trial.
inline constexpr std::array<ByteSet, 10> kFirsts{
    first_of_literal<"{">(),                        // vector_operand
    registers::kFirst,                              // register_or_pair
    first_of_literal<"%p">(),                       // predicate
    first_of_literal<"[">(),                        // memory
    first_of_literal<"0f">(),                       // float_immediate
    first_of_literal<"-">(),                        // negative_immediate
    kDigits.bytes(),                                // immediate
    first_of_literal<"$str$">(),                    // string_label
    first_of_literal<"$">() | kLabelChars.bytes(),  // label: its "$" is optional
    first_of_literal<"%">(),                        // custom_register
};
inline constexpr std::array<std::uint32_t, 256> kCandidates = first_byte_table(kFirsts);

// An operand's fields; only those of its kind are set, and only those are read.
inline OperandFields fields(OperandKind kind, std::uint64_t value = 0) {
    OperandFields op;
    op.kind = kind;
    op.value = value;
    return op;
}

}  // namespace operands

// operand: "{" _ registers _ "}" / parse_register "|" "%p" number / parse_register / "%p" number
//     / "[" _ parse_register _ "+" _ "-" number _ "]" / "[" _ parse_register _ "+" _ number _ "]"
//     / "[" _ parse_register _ "]" / "[" _ label_ _ "]" / "0f" hex / "-" number / number / "$str$" number
//     / "$"? label_ / "%" letters
template <class Mode>
bool Grammar<Mode>::operand(Pos& pos) {
    return choose<&Grammar::vector_operand, &Grammar::register_or_pair, &Grammar::predicate, &Grammar::memory,
                  &Grammar::float_immediate, &Grammar::negative_immediate, &Grammar::immediate, &Grammar::string_label,
                  &Grammar::label, &Grammar::custom_register>(pos, operands::kCandidates[byte(pos)]);
}

// "{" _ (parse_register (_ "," _ parse_register)*)? _ "}"
// The registers are written as they are read, however many there are; a list that fails is taken back.
template <class Mode>
bool Grammar<Mode>::vector_operand(Pos& pos) {
    Pos p = pos;
    if (!literal<"{">(p)) return false;
    std::size_t start = 0;
    if constexpr (Mode::builds) start = out().begin_vector();
    p = ws(p);
    const std::size_t count = separated(p, [this](Pos& at) {
        RegisterFields reg{};
        if (!parse_register(at, reg)) return false;
        if constexpr (Mode::builds) out().vector_register(reg);
        return true;
    });
    p = ws(p);
    if (!literal<"}">(p)) {
        if constexpr (Mode::builds) out().take_back(start);
        return false;
    }
    if constexpr (Mode::builds) out().end_vector(start, count);
    pos = p;
    return true;
}

// parse_register "|" "%p" number / parse_register
// Both alternatives begin with the same register, and reading it again would give the same result and the same
// failure marks, so it is read once.
template <class Mode>
bool Grammar<Mode>::register_or_pair(Pos& pos) {
    Pos p = pos;
    operands::OperandFields op = operands::fields(operands::OperandKind::Register);
    if (!parse_register(p, op.reg)) return false;
    Pos pair = p;
    if (literal_opens<"|">(pair) && literal<"%p">(pair) && number(pair, op.value)) {
        op.kind = operands::OperandKind::RegPredPair;
        p = pair;
    }
    if constexpr (Mode::builds) out().operand(op);
    pos = p;
    return true;
}

// "%p" number
template <class Mode>
bool Grammar<Mode>::predicate(Pos& pos) {
    Pos p = pos;
    std::uint64_t value = 0;
    if (!literal<"%p">(p) || !number(p, value)) return false;
    if constexpr (Mode::builds) out().operand(operands::fields(operands::OperandKind::Predicate, value));
    pos = p;
    return true;
}

// "[" _ parse_register _ "+" _ "-" number _ "]" / "[" _ parse_register _ "+" _ number _ "]"
//     / "[" _ parse_register _ "]" / "[" _ label_ _ "]"
// The three register forms share "[" _ parse_register _, which gives the same result every time, so it is read once.
template <class Mode>
bool Grammar<Mode>::memory(Pos& pos) {
    Pos p = pos;
    if (!literal<"[">(p)) return false;
    const Pos inside = ws(p);
    operands::OperandFields op = operands::fields(operands::OperandKind::MemoryRegDisp);
    p = inside;
    if (parse_register(p, op.reg)) {
        const Pos after = ws(p);
        Pos q = after;
        if (literal<"+">(q)) {
            const Pos start = ws(q);
            // "-" number _ "]": a number that does not fit ends the call as soon as it is read, whatever follows.
            Pos r = start;
            if (literal<"-">(r)) {
                const Pos digits = r;
                if (run<kDigits>(r)) {
                    op.value = negated_decimal_u64(in_, digits, r);
                    r = ws(r);
                    if (literal<"]">(r)) {
                        if constexpr (Mode::builds) out().operand(op);
                        pos = r;
                        return true;
                    }
                }
            }
            // number _ "]"
            r = start;
            if (number(r, op.value)) {
                r = ws(r);
                if (literal<"]">(r)) {
                    if constexpr (Mode::builds) out().operand(op);
                    pos = r;
                    return true;
                }
            }
        }
        // "]"
        q = after;
        if (literal<"]">(q)) {
            op.value = 0;
            if constexpr (Mode::builds) out().operand(op);
            pos = q;
            return true;
        }
    }
    p = inside;
    std::string_view name;
    if (!label_(p, name)) return false;
    p = ws(p);
    if (!literal<"]">(p)) return false;
    op = operands::fields(operands::OperandKind::MemoryLbl);
    op.text = name;
    if constexpr (Mode::builds) out().operand(op);
    pos = p;
    return true;
}

// "0f" hex
template <class Mode>
bool Grammar<Mode>::float_immediate(Pos& pos) {
    Pos p = pos;
    if (!literal<"0f">(p)) return false;
    const Pos digits = p;
    if (!run<kHexDigits>(p)) return false;
    if constexpr (Mode::builds)
        out().operand(operands::fields(operands::OperandKind::FloatImmediate, hex_u64(in_, digits, p)));
    pos = p;
    return true;
}

// "-" number
template <class Mode>
bool Grammar<Mode>::negative_immediate(Pos& pos) {
    Pos p = pos;
    if (!literal<"-">(p)) return false;
    const Pos digits = p;
    if (!run<kDigits>(p)) return false;
    if constexpr (Mode::builds)
        out().operand(operands::fields(operands::OperandKind::Immediate, negated_decimal_u64(in_, digits, p)));
    pos = p;
    return true;
}

// number
template <class Mode>
bool Grammar<Mode>::immediate(Pos& pos) {
    Pos p = pos;
    std::uint64_t value = 0;
    if (!number(p, value)) return false;
    if constexpr (Mode::builds) out().operand(operands::fields(operands::OperandKind::Immediate, value));
    pos = p;
    return true;
}

// "$str$" number, keeping the whole text as the label
template <class Mode>
bool Grammar<Mode>::string_label(Pos& pos) {
    Pos p = pos;
    if (!literal<"$str$">(p)) return false;
    if (!run<kDigits>(p)) return false;
    operands::OperandFields op = operands::fields(operands::OperandKind::Label);
    op.text = text(pos, p);
    if constexpr (Mode::builds) out().operand(op);
    pos = p;
    return true;
}

// "$"? label_
template <class Mode>
bool Grammar<Mode>::label(Pos& pos) {
    Pos p = pos;
    literal_opens<"$">(p);
    std::string_view name;
    if (!label_(p, name)) return false;
    operands::OperandFields op = operands::fields(operands::OperandKind::Label);
    op.text = name;
    if constexpr (Mode::builds) out().operand(op);
    pos = p;
    return true;
}

// "%" ['a'..='z'|'A'..='Z']+
template <class Mode>
bool Grammar<Mode>::custom_register(Pos& pos) {
    Pos p = pos;
    if (!literal<"%">(p)) return false;
    const Pos name = p;
    if (!run<kLetters>(p)) return false;
    operands::OperandFields op = operands::fields(operands::OperandKind::Register);
    op.reg.kind = ast::encoding::RegisterKind::Custom;
    op.reg.name = text(name, p);
    if constexpr (Mode::builds) out().operand(op);
    pos = p;
    return true;
}

}  // namespace zorvane::parser
