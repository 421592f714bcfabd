// The operand rule: immediates, registers, predicates, memory addresses, labels and register lists.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

namespace encoding = ast::encoding;
using encoding::Byte;
using encoding::OperandFields;
using encoding::OperandKind;
using encoding::RegisterFields;
using peg::literal;
using peg::Match;
using peg::skip_ws;

namespace {

constexpr const char* kHexClass = "['0'..='9' | 'a'..='f' | 'A'..='F']";
constexpr const char* kLetterClass = "['a'..='z'|'A'..='Z']";

// An operand's fields; what the rules read of the text stays a view into it.
OperandFields fields(OperandKind kind, std::uint64_t value = 0) {
    OperandFields op{};
    op.kind = kind;
    op.value = value;
    return op;
}
OperandFields fields(OperandKind kind, std::string_view text) {
    OperandFields op = fields(kind);
    op.text = text;
    return op;
}
OperandFields fields(OperandKind kind, const ast::PTXRegister& reg, std::uint64_t value = 0) {
    OperandFields op = fields(kind, value);
    op.reg = encoding::fields_of(reg);
    return op;
}

// "{" _ (parse_register (_ "," _ parse_register)*)? _ "}"
// The registers are appended to `out` as they are read, however many there are, and the operand's tag and their
// count are put in front of them once the list is whole; a list that fails is taken back.
bool vector_operand(const Input& in, Pos pos, ErrorState& err, std::vector<Byte>* out, Pos& end) {
    auto open = literal<"{">(in, pos, err);
    if (!open) return false;
    const std::size_t start = out != nullptr ? out->size() : 0;
    encoding::Append append{out};
    std::uint64_t count = 0;
    auto add = [&](const ast::PTXRegister& reg) {
        const RegisterFields fields = encoding::fields_of(reg);
        append.byte(static_cast<Byte>(fields.kind));
        encoding::put_register_payload(append, fields);
        ++count;
    };
    Pos after = skip_ws(in, open->end);
    if (auto first = parse_register(in, after, err)) {
        add(first->value);
        after = first->end;
        while (true) {
            auto comma = literal<",">(in, skip_ws(in, after), err);
            if (!comma) break;
            auto next = parse_register(in, skip_ws(in, comma->end), err);
            if (!next) break;
            add(next->value);
            after = next->end;
        }
    }
    auto close = literal<"}">(in, skip_ws(in, after), err);
    if (!close) {
        if (out != nullptr) out->resize(start);
        return false;
    }
    if (out != nullptr) {
        std::vector<Byte> head;
        encoding::Append head_append{&head};
        head_append.byte(encoding::operand_tag(OperandKind::Vector));
        encoding::put_varint(head_append, count);
        out->insert(out->begin() + static_cast<std::ptrdiff_t>(start), head.begin(), head.end());
    }
    end = close->end;
    return true;
}

// parse_register "|" "%p" number / parse_register: registers are the most common operands, so this is tried
// first where a "%" stands.
Parsed<OperandFields> register_or_pair(const Input& in, Pos pos, ErrorState& err) {
    // Both alternatives begin with the same register, and reading it again would give the same result and
    // the same failure marks, so it is read once.
    auto reg = parse_register(in, pos, err);
    if (!reg) return std::nullopt;
    if (auto bar = literal<"|">(in, reg->end, err)) {
        if (auto p = literal<"%p">(in, bar->end, err)) {
            Pos digits_end = peg::digits(in, p->end, err);
            if (digits_end != p->end)
                return Match<OperandFields>{
                    digits_end, fields(OperandKind::RegPredPair, reg->value, decimal_u64(in, p->end, digits_end))};
        }
    }
    return Match<OperandFields>{reg->end, fields(OperandKind::Register, reg->value)};
}

// "%p" number
Parsed<OperandFields> predicate(const Input& in, Pos pos, ErrorState& err) {
    auto p = literal<"%p">(in, pos, err);
    if (!p) return std::nullopt;
    Pos end = peg::digits(in, p->end, err);
    if (end == p->end) return std::nullopt;
    return Match<OperandFields>{end, fields(OperandKind::Predicate, decimal_u64(in, p->end, end))};
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
Parsed<OperandFields> memory(const Input& in, Pos pos, ErrorState& err) {
    auto open = literal<"[">(in, pos, err);
    if (!open) return std::nullopt;
    Pos inside = skip_ws(in, open->end);
    // The three register forms share "[" _ parse_register _, which gives the same result every time, so it is
    // read once.
    if (auto reg = parse_register(in, inside, err)) {
        Pos after = skip_ws(in, reg->end);
        if (auto disp = displacement(in, after, err))
            return Match<OperandFields>{disp->end, fields(OperandKind::MemoryRegDisp, reg->value, disp->value)};
        if (auto close = literal<"]">(in, after, err))
            return Match<OperandFields>{close->end, fields(OperandKind::MemoryRegDisp, reg->value, 0)};
    }
    auto label = label_(in, inside, err);
    if (!label) return std::nullopt;
    auto close = literal<"]">(in, skip_ws(in, label->end), err);
    if (!close) return std::nullopt;
    return Match<OperandFields>{close->end,
                                fields(OperandKind::MemoryLbl, in.text.substr(inside, label->end - inside))};
}

// "0f" hex
Parsed<OperandFields> float_immediate(const Input& in, Pos pos, ErrorState& err) {
    auto prefix = literal<"0f">(in, pos, err);
    if (!prefix) return std::nullopt;
    Pos end = peg::run<peg::is_hex>(in, prefix->end, err, kHexClass);
    if (end == prefix->end) return std::nullopt;
    return Match<OperandFields>{end, fields(OperandKind::FloatImmediate, hex_u64(in, prefix->end, end))};
}

// "-" number
Parsed<OperandFields> negative_immediate(const Input& in, Pos pos, ErrorState& err) {
    auto minus = literal<"-">(in, pos, err);
    if (!minus) return std::nullopt;
    Pos end = peg::digits(in, minus->end, err);
    if (end == minus->end) return std::nullopt;
    return Match<OperandFields>{end, fields(OperandKind::Immediate, negated_decimal_u64(in, minus->end, end))};
}

// number
Parsed<OperandFields> immediate(const Input& in, Pos pos, ErrorState& err) {
    Pos end = peg::digits(in, pos, err);
    if (end == pos) return std::nullopt;
    return Match<OperandFields>{end, fields(OperandKind::Immediate, decimal_u64(in, pos, end))};
}

// "$str$" number, keeping the whole text as the label
Parsed<OperandFields> string_label(const Input& in, Pos pos, ErrorState& err) {
    auto prefix = literal<"$str$">(in, pos, err);
    if (!prefix) return std::nullopt;
    Pos end = peg::digits(in, prefix->end, err);
    if (end == prefix->end) return std::nullopt;
    return Match<OperandFields>{end, fields(OperandKind::Label, in.text.substr(pos, end - pos))};
}

// "$"? label_
Parsed<OperandFields> label(const Input& in, Pos pos, ErrorState& err) {
    Pos start = pos;
    if (auto dollar = literal<"$">(in, pos, err)) start = dollar->end;
    auto name = label_(in, start, err);
    if (!name) return std::nullopt;
    return Match<OperandFields>{name->end, fields(OperandKind::Label, in.text.substr(start, name->end - start))};
}

// "%" ['a'..='z'|'A'..='Z']+
Parsed<OperandFields> custom_register(const Input& in, Pos pos, ErrorState& err) {
    auto percent = literal<"%">(in, pos, err);
    if (!percent) return std::nullopt;
    Pos end = peg::run<peg::is_letter>(in, percent->end, err, kLetterClass);
    if (end == percent->end) return std::nullopt;
    OperandFields op = fields(OperandKind::Register);
    op.reg.kind = encoding::RegisterKind::Custom;
    op.reg.name = in.text.substr(percent->end, end - percent->end);
    return Match<OperandFields>{end, op};
}

using Rule = Parsed<OperandFields> (*)(const Input&, Pos, ErrorState&);

// Appends the record of an operand other than a vector.
void put(std::vector<Byte>* out, const OperandFields& op) {
    encoding::Append append{out};
    encoding::put_operand(append, op, [](std::size_t) { return RegisterFields{}; });
}

// Tries `rules` in order, as the ordered choice would once the alternatives it skips have failed.
template <Rule... Rules>
bool first_of(const Input& in, Pos pos, ErrorState& err, std::vector<Byte>* out, Pos& end) {
    auto attempt = [&](Rule rule) {
        auto m = rule(in, pos, err);
        if (!m) return false;
        put(out, m->value);
        end = m->end;
        return true;
    };
    return (attempt(Rules) || ...);
}

// The alternatives of `operand` in their order of trial.
bool ordered_operand(const Input& in, Pos pos, ErrorState& err, std::vector<Byte>* out, Pos& end) {
    if (vector_operand(in, pos, err, out, end)) return true;
    return first_of<register_or_pair, predicate, memory, float_immediate, negative_immediate, immediate, string_label,
                    label, custom_register>(in, pos, err, out, end);
}

}  // namespace

// operand: "{" _ registers _ "}" / parse_register "|" "%p" number / parse_register / "%p" number
//     / "[" _ parse_register _ "+" _ "-" number _ "]" / "[" _ parse_register _ "+" _ number _ "]"
//     / "[" _ parse_register _ "]" / "[" _ label_ _ "]" / "0f" hex / "-" number / number / "$str$" number
//     / "$"? label_ / "%" letters
bool operand_into(const Input& in, Pos pos, ErrorState& err, std::vector<Byte>* out, Pos& end) {
    // Where the second pass records at `pos`, every alternative must record its own texts there.
    if (err.recording() && pos == err.furthest()) return ordered_operand(in, pos, err, out, end);
    // Otherwise the byte at `pos` picks the alternatives that can get past it: each of the others fails on its
    // first character and marks only `pos`, which the one mark below stands for.
    err.fail_at(pos, peg::Quoted<"{">::c_str());
    const unsigned char c = in.at(pos);
    switch (c) {
        case '{':
            return vector_operand(in, pos, err, out, end);
        case '%':
            return first_of<register_or_pair, predicate, custom_register>(in, pos, err, out, end);
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

}  // namespace zorvane::parser
