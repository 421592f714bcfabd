// The declaration statements of a function body: register declarations, shared and local arrays, pragmas.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "parser/grammar.hpp"
#include "parser/lexical.hpp"

namespace zorvane::parser {

namespace statements {

// Every alternative of `statement` starts with a literal that starts with ".".
inline constexpr peg::ByteSet kFirst = peg::first_of_literal<".">();

}  // namespace statements

// count: digits, read as a 128-bit number as soon as they match, so an overflow ends the call whatever follows
template <class Mode>
bool Grammar<Mode>::count(Pos& pos, ast::u128& out) {
    const Pos start = pos;
    if (!run<kDigits>(pos)) return false;
    out = decimal_u128(in_, start, pos);
    return true;
}

// align: ".align" _ digits; the alignment is not kept
template <class Mode>
bool Grammar<Mode>::align(Pos& pos) {
    Pos p = pos;
    if (!literal<".align">(p)) return false;
    p = ws(p);
    if (!run<kDigits>(p)) return false;
    pos = p;
    return true;
}

// memory_array: Keyword _ align? _ type_ _ label_ _ "[" _ count _ "];"
template <class Mode>
template <FixedString Keyword>
bool Grammar<Mode>::memory_array(Pos& pos, ast::PTXType& type, ast::u128& n, std::string_view& name) {
    Pos p = pos;
    if (!literal<Keyword>(p)) return false;
    p = ws(p);
    align(p);
    p = ws(p);
    if (!type_(p, type)) return false;
    p = ws(p);
    if (!label_(p, name)) return false;
    p = ws(p);
    if (!literal<"[">(p)) return false;
    p = ws(p);
    if (!count(p, n)) return false;
    p = ws(p);
    if (!literal<"];">(p)) return false;
    pos = p;
    return true;
}

// register_range: Family count ">;" _
template <class Mode>
template <FixedString Family>
bool Grammar<Mode>::register_range(Pos& pos, ast::u128& n) {
    Pos p = pos;
    if (!literal<Family>(p)) return false;
    if (!count(p, n)) return false;
    if (!literal<">;">(p)) return false;
    pos = ws(p);
    return true;
}

// declared_custom_register: "%" identifier _ ";" _
template <class Mode>
bool Grammar<Mode>::declared_custom_register(Pos& pos, std::string_view& name) {
    Pos p = pos;
    if (!literal<"%">(p)) return false;
    if (!identifier(p, name)) return false;
    p = ws(p);
    if (!literal<";">(p)) return false;
    pos = ws(p);
    return true;
}

// register_declaration: ".reg" _ type_ _ ("%p<" ... / "%rd<" ... / "%r<" ... / "%f<" ... / declared_custom_register)
// The five register alternatives share their prefix, which is deterministic, so it is read once.
template <class Mode>
bool Grammar<Mode>::register_declaration(Pos& pos) {
    using ast::PTXSpace;
    using ast::statement::RegisterCount;
    Pos p = pos;
    if (!literal<".reg">(p)) return false;
    p = ws(p);
    ast::PTXType type{};
    if (!type_(p, type)) return false;
    p = ws(p);
    // A predicate range keeps PRED whatever type was written; the other families keep the written type.
    ast::u128 n = 0;
    std::string_view name;
    std::optional<ast::PTXStatement> made;
    if (register_range<"%p<">(p, n))
        made.emplace(RegisterCount{PTXSpace::Register, ast::PTXType::PRED, n});
    else if (register_range<"%rd<">(p, n))
        made.emplace(RegisterCount{PTXSpace::Register, type, n});
    else if (register_range<"%r<">(p, n))
        made.emplace(RegisterCount{PTXSpace::Register, type, n});
    else if (register_range<"%f<">(p, n))
        made.emplace(RegisterCount{PTXSpace::FloatRegister, type, n});
    else if (declared_custom_register(p, name))
        made.emplace(ast::statement::CustomRegister{PTXSpace::CustomRegister, type, std::string{name}});
    else
        return false;
    if constexpr (Mode::builds) out().statement(*made);
    pos = p;
    return true;
}

// pragma: ".pragma" _ "\"" [|'0'..='9'| 'a'..='z' | 'A'..='Z']+ "\"" ";" _
template <class Mode>
bool Grammar<Mode>::pragma(Pos& pos) {
    Pos p = pos;
    if (!literal<".pragma">(p)) return false;
    p = ws(p);
    if (!literal<"\"">(p)) return false;
    if (!run<kPragmaChars>(p)) return false;
    if (!literal<"\"">(p)) return false;
    if (!literal<";">(p)) return false;
    if constexpr (Mode::builds) out().statement(ast::statement::Pragma{});
    pos = ws(p);
    return true;
}

// statement: memory_array<".shared"> / register_declaration / pragma / memory_array<".local">
// Arrays end right after their ";", the other declarations after the whitespace that follows it.
template <class Mode>
bool Grammar<Mode>::statement(Pos& pos) {
    using ast::PTXSpace;
    ast::PTXType type{};
    ast::u128 n = 0;
    std::string_view name;
    // The arrays' statements are built in place from a braced alternative (clang before 16 cannot initialise an
    // aggregate from parentheses); moving whole statements from temporaries has made GCC 12 warn falsely, with the
    // sanitizers on, of reading an uninitialised operand.
    auto array_name = [&name] {
        return ast::PTXOperand{std::in_place_type<ast::operand::Label>, ast::operand::Label{ast::Text{name}}};
    };
    if (memory_array<".shared">(pos, type, n, name)) {
        if constexpr (Mode::builds)
            out().statement(
                ast::PTXStatement{std::in_place_type<ast::statement::SharedMemory>,
                                  ast::statement::SharedMemory{PTXSpace::SharedMemory, type, n, array_name()}});
        return true;
    }
    if (register_declaration(pos)) return true;
    if (pragma(pos)) return true;
    if (memory_array<".local">(pos, type, n, name)) {
        if constexpr (Mode::builds)
            out().statement(
                ast::PTXStatement{std::in_place_type<ast::statement::LocalMemory>,
                                  ast::statement::LocalMemory{PTXSpace::LocalMemory, type, n, array_name()}});
        return true;
    }
    return false;
}

}  // namespace zorvane::parser
