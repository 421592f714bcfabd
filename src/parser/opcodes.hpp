// The opcode rule: the 134 instruction mnemonics as one ordered choice of literals.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "parser/grammar.hpp"

namespace zorvane::parser {

struct Mnemonic {
    std::string_view text;
    const char* expected;
    ast::PTXOpcode opcode;
};

namespace opcodes {

using ast::PTXOpcode;

constexpr bool is_lower(unsigned char c) {
    return c >= 'a' && c <= 'z';
}

// The member whose name, with its first letter lowered, is `text`; fails to compile for any other text.
constexpr PTXOpcode opcode_named(std::string_view text) {
    const auto& names = ast::EnumInfo<PTXOpcode>::names;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string_view name = names[i];
        if (name.size() == text.size() && name[0] - 'A' + 'a' == text[0] && name.substr(1) == text.substr(1))
            return static_cast<PTXOpcode>(i);
    }
    throw "not a mnemonic";
}

template <FixedString S>
constexpr Mnemonic mnemonic() {
    return {S.view(), Quoted<S>::c_str(), opcode_named(S.view())};
}

// In the order of trial, which puts every mnemonic before the shorter ones that begin it; the order otherwise only
// decides the order of the failure marks.
// clang-format off
inline constexpr std::array kMnemonics{
    mnemonic<"xor">(), mnemonic<"wmma">(), mnemonic<"wgmma">(), mnemonic<"vsub4">(), mnemonic<"vsub2">(),
    mnemonic<"vsub">(), mnemonic<"vshr">(), mnemonic<"vshl">(), mnemonic<"vset4">(), mnemonic<"vset2">(),
    mnemonic<"vset">(), mnemonic<"vote">(), mnemonic<"vmin4">(), mnemonic<"vmin2">(), mnemonic<"vmin">(),
    mnemonic<"vmax4">(), mnemonic<"vmax2">(), mnemonic<"vmax">(), mnemonic<"vmad">(), mnemonic<"vavrg4">(),
    mnemonic<"vavrg2">(), mnemonic<"vadd4">(), mnemonic<"vadd2">(), mnemonic<"vadd">(), mnemonic<"vabsdiff4">(),
    mnemonic<"vabsdiff2">(), mnemonic<"vabsdiff">(), mnemonic<"txq">(), mnemonic<"trap">(), mnemonic<"testp">(),
    mnemonic<"tensormap">(), mnemonic<"tex">(), mnemonic<"tcgen05">(), mnemonic<"tanh">(), mnemonic<"szext">(),
    mnemonic<"sust">(), mnemonic<"sured">(), mnemonic<"suq">(), mnemonic<"suld">(), mnemonic<"subc">(),
    mnemonic<"stmatrix">(), mnemonic<"stacksave">(), mnemonic<"stackrestore">(), mnemonic<"sqrt">(), mnemonic<"slct">(),
    mnemonic<"sin">(), mnemonic<"shfl">(), mnemonic<"shf">(), mnemonic<"shr">(), mnemonic<"shl">(),
    mnemonic<"setmaxnreg">(), mnemonic<"setp">(), mnemonic<"set">(), mnemonic<"selp">(), mnemonic<"sad">(),
    mnemonic<"st">(), mnemonic<"sub">(), mnemonic<"rsqrt">(), mnemonic<"ret">(), mnemonic<"redux">(),
    mnemonic<"red">(), mnemonic<"rem">(), mnemonic<"rcp">(), mnemonic<"prmt">(), mnemonic<"prefetchu">(),
    mnemonic<"prefetch">(), mnemonic<"popc">(), mnemonic<"pmevent">(), mnemonic<"or">(), mnemonic<"not">(),
    mnemonic<"neg">(), mnemonic<"nanosleep">(), mnemonic<"multimem">(), mnemonic<"mul24">(), mnemonic<"mul">(),
    mnemonic<"movmatrix">(), mnemonic<"mov">(), mnemonic<"mma">(), mnemonic<"min">(), mnemonic<"membar">(),
    mnemonic<"mbarrier">(), mnemonic<"match">(), mnemonic<"mapa">(), mnemonic<"madc">(), mnemonic<"mad24">(),
    mnemonic<"mad">(), mnemonic<"max">(), mnemonic<"lop3">(), mnemonic<"ldu">(), mnemonic<"ldmatrix">(),
    mnemonic<"lg2">(), mnemonic<"ld">(), mnemonic<"istypep">(), mnemonic<"isspacep">(), mnemonic<"griddepcontrol">(),
    mnemonic<"getctarank">(), mnemonic<"fns">(), mnemonic<"fma">(), mnemonic<"fence">(), mnemonic<"ex2">(),
    mnemonic<"exit">(), mnemonic<"elect">(), mnemonic<"dp4a">(), mnemonic<"dp2a">(), mnemonic<"div">(),
    mnemonic<"discard">(), mnemonic<"cvta">(), mnemonic<"cvt">(), mnemonic<"createpolicy">(), mnemonic<"copysign">(),
    mnemonic<"cos">(), mnemonic<"cnot">(), mnemonic<"clz">(), mnemonic<"clusterlaunchcontrol">(), mnemonic<"cp">(),
    mnemonic<"call">(), mnemonic<"brx">(), mnemonic<"brkpt">(), mnemonic<"brev">(), mnemonic<"bra">(),
    mnemonic<"bmsk">(), mnemonic<"bfind">(), mnemonic<"bfi">(), mnemonic<"bfe">(), mnemonic<"barrier">(),
    mnemonic<"bar">(), mnemonic<"atom">(), mnemonic<"alloca">(), mnemonic<"addc">(), mnemonic<"add">(),
    mnemonic<"and">(), mnemonic<"applypriority">(), mnemonic<"activemask">(), mnemonic<"abs">(),
};
// clang-format on

static_assert(kMnemonics.size() == ast::member_count<PTXOpcode>() - 1);

// Every member but Tld4 appears exactly once.
constexpr bool covers_all_but_tld4() {
    std::array<int, ast::member_count<PTXOpcode>()> seen{};
    for (const Mnemonic& m : kMnemonics) ++seen[static_cast<std::size_t>(m.opcode)];
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != (static_cast<PTXOpcode>(i) == PTXOpcode::Tld4 ? 0 : 1)) return false;
    return true;
}
static_assert(covers_all_but_tld4());

