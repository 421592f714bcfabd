// The operand rule: immediates, registers, predicates, memory addresses, labels and register lists.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ast/in_place.hpp"
#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using ast::PTXOperand;
using ast::PTXRegister;
using peg::literal;
using peg::Match;
using peg::skip_ws;

namespace {

constexpr const char* kHexClass = "['0'..='9' | 'a'..='f' | 'A'..='F']";
constexpr const char* kLetterClass = "['a'..='z'|'A'..='Z']";

// "{" _ (parse_register (_ "," _ parse_register)*)? _ "}"
Parsed<PTXOperand> vector_operand(const Input& in, Pos pos, ErrorState& err) {
    auto open = literal<"{">(in, pos, err);
    if (!open) return std::nullopt;
    std::vector<PTXRegister> registers;
    Pos end = skip_ws(in, open->end);
    if (auto first = parse_register(in, end, err)) {
        registers.push_back(std::move(first->value));
        end = first->end;
        while (true) {
            auto comma = literal<",">(in, skip_ws(in, end), err);
            if (!comma) break;
            auto next = parse_register(in, skip_ws(in, comma->end), err);
            if (!next) break;
            registers.push_back(std::move(next->value));
            end = next->end;
        }
    }
    auto close = literal<"}">(in, skip_ws(in, end), err);
    if (!close) return std::nullopt;
    return Match<PTXOperand>{close->end, ast::operand::VectorOperand{std::move(registers)}};
}

// parse_register "|" "%p" number / parse_register, writing the operand to `out`: registers are the most common
// operands, so this one skips the Match that the other alternatives return.
bool register_or_pair_into(const Input& in, Pos pos, ErrorState& err, PTXOperand& out, Pos& end) {
    // Both alternatives begin with the same register, and reading it again would give the same result and
    // the same failure marks, so it is read once.
    auto reg = parse_register(in, pos, err);
    if (!reg) return false;
    if (auto bar = literal<"|">(in, reg->end, err)) {
        if (auto p = literal<"%p">(in, bar->end, err)) {
            Pos digits_end = peg::digits(in, p->end, err);
            if (digits_end != p->end) {
                std::uint64_t number = decimal_u64(in, p->end, digits_end);
                ast::emplace_alternative<ast::operand::RegPredPair>(out, std::move(reg->value), number);
                end = digits_end;
                return true;
            }
        }
    }
    ast::emplace_alternative<ast::operand::Register>(out, std::move(reg->value));
    end = reg->end;
    return true;
}

Parsed<PTXOperand> register_or_pair(const Input& in, Pos pos, ErrorState& err) {
    Match<PTXOperand> m{pos, PTXOperand{}};
    if (!register_or_pair_into(in, pos, err, m.value, m.end)) return std::nullopt;
    return m;
}

// "%p" number
Parsed<PTXOperand> predicate(const Input& in, Pos pos, ErrorState& err) {
    auto p = literal<"%p">(in, pos, err);
    if (!p) return std::nullopt;
    Pos end = peg::digits(in, p->end, err);
    if (end == p->end) return std::nullopt;
    return Match<PTXOperand>{end, ast::operand::Predicate{decimal_u64(in, p->end, end)}};
}

// The displacement and closing bracket after a memory operand's register, as the end of the bracket and the value:
// "+" _ "-" number _ "]" / "+" _ number _ "]"
Parsed<std::uint64_t> displacement(const Input& in, Pos pos, ErrorState& err) {
    auto plus = literal<"+">(in, pos, err);
    if (!plus) return std::nullopt;
    Pos start = skip_ws(in, plus->end);
    // A number that does not fit ends the call as soon as it is read, whatever follows it.
    if (auto minus = literal<"-">(in, start, err)) {
        Pos end = peg::digits(in, minus->end, err);
        if (end != minus->end) {
            std::uint64_t value = negated_decimal_u64(in, minus->end, end);
            if (auto close = literal<"]">(in, skip_ws(in, end), err)) return Match<std::uint64_t>{close->end, value};
        }
    }
    Pos end = peg::digits(in, start, err);
    if (end == start) return std::nullopt;
    std::uint64_t value = decimal_u64(in, start, end);
    auto close = literal<"]">(in, skip_ws(in, end), err);
    if (!close) return std::nullopt;
    return Match<std::uint64_t>{close->end, value};
}

// "[" _ parse_register _ "+" _ "-" number _ "]" / "[" _ parse_register _ "+" _ number _ "]"
//     / "[" _ parse_register _ "]" / "[" _ label_ _ "]"
Parsed<PTXOperand> memory(const Input& in, Pos pos, ErrorState& err) {
    auto open = literal<"[">(in, pos, err);
    if (!open) return std::nullopt;
    Pos inside = skip_ws(in, open->end);
    // The three register forms share "[" _ parse_register _, which gives the same result every time, so it is
    // read once.
    if (auto reg = parse_register(in, inside, err)) {
        Pos after = skip_ws(in, reg->end);
        if (auto disp = displacement(in, after, err))
            return Match<PTXOperand>{disp->end, ast::operand::MemoryRegDisp{std::move(reg->value), disp->value}};
        if (auto close = literal<"]">(in, after, err))
            return Match<PTXOperand>{close->end, ast::operand::MemoryRegDisp{std::move(reg->value), 0}};
    }
    auto label = label_(in, inside, err);
    if (!label) return std::nullopt;
    auto close = literal<"]">(in, skip_ws(in, label->end), err);
    if (!close) return std::nullopt;
    return Match<PTXOperand>{close->end, ast::operand::MemoryLbl{ast::Text{label->value}}};
}

// "0f" hex
Parsed<PTXOperand> float_immediate(const Input& in, Pos pos, ErrorState& err) {
    auto prefix = literal<"0f">(in, pos, err);
    if (!prefix) return std::nullopt;
    Pos end = peg::run<peg::is_hex>(in, prefix->end, err, kHexClass);
    if (end == prefix->end) return std::nullopt;
    return Match<PTXOperand>{end, ast::operand::FloatImmediate{hex_u64(in, prefix->end, end)}};
}

// "-" number
Parsed<PTXOperand> negative_immediate(const Input& in, Pos pos, ErrorState& err) {
    auto minus = literal<"-">(in, pos, err);
    if (!minus) return std::nullopt;
    Pos end = peg::digits(in, minus->end, err);
    if (end == minus->end) return std::nullopt;
    return Match<PTXOperand>{end, ast::operand::Immediate{negated_decimal_u64(in, minus->end, end)}};
}

// number
Parsed<PTXOperand> immediate(const Input& in, Pos pos, ErrorState& err) {
    Pos end = peg::digits(in, pos, err);
    if (end == pos) return std::nullopt;
    return Match<PTXOperand>{end, ast::operand::Immediate{decimal_u64(in, pos, end)}};
}

// "$str$" number, keeping the whole text as the label
Parsed<PTXOperand> string_label(const Input& in, Pos pos, ErrorState& err) {
    auto prefix = literal<"$str$">(in, pos, err);
    if (!prefix) return std::nullopt;
    Pos end = peg::digits(in, prefix->end, err);
    if (end == prefix->end) return std::nullopt;
    return Match<PTXOperand>{end, ast::operand::Label{ast::Text{in.text.substr(pos, end - pos)}}};
}

// "$"? label_
Parsed<PTXOperand> label(const Input& in, Pos pos, ErrorState& err) {
    Pos start = pos;
    if (auto dollar = literal<"$">(in, pos, err)) start = dollar->end;
    auto name = label_(in, start, err);
    if (!name) return std::nullopt;
    return Match<PTXOperand>{name->end, ast::operand::Label{ast::Text{name->value}}};
}

// "%" ['a'..='z'|'A'..='Z']+
Parsed<PTXOperand> custom_register(const Input& in, Pos pos, ErrorState& err) {
    auto percent = literal<"%">(in, pos, err);
    if (!percent) return std::nullopt;
    Pos end = peg::run<peg::is_letter>(in, percent->end, err, kLetterClass);
    if (end == percent->end) return std::nullopt;
    ast::Text name{in.text.substr(percent->end, end - percent->end)};
    return Match<PTXOperand>{end, ast::operand::Register{ast::reg::Custom{std::move(name)}}};
}

}  // namespace

