// Character classes and register families of the token rules, shared by the marking rules and the first-pass
// instruction scanner.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "ast/union_records.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

constexpr bool is_label_char(unsigned char c) {
    return peg::is_letter(c) || peg::is_digit(c) || c == '_';
}

// ['a'..='z' | '0'..='9'] as a table: every instruction's mnemonic and modifiers go through it.
inline constexpr std::array<bool, 256> kModifierChars = [] {
    std::array<bool, 256> table{};
    for (std::size_t c = 0; c < table.size(); ++c)
        table[c] = peg::is_lower(static_cast<unsigned char>(c)) || peg::is_digit(static_cast<unsigned char>(c));
    return table;
}();

constexpr bool is_modifier_char(unsigned char c) {
    return kModifierChars[c];
}

// The registers written as a prefix and a number, in the order the register rule tries them, and the variant each
// gives: the rule's table of written forms and the scanner's reader of numbered registers must both follow it,
// which each checks when it is compiled.
struct NumberedFamily {
    std::string_view prefix;
    ast::encoding::RegisterKind kind;
};
inline constexpr std::array<NumberedFamily, 3> kNumberedFamilies{{{"%rd", ast::encoding::RegisterKind::Wide},
                                                                  {"%r", ast::encoding::RegisterKind::General},
                                                                  {"%f", ast::encoding::RegisterKind::Float}}};

}  // namespace zorvane::parser
