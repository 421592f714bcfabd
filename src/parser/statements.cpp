// The declaration statements of a function body: register declarations, shared and local arrays, pragmas.
#include <optional>
#include <string>
#include <utility>

#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using peg::digits;
using peg::FixedString;
using peg::Match;
using peg::match_literal;
using peg::skip_ws;

namespace {

constexpr bool is_pragma_char(unsigned char c) {
    return peg::is_digit(c) || peg::is_letter(c);
}
constexpr const char* kPragmaClass = "[|'0'..='9'| 'a'..='z' | 'A'..='Z']";

// count: digits, read as a 128-bit number as soon as they match, so an overflow ends the call whatever follows
Parsed<ast::u128> count(const Input& in, Pos pos, ErrorState& err) {
    Pos end = digits(in, pos, err);
    if (end == pos) return std::nullopt;
    return Match<ast::u128>{end, decimal_u128(in, pos, end)};
}

// align: ".align" _ digits; the alignment is not kept
Parsed<peg::Unit> align(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".align">(in, pos, err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos end = digits(in, p, err);
    if (end == p) return std::nullopt;
    return Match<peg::Unit>{end, {}};
}

struct MemoryArray {
    ast::PTXType type;
    ast::u128 count;
    std::string name;
};

// memory_array: Keyword _ align? _ type_ _ label_ _ "[" _ count _ "];"
template <FixedString Keyword>
Parsed<MemoryArray> memory_array(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<Keyword>(in, pos, err, p)) return std::nullopt;
    p = skip_ws(in, p);
    if (auto aligned = align(in, p, err)) p = aligned->end;
    auto type = type_(in, skip_ws(in, p), err);
    if (!type) return std::nullopt;
    auto name = label_(in, skip_ws(in, type->end), err);
    if (!name) return std::nullopt;
    if (!match_literal<"[">(in, skip_ws(in, name->end), err, p)) return std::nullopt;
    auto n = count(in, skip_ws(in, p), err);
    if (!n) return std::nullopt;
    if (!match_literal<"];">(in, skip_ws(in, n->end), err, p)) return std::nullopt;
    return Match<MemoryArray>{p, MemoryArray{type->value, n->value, std::move(name->value)}};
}

// register_range: Family count ">;" _
template <FixedString Family>
Parsed<ast::u128> register_range(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<Family>(in, pos, err, p)) return std::nullopt;
    auto n = count(in, p, err);
    if (!n) return std::nullopt;
    if (!match_literal<">;">(in, n->end, err, p)) return std::nullopt;
    return Match<ast::u128>{skip_ws(in, p), n->value};
}

// custom_register: "%" identifier _ ";" _
Parsed<std::string> custom_register(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<"%">(in, pos, err, p)) return std::nullopt;
    auto name = identifier(in, p, err);
    if (!name) return std::nullopt;
    if (!match_literal<";">(in, skip_ws(in, name->end), err, p)) return std::nullopt;
    return Match<std::string>{skip_ws(in, p), std::move(name->value)};
}

// register_declaration: ".reg" _ type_ _ ( "%p<" ... / "%rd<" ... / "%r<" ... / "%f<" ... / custom_register )
// The five register alternatives share their prefix, which is deterministic, so it is read once.
Parsed<ast::PTXStatement> register_declaration(const Input& in, Pos pos, ErrorState& err) {
    using ast::PTXSpace;
    using ast::statement::RegisterCount;
    Pos p = pos;
    if (!match_literal<".reg">(in, pos, err, p)) return std::nullopt;
    auto type = type_(in, skip_ws(in, p), err);
    if (!type) return std::nullopt;
    p = skip_ws(in, type->end);
    // A predicate range keeps PRED whatever type was written; the other families keep the written type.
    if (auto n = register_range<"%p<">(in, p, err))
        return Match<ast::PTXStatement>{n->end, RegisterCount{PTXSpace::Register, ast::PTXType::PRED, n->value}};
    if (auto n = register_range<"%rd<">(in, p, err))
        return Match<ast::PTXStatement>{n->end, RegisterCount{PTXSpace::Register, type->value, n->value}};
    if (auto n = register_range<"%r<">(in, p, err))
        return Match<ast::PTXStatement>{n->end, RegisterCount{PTXSpace::Register, type->value, n->value}};
    if (auto n = register_range<"%f<">(in, p, err))
        return Match<ast::PTXStatement>{n->end, RegisterCount{PTXSpace::FloatRegister, type->value, n->value}};
    if (auto name = custom_register(in, p, err))
        return Match<ast::PTXStatement>{
            name->end, ast::statement::CustomRegister{PTXSpace::CustomRegister, type->value, std::move(name->value)}};
    return std::nullopt;
}

// pragma: ".pragma" _ "\"" pragma_word "\"" ";" _
Parsed<peg::Unit> pragma(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".pragma">(in, pos, err, p)) return std::nullopt;
    if (!match_literal<"\"">(in, skip_ws(in, p), err, p)) return std::nullopt;
    Pos word_end = peg::run<is_pragma_char>(in, p, err, kPragmaClass);
    if (word_end == p) return std::nullopt;
    if (!match_literal<"\"">(in, word_end, err, p)) return std::nullopt;
    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    return Match<peg::Unit>{skip_ws(in, p), {}};
}

// The array's name as its Label operand.
ast::PTXOperand array_name(const MemoryArray& a) {
    return ast::PTXOperand{std::in_place_type<ast::operand::Label>, ast::operand::Label{ast::Text{a.name}}};
}

}  // namespace

// statement: memory_array<".shared"> / register_declaration / pragma / memory_array<".local">
// Arrays end right after their ";", the other declarations after the whitespace that follows it.
Parsed<ast::PTXStatement> statement(const Input& in, Pos pos, ErrorState& err) {
    using ast::PTXSpace;
    // The arrays' statements are built in place from a braced alternative (clang before 16 cannot initialise an
    // aggregate from parentheses); moving whole statements from temporaries has made GCC 12 warn falsely, with the
    // sanitizers on, of reading an uninitialised operand.
    if (auto shared = memory_array<".shared">(in, pos, err)) {
        MemoryArray& a = shared->value;
        ast::PTXStatement stmt{std::in_place_type<ast::statement::SharedMemory>,
                               ast::statement::SharedMemory{PTXSpace::SharedMemory, a.type, a.count, array_name(a)}};
        return Match<ast::PTXStatement>{shared->end, std::move(stmt)};
    }
    if (auto reg = register_declaration(in, pos, err)) return reg;
    if (auto pragma_line = pragma(in, pos, err))
        return Match<ast::PTXStatement>{pragma_line->end, ast::statement::Pragma{}};
    if (auto local = memory_array<".local">(in, pos, err)) {
        MemoryArray& a = local->value;
        ast::PTXStatement stmt{std::in_place_type<ast::statement::LocalMemory>,
                               ast::statement::LocalMemory{PTXSpace::LocalMemory, a.type, a.count, array_name(a)}};
        return Match<ast::PTXStatement>{local->end, std::move(stmt)};
    }
    return std::nullopt;
}

}  // namespace zorvane::parser
