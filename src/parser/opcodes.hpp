// The opcode rule: the 134 instruction mnemonics as one ordered choice of literals.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "parser/grammar.hpp"

namespace zorvane::parser {

struct Mnemonic {
    std::string_view text;
    const char* expected;
    ast::PTXOpcode opcode;
};

// The mnemonics in the rule's order of trial (opcodes.cpp).
std::span<const Mnemonic> mnemonics() noexcept;
// The index of the first mnemonic, in the order of trial, that is at `pos`, or the count of mnemonics: the word of
// mnemonic characters [pos, word_end) when that is one, which one look-up finds, and otherwise the first of those
// that begin with the same two letters.
std::size_t mnemonic_at(const Input& in, Pos pos, Pos word_end) noexcept;

// opcode: "xor" / "wmma" / "wgmma" / "vsub4" / "vsub2" / "vsub" / ... / "and" / "applypriority" / "activemask"
//     / "abs", the 134 literals of the table in opcodes.cpp in that order
// Longer mnemonics are tried before the ones they begin, so the first to match is the longest at `pos`: the whole
// word of mnemonic characters when that is one, which one look-up finds.
template <class Mode>
bool Grammar<Mode>::opcode(Pos& pos, ast::PTXOpcode& out) {
    const std::span<const Mnemonic> all = mnemonics();
    const std::size_t index = mnemonic_at(in_, pos, class_end(kModifierChars, pos));
    if constexpr (Mode::marks) {
        err_.template fail_all<Mode>(pos, [&all, index](auto&& mark) {
            for (std::size_t k = 0; k < index; ++k) mark(all[k].expected);
        });
    }
    if (index == all.size()) {
        if constexpr (!Mode::marks) fail(pos, nullptr);
        return false;
    }
    const Mnemonic& m = all[index];
    out = m.opcode;
    pos += m.text.size();
    return true;
}

}  // namespace zorvane::parser
