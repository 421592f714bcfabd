// Terminals: literals with their quoted expected texts, character classes written as their expected texts, sets of
// first bytes, and the whitespace rule.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "peg/engine.hpp"

namespace zorvane::peg {

// A string literal usable as a template argument, so each literal carries its expected text at compile time.
template <std::size_t N>
struct FixedString {
    char chars[N]{};
    constexpr FixedString(const char (&s)[N]) { std::copy_n(s, N, chars); }
    constexpr std::string_view view() const { return {chars, N - 1}; }
    constexpr std::size_t size() const { return N - 1; }
};

// The literal between double quotes, with quote, backslash and line feed escaped as the grammar writes them.
template <FixedString S>
struct Quoted {
    static constexpr std::size_t length = [] {
        std::size_t n = 2;
        for (char c : S.view()) n += (c == '"' || c == '\\' || c == '\n') ? 2 : 1;
        return n;
    }();
    static constexpr std::array<char, length + 1> text = [] {
        std::array<char, length + 1> out{};
        std::size_t i = 0;
        out[i++] = '"';
        for (char c : S.view()) {
            if (c == '"' || c == '\\') {
                out[i++] = '\\';
                out[i++] = c;
            } else if (c == '\n') {
                out[i++] = '\\';
                out[i++] = 'n';
            } else {
                out[i++] = c;
            }
        }
        out[i++] = '"';
        out[i] = '\0';
        return out;
    }();
    static constexpr const char* c_str() { return text.data(); }
};

// A set of bytes, for character classes and for the bytes that can start an alternative.
class ByteSet {
public:
    constexpr ByteSet() = default;
    constexpr bool has(unsigned char c) const { return ((words_[c >> 6] >> (c & 63)) & 1) != 0; }
    constexpr ByteSet& add(unsigned char c) {
        words_[c >> 6] |= std::uint64_t{1} << (c & 63);
        return *this;
    }
    constexpr ByteSet& add_range(unsigned char first, unsigned char last) {
        for (unsigned c = first; c <= last; ++c) add(static_cast<unsigned char>(c));
        return *this;
    }
    friend constexpr ByteSet operator|(ByteSet a, const ByteSet& b) {
        for (std::size_t i = 0; i < 4; ++i) a.words_[i] |= b.words_[i];
        return a;
    }
    constexpr bool empty() const { return (words_[0] | words_[1] | words_[2] | words_[3]) == 0; }
    // The set as a table of 256 flags, which a test reads with one load.
    constexpr std::array<bool, 256> table() const {
        std::array<bool, 256> flags{};
        for (std::size_t c = 0; c < 256; ++c) flags[c] = has(static_cast<unsigned char>(c));
        return flags;
    }

private:
    std::uint64_t words_[4]{};
};

// One byte of a character class as written inside single quotes, with the escapes that the texts use.
constexpr unsigned char quoted_char(std::string_view text, std::size_t& i) {
    // text[i] is the opening quote
    unsigned char c = static_cast<unsigned char>(text[i + 1]);
    std::size_t close = i + 2;
    if (c == '\\') {
        const char escaped = text[i + 2];
        c = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : static_cast<unsigned char>(escaped);
        close = i + 3;
    }
    if (text[close] != '\'') throw "a character class holds a malformed character";
    i = close + 1;
    return c;
}

// An inclusive range of bytes; a single byte is a range of one.
struct ByteRange {
    unsigned char first;
    unsigned char last;
    friend constexpr bool operator==(const ByteRange&, const ByteRange&) = default;
};

// A character class, written once as the text that error messages show, such as
// "['a'..='z' | 'A'..='Z' | '_' | '$']": its members are read from that text, single characters and ranges in single
// quotes, everything between them (brackets, bars, spaces) only separating them. All members are ASCII, so a byte of
// a multi-byte character is in none of them.
struct CharClass {
    static constexpr std::size_t kMostRanges = 8;

    const char* expected;
    std::array<ByteRange, kMostRanges> ranges{};
    std::size_t range_count = 0;
    std::array<bool, 256> member{};

    constexpr explicit CharClass(const char* written) : expected{written} {
        const std::string_view text{written};
        std::size_t i = 0;
        while (i < text.size()) {
            if (text[i] != '\'') {
                ++i;
                continue;
            }
            const unsigned char first = quoted_char(text, i);
            unsigned char last = first;
            if (text.substr(i, 3) == "..=") {
                i += 3;
                last = quoted_char(text, i);
            }
            if (range_count == kMostRanges || last < first || last >= 0x80) throw "a malformed character class";
            ranges[range_count++] = {first, last};
            for (unsigned c = first; c <= last; ++c) member[c] = true;
        }
        if (range_count == 0) throw "a character class without members";
    }
    constexpr bool has(unsigned char c) const { return member[c]; }
    constexpr ByteSet bytes() const {
        ByteSet set;
        for (std::size_t r = 0; r < range_count; ++r) set.add_range(ranges[r].first, ranges[r].last);
        return set;
    }
};

inline constexpr CharClass kDigits{"['0'..='9']"};

// The blanks of the whitespace rule `_`, which also skips line comments. Its characters never show in a message (the
// rule is quiet), so its class text is only written here.
inline constexpr CharClass kBlanks{"[' ' | '\\t' | '\\r' | '\\n']"};
// A "/" starts a line comment when another follows it.
inline constexpr ByteSet kWhitespaceStarts = kBlanks.bytes() | ByteSet{}.add('/');
inline constexpr std::array<bool, 256> kStartsWhitespace = kWhitespaceStarts.table();

// The bytes that can start what a rule matches first: a literal's first byte, a class's members, and for a part that
// may match nothing (an optional literal, whitespace), the bytes of what follows it as well.
template <FixedString S>
constexpr ByteSet first_of_literal() {
    static_assert(S.size() > 0);
    return ByteSet{}.add(static_cast<unsigned char>(S.chars[0]));
}

}  // namespace zorvane::peg