namespace {

// The alternatives of `operand` in their order of trial, each writing the value to `out` on success.
bool ordered_operand(const Input& in, Pos pos, ErrorState& err, PTXOperand& out, Pos& end) {
    using Rule = Parsed<PTXOperand> (*)(const Input&, Pos, ErrorState&);
    static constexpr Rule alternatives[] = {vector_operand,  register_or_pair,   predicate, memory,
                                            float_immediate, negative_immediate, immediate, string_label,
                                            label,           custom_register};
    for (Rule rule : alternatives) {
        if (auto m = rule(in, pos, err)) {
            out = std::move(m->value);
            end = m->end;
            return true;
        }
    }
    return false;
}

// Tries `rules` in order, as the ordered choice would once the alternatives it skips have failed.
template <auto... Rules>
bool first_of(const Input& in, Pos pos, ErrorState& err, PTXOperand& out, Pos& end) {
    auto attempt = [&](auto rule) {
        auto m = rule(in, pos, err);
        if (!m) return false;
        out = std::move(m->value);
        end = m->end;
        return true;
    };
    return (attempt(Rules) || ...);
}

}  // namespace

// operand: "{" _ registers _ "}" / parse_register "|" "%p" number / parse_register / "%p" number
//     / "[" _ parse_register _ "+" _ "-" number _ "]" / "[" _ parse_register _ "+" _ number _ "]"
//     / "[" _ parse_register _ "]" / "[" _ label_ _ "]" / "0f" hex / "-" number / number / "$str$" number
//     / "$"? label_ / "%" letters
// Hot: the instruction rule calls this for every operand, so it writes the value to `out` instead of returning it
// up through a Match.
bool operand_into(const Input& in, Pos pos, ErrorState& err, PTXOperand& out, Pos& end) {
    // Where the second pass records at `pos`, every alternative must record its own texts there.
    if (err.recording() && pos == err.furthest()) return ordered_operand(in, pos, err, out, end);
    // Otherwise the byte at `pos` picks the alternatives that can get past it: each of the others fails on its
    // first character and marks only `pos`, which the one mark below stands for.
    err.fail_at(pos, peg::Quoted<"{">::c_str());
    const unsigned char c = in.at(pos);
    switch (c) {
        case '{':
            return first_of<vector_operand>(in, pos, err, out, end);
        case '%':
            return register_or_pair_into(in, pos, err, out, end) ||
                   first_of<predicate, custom_register>(in, pos, err, out, end);
        case '[':
            return first_of<memory>(in, pos, err, out, end);
        case '0':
            return first_of<float_immediate, immediate>(in, pos, err, out, end);
        case '-':
            return first_of<negative_immediate>(in, pos, err, out, end);
        case '$':
            return first_of<string_label, label>(in, pos, err, out, end);
        default:
            if (peg::is_digit(c)) return first_of<immediate>(in, pos, err, out, end);
            if (peg::is_letter(c) || c == '_') return first_of<label>(in, pos, err, out, end);
            return false;
    }
}

Parsed<PTXOperand> operand(const Input& in, Pos pos, ErrorState& err) {
    Match<PTXOperand> m{pos, PTXOperand{}};
    if (!operand_into(in, pos, err, m.value, m.end)) return std::nullopt;
    return m;
}

}  // namespace zorvane::parser
