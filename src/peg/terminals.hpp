// Terminals: literals with their quoted expected texts, character-class runs, and the whitespace rule.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

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

// Matches the literal exactly at `pos`; on mismatch marks its quoted text there.
template <FixedString S>
inline Parsed<Unit> literal(const Input& in, Pos pos, ErrorState& err) {
    if (in.starts_with(pos, S.view())) return Match<Unit>{pos + S.size(), {}};
    err.fail_at(pos, Quoted<S>::c_str());
    return std::nullopt;
}

// Like `literal`, for callers that only need to know whether and where it matched.
template <FixedString S>
inline bool match_literal(const Input& in, Pos pos, ErrorState& err, Pos& end) {
    if (in.starts_with(pos, S.view())) {
        end = pos + S.size();
        return true;
    }
    err.fail_at(pos, Quoted<S>::c_str());
    return false;
}

// Character classes; all are ASCII, so a byte of a multi-byte character is in none of them.
inline constexpr bool is_digit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline constexpr bool is_lower(unsigned char c) {
    return c >= 'a' && c <= 'z';
}
inline constexpr bool is_upper(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}
inline constexpr bool is_letter(unsigned char c) {
    return is_lower(c) || is_upper(c);
}
inline constexpr bool is_hex(unsigned char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

inline constexpr const char* kDigitClass = "['0'..='9']";

// A run of characters of a class from `pos`: returns where it stops, and marks the class's expected text there,
// on success as on failure. The run is empty when the result equals `pos`.
template <bool (*InClass)(unsigned char)>
inline Pos run(const Input& in, Pos pos, ErrorState& err, const char* expected) {
    ZORVANE_DEBUG_CHECK(pos <= in.size(), "a character run starts past the end of the input");
    Pos end = pos;
    while (end < in.size() && InClass(in.at(end))) ++end;
    err.fail_at(end, expected);
    return end;
}

inline Pos digits(const Input& in, Pos pos, ErrorState& err) {
    return run<is_digit>(in, pos, err, kDigitClass);
}

// Bytes that may start whitespace: 1 for a blank, 2 for the "/" of a comment; most calls stop at their first byte,
// which one table look-up decides.
inline constexpr std::array<unsigned char, 256> kWhitespaceStart = [] {
    std::array<unsigned char, 256> table{};
    table[' '] = table['\t'] = table['\r'] = table['\n'] = 1;
    table['/'] = 2;
    return table;
}();

// The whitespace rule `_`: spaces, tabs, carriage returns, line feeds and line comments; never fails and is
// quiet, so it records nothing.

inline Pos skip_ws(const Input& in, Pos pos) noexcept(!base::kDebugChecks) {
    ZORVANE_DEBUG_CHECK(pos <= in.size(), "whitespace is skipped from past the end of the input");
    const std::size_t size = in.size();
    const char* text = in.text.data();
    while (pos < size) {
        const unsigned char kind = kWhitespaceStart[static_cast<unsigned char>(text[pos])];
        if (kind == 0) break;
        if (kind == 1) {
            ++pos;
        } else if (pos + 1 < size && text[pos + 1] == '/') {
            pos += 2;
            while (pos < size && text[pos] != '\n') ++pos;
            if (pos < size) ++pos;
        } else {
            break;
        }
    }
    return pos;
}

}  // namespace zorvane::peg
