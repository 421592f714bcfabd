// Token rules: data types, identifiers, labels and instruction modifiers.
#include <array>
#include <string>
#include <string_view>

#include "parser/char_classes.hpp"
#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using peg::FixedString;
using peg::Match;
using peg::Quoted;

namespace {

constexpr const char* kIdentifierStartClass = "['a'..='z' | 'A'..='Z' | '_' | '$']";
constexpr const char* kIdentifierClass = "['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']";
constexpr const char* kLabelClass = "['a'..='z' | '0'..='9' | '_' | 'A'..='Z']";
constexpr const char* kModifierClass = "['a'..='z' | '0'..='9']";

constexpr bool is_identifier_start(unsigned char c) {
    return peg::is_letter(c) || c == '_' || c == '$';
}
constexpr bool is_identifier_char(unsigned char c) {
    return is_identifier_start(c) || peg::is_digit(c);
}

std::string text_between(const Input& in, Pos begin, Pos end) {
    return std::string{in.text.substr(begin, end - begin)};
}

struct TypeLiteral {
    std::string_view text;
    const char* expected;
    ast::PTXType type;
};

template <FixedString S>
constexpr TypeLiteral type_literal(ast::PTXType type) {
    return {S.view(), Quoted<S>::c_str(), type};
}

// In the order of trial; none begins another, so the order only decides the order of the failure marks.
constexpr std::array kTypes{
    type_literal<".b64">(ast::PTXType::B64),   type_literal<".b32">(ast::PTXType::B32),
    type_literal<".b8">(ast::PTXType::B8),     type_literal<".f8">(ast::PTXType::F8),
    type_literal<".f32">(ast::PTXType::F32),   type_literal<".f64">(ast::PTXType::F64),
    type_literal<".pred">(ast::PTXType::PRED), type_literal<".s32">(ast::PTXType::S32),
    type_literal<".s64">(ast::PTXType::S64),   type_literal<".u32">(ast::PTXType::U32),
    type_literal<".u64">(ast::PTXType::U64),
};

}  // namespace

// type_: ".b64" / ".b32" / ".b8" / ".f8" / ".f32" / ".f64" / ".pred" / ".s32" / ".s64" / ".u32" / ".u64"
Parsed<ast::PTXType> type_(const Input& in, Pos pos, ErrorState& err) {
    for (const TypeLiteral& literal : kTypes) {
        if (in.starts_with(pos, literal.text)) return Match<ast::PTXType>{pos + literal.text.size(), literal.type};
        err.fail_at(pos, literal.expected);
    }
    return std::nullopt;
}

// identifier: ['a'..='z' | 'A'..='Z' | '_' | '$'] ['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']*
Parsed<std::string> identifier(const Input& in, Pos pos, ErrorState& err) {
    if (!is_identifier_start(in.at(pos))) {
        err.fail_at(pos, kIdentifierStartClass);
        return std::nullopt;
    }
    Pos end = peg::run<is_identifier_char>(in, pos + 1, err, kIdentifierClass);
    return Match<std::string>{end, text_between(in, pos, end)};
}

// label_: ['a'..='z' | '0'..='9' | '_' | 'A'..='Z']+
Parsed<std::string> label_(const Input& in, Pos pos, ErrorState& err) {
    Pos end = peg::run<is_label_char>(in, pos, err, kLabelClass);
    if (end == pos) return std::nullopt;
    return Match<std::string>{end, text_between(in, pos, end)};
}

// modifiers: ("." ['a'..='z' | '0'..='9']+)*, as the end of the run only: callers need no value of their own for
// each modifier, and making none saves a string per modifier.
Pos modifiers(const Input& in, Pos pos, ErrorState& err) {
    const std::size_t size = in.size();
    const char* text = in.text.data();
    while (true) {
        if (pos >= size || text[pos] != '.') {
            err.fail_at(pos, Quoted<".">::c_str());
            return pos;
        }
        Pos end = pos + 1;
        while (end < size && kModifierChars[static_cast<unsigned char>(text[end])]) ++end;
        err.fail_at(end, kModifierClass);
        if (end == pos + 1) return pos;
        pos = end;
    }
}

}  // namespace zorvane::parser
