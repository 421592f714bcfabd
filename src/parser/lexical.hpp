// Token rules: data types, identifiers, labels and instruction modifiers.
#pragma once

#include <array>
#include <string_view>

#include "parser/grammar.hpp"

namespace zorvane::parser {

namespace lexical {

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
inline constexpr std::array kTypes{
    type_literal<".b64">(ast::PTXType::B64),   type_literal<".b32">(ast::PTXType::B32),
    type_literal<".b8">(ast::PTXType::B8),     type_literal<".f8">(ast::PTXType::F8),
    type_literal<".f32">(ast::PTXType::F32),   type_literal<".f64">(ast::PTXType::F64),
    type_literal<".pred">(ast::PTXType::PRED), type_literal<".s32">(ast::PTXType::S32),
    type_literal<".s64">(ast::PTXType::S64),   type_literal<".u32">(ast::PTXType::U32),
    type_literal<".u64">(ast::PTXType::U64),
};

}  // namespace lexical

// type_: ".b64" / ".b32" / ".b8" / ".f8" / ".f32" / ".f64" / ".pred" / ".s32" / ".s64" / ".u32" / ".u64"
template <class Mode>
bool Grammar<Mode>::type_(Pos& pos, ast::PTXType& out) {
    using lexical::kTypes;
    std::size_t i = 0;
    while (i < kTypes.size() && !at(pos, kTypes[i].text)) ++i;
    err_.template fail_all<Mode>(pos, [i](auto&& mark) {
        for (std::size_t k = 0; k < i; ++k) mark(kTypes[k].expected);
    });
    if (i == kTypes.size()) return false;
    out = kTypes[i].type;
    pos += kTypes[i].text.size();
    return true;
}

// identifier: ['a'..='z' | 'A'..='Z' | '_' | '$'] ['a'..='z' | 'A'..='Z' | '0'..='9' | '_' | '$']*
template <class Mode>
bool Grammar<Mode>::identifier(Pos& pos, std::string_view& out) {
    if (!kIdentifierStart.has(byte(pos))) {
        fail(pos, kIdentifierStart.expected);
        return false;
    }
    const Pos end = run_end<kIdentifierChars>(pos + 1);
    out = text(pos, end);
    pos = end;
    return true;
}

// label_: ['a'..='z' | '0'..='9' | '_' | 'A'..='Z']+
template <class Mode>
bool Grammar<Mode>::label_(Pos& pos, std::string_view& out) {
    const Pos start = pos;
    if (!run<kLabelChars>(pos)) return false;
    out = text(start, pos);
    return true;
}

// modifier*, where modifier: "." ['a'..='z' | '0'..='9']+
// Only where the run ends matters to the callers: the modifiers are adjacent, so their values joined by "." are the
// text after the first dot.
template <class Mode>
Pos Grammar<Mode>::modifiers(Pos pos) {
    while (true) {
        Pos p = pos;
        if (!literal_opens<".">(p)) return pos;
        if (!run<kModifierChars>(p)) return pos;
        pos = p;
    }
}

}  // namespace zorvane::parser
