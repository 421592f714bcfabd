// The mnemonics of the opcode rule, in its order of trial, and the ways to find the one it takes.
#include "parser/opcodes.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace zorvane::parser {

using ast::PTXOpcode;
using namespace opcodes;

namespace {

constexpr std::size_t kLetterPairs = 26 * 26;

constexpr std::size_t letter_pair(unsigned char first, unsigned char second) {
    return static_cast<std::size_t>(first - 'a') * 26 + static_cast<std::size_t>(second - 'a');
}

// The mnemonics that begin with letter pair p, in the order of trial, are
// kMnemonics[members[begin[p]]] .. kMnemonics[members[begin[p + 1] - 1]]. Only they can match where that pair
// stands, so trying them alone finds the same first match as trying all in order.
struct PairGroups {
    std::array<std::uint8_t, kMnemonics.size()> members{};
    std::array<std::uint8_t, kLetterPairs + 1> begin{};
};

constexpr PairGroups group_by_letter_pair() {
    PairGroups groups{};
    std::size_t n = 0;
    for (std::size_t p = 0; p < kLetterPairs; ++p) {
        groups.begin[p] = static_cast<std::uint8_t>(n);
        for (std::size_t i = 0; i < kMnemonics.size(); ++i) {
            std::string_view text = kMnemonics[i].text;
            if (letter_pair(static_cast<unsigned char>(text[0]), static_cast<unsigned char>(text[1])) == p)
                groups.members[n++] = static_cast<std::uint8_t>(i);
        }
    }
    groups.begin[kLetterPairs] = static_cast<std::uint8_t>(n);
    return groups;
}

constexpr PairGroups kByLetterPair = group_by_letter_pair();

}  // namespace

namespace {

std::size_t first_mnemonic_at(const Input& in, Pos pos) noexcept {
    const unsigned char first = in.at(pos);
    const unsigned char second = in.at(pos + 1);
    if (!is_lower(first) || !is_lower(second)) return kMnemonics.size();
    const std::size_t pair = letter_pair(first, second);
    for (std::size_t k = kByLetterPair.begin[pair]; k < kByLetterPair.begin[pair + 1]; ++k) {
        const std::size_t index = kByLetterPair.members[k];
        if (in.starts_with(pos, kMnemonics[index].text)) return index;
    }
    return kMnemonics.size();
}

// Every mnemonic in an open-addressed table keyed by a hash of its length and four of its bytes, to look up a whole
// word at once.
constexpr std::size_t kLongestMnemonic = [] {
    std::size_t n = 0;
    for (const Mnemonic& m : kMnemonics) n = m.text.size() > n ? m.text.size() : n;
    return n;
}();

constexpr std::size_t kWordSlots = 512;

constexpr std::size_t word_hash(const char* word, std::size_t size) {
    const auto byte = [word](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(word[i])); };
    return (byte(0) + byte(1) * 17 + byte(size - 1) * 17 + byte(size / 2) * 47 + size * 59) % kWordSlots;
}

struct WordTable {
    std::array<std::uint8_t, kWordSlots> slot{};  // index into kMnemonics plus one; 0 for an empty slot
    std::size_t longest_probe = 0;
};

constexpr WordTable build_word_table() {
    WordTable table{};
    for (std::size_t i = 0; i < kMnemonics.size(); ++i) {
        std::size_t h = word_hash(kMnemonics[i].text.data(), kMnemonics[i].text.size());
        std::size_t probe = 1;
        while (table.slot[h] != 0) {
            h = (h + 1) % kWordSlots;
            ++probe;
        }
        table.slot[h] = static_cast<std::uint8_t>(i + 1);
        table.longest_probe = probe > table.longest_probe ? probe : table.longest_probe;
    }
    return table;
}

constexpr WordTable kWords = build_word_table();
static_assert(kWords.longest_probe <= 2, "the mnemonic hash collides too often");

std::size_t mnemonic_of_long_word(std::string_view word) noexcept {
    if (word.size() < 2 || word.size() > kLongestMnemonic) return kMnemonics.size();
    std::size_t h = word_hash(word.data(), word.size());
    while (kWords.slot[h] != 0) {
        const std::size_t index = kWords.slot[h] - 1u;
        const std::string_view text = kMnemonics[index].text;
        // Lengths first and then the bytes, inline: a library comparison costs more than these few bytes.
        bool same = text.size() == word.size();
        for (std::size_t i = 0; same && i < word.size(); ++i) same = text[i] == word[i];
        if (same) return index;
        h = (h + 1) % kWordSlots;
    }
    return kMnemonics.size();
}

}  // namespace

std::size_t mnemonic_beginning(const Input& in, Pos pos, Pos word_end) noexcept {
    const std::string_view word = in.text.substr(pos, word_end - pos);
    const std::size_t index = word.size() > 8 ? mnemonic_of_long_word(word) : kMnemonics.size();
    return index != kMnemonics.size() ? index : first_mnemonic_at(in, pos);
}

}  // namespace zorvane::parser