// A mnemonic tried after one that it begins could never match.
constexpr bool longer_mnemonics_first() {
    for (std::size_t i = 0; i < kMnemonics.size(); ++i)
        for (std::size_t j = i + 1; j < kMnemonics.size(); ++j)
            if (kMnemonics[j].text.substr(0, kMnemonics[i].text.size()) == kMnemonics[i].text) return false;
    return true;
}
static_assert(longer_mnemonics_first());

// Every mnemonic begins with two lower-case letters, which pick the few mnemonics that can match.
static_assert([] {
    for (const Mnemonic& m : kMnemonics)
        if (m.text.size() < 2 || !is_lower(static_cast<unsigned char>(m.text[0])) ||
            !is_lower(static_cast<unsigned char>(m.text[1])))
            return false;
    return true;
}());

// A word of the modifier class holds every mnemonic that begins it, so the whole word, when it is one, is the first
// in the order of trial: every mnemonic that matches there is a prefix of it, and those are tried after it.
static_assert([] {
    for (const Mnemonic& m : kMnemonics)
        for (char c : m.text)
            if (!kModifierChars.has(static_cast<unsigned char>(c))) return false;
    return true;
}());

// The mnemonics of up to 8 bytes, nearly every one written, keyed by the word itself as one 64-bit number (its
// bytes in text order from the lowest, zeros after it): a word read from the text in one load is found with one
// multiplication and, mostly, one comparison. No mnemonic holds a zero byte, so the key holds its length too.
constexpr std::size_t kShortWordSlots = 512;

constexpr std::size_t short_word_hash(std::uint64_t word) {
    return static_cast<std::size_t>((word * 0x9E3779B97F4A7C15u) >> 55) % kShortWordSlots;
}

struct ShortWord {
    std::uint64_t key = 0;  // 0 for an empty slot
    std::uint8_t index = 0;
};

inline constexpr auto kShortWords = [] {
    std::array<ShortWord, kShortWordSlots> table{};
    for (std::size_t i = 0; i < kMnemonics.size(); ++i) {
        const std::string_view text = kMnemonics[i].text;
        if (text.size() > 8) continue;
        std::uint64_t key = 0;
        for (std::size_t k = 0; k < text.size(); ++k)
            key |= std::uint64_t{static_cast<unsigned char>(text[k])} << (8 * k);
        std::size_t h = short_word_hash(key);
        while (table[h].key != 0) h = (h + 1) % kShortWordSlots;
        table[h] = {key, static_cast<std::uint8_t>(i)};
    }
    return table;
}();

// A miss ends at an empty slot, so the table must keep some.
static_assert(std::count_if(kShortWords.begin(), kShortWords.end(), [](const ShortWord& w) { return w.key == 0; }) >
              static_cast<std::ptrdiff_t>(kShortWordSlots / 2));

// The index of the mnemonic that is exactly the word [begin, end) of up to 8 bytes, or the count of mnemonics.
inline std::size_t mnemonic_of_short_word(const Input& in, Pos begin, Pos end) noexcept {
    const std::size_t size = end - begin;
    if (size < 2 || size > 8 || begin + 8 > in.size()) return kMnemonics.size();
    std::uint64_t word;
    std::memcpy(&word, in.data() + begin, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    word &= size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * size)) - 1;
    for (std::size_t h = short_word_hash(word);; h = (h + 1) % kShortWordSlots) {
        const ShortWord& slot = kShortWords[h];
        if (slot.key == word) return slot.index;
        if (slot.key == 0) return kMnemonics.size();
    }
}

}  // namespace opcodes

// The index of the first mnemonic, in the order of trial, that is at `pos` where the word of mnemonic characters
// [pos, word_end) is none of up to 8 bytes: that word when it is a longer one, or else the first of those that begin
// with the same two letters; the count of mnemonics when none is there.
std::size_t mnemonic_beginning(const Input& in, Pos pos, Pos word_end) noexcept;

// opcode: "xor" / "wmma" / "wgmma" / "vsub4" / "vsub2" / "vsub" / ... / "and" / "applypriority" / "activemask"
//     / "abs", the 134 literals of the table in opcodes.cpp in that order
// Longer mnemonics are tried before the ones they begin, so the first to match is the longest at `pos`: the whole
// word of mnemonic characters when that is one, which one look-up finds.
template <class Mode>
bool Grammar<Mode>::opcode(Pos& pos, ast::PTXOpcode& out) {
    const auto& all = opcodes::kMnemonics;
    const Pos word_end = class_end<kModifierChars>(pos);
    std::size_t index = opcodes::mnemonic_of_short_word(in_, pos, word_end);
    if (index == all.size()) index = mnemonic_beginning(in_, pos, word_end);
    if constexpr (Mode::marks) {
        err_.template fail_all<Mode>(pos, [index](auto&& mark) {
            for (std::size_t k = 0; k < index; ++k) mark(opcodes::kMnemonics[k].expected);
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
