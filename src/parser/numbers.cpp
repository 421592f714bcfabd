// Conversions of matched digit runs into numbers, with the internal failure for numbers that do not fit.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "parser/grammar.hpp"

namespace zorvane::parser {

namespace {

// A run of a million digits must not become a million-character message.
constexpr std::size_t kShownDigits = 40;

// "number 18446744073709551616 at 1:3 does not fit in 64 bits", with `prefix` written before the digits
// (a minus sign or "0f" that the caller matched) and the location taken from where that prefix starts.
[[noreturn]] void out_of_range(const Input& in, Pos begin, Pos end, std::string_view prefix, std::string_view limit) {
    std::string_view digits = in.text.substr(begin, end - begin);
    std::string message = "number ";
    message += prefix;
    if (digits.size() > kShownDigits) {
        message += digits.substr(0, kShownDigits);
        message += "... (";
        message += std::to_string(digits.size());
        message += " digits)";
    } else {
        message += digits;
    }
    peg::Location where = peg::locate(in, begin - prefix.size());
    message += " at " + std::to_string(where.line) + ":" + std::to_string(where.column) + " ";
    message += limit;
    throw base::NumberOutOfRange{message};
}

// The prefix that the callers match right before the digits, when it is there, so the message shows the number
// as written.
std::string_view written_prefix(const Input& in, Pos begin, std::string_view prefix) {
    if (begin >= prefix.size() && in.text.substr(begin - prefix.size(), prefix.size()) == prefix) return prefix;
    return {};
}

// The number of digits that always fit below `max`, whatever they are.
template <class U>
constexpr std::size_t always_fitting_digits(U max) {
    std::size_t n = 0;
    for (U v = max; v >= 10; v /= 10) ++n;
    return n;
}

// The decimal value of the digits, or false once it passes `max`. Only digits beyond those that always fit pay for
// the overflow test, and the first overflow stops the loop, so the cost never exceeds one pass over the run.
template <class U, U max>
bool accumulate_decimal(const Input& in, Pos begin, Pos end, U& value) {
    constexpr std::size_t safe = always_fitting_digits(max);
    const Pos safe_end = end - begin <= safe ? end : begin + safe;
    // The run lies inside the text, so its bytes are read without the bounds check of Input::at.
    const char* text = in.text.data();
    value = 0;
    Pos i = begin;
    for (; i < safe_end; ++i) value = value * 10 + static_cast<U>(static_cast<unsigned char>(text[i]) - '0');
    for (; i < end; ++i) {
        U digit = static_cast<U>(static_cast<unsigned char>(text[i]) - '0');
        if (value > (max - digit) / 10) return false;
        value = value * 10 + digit;
    }
    return true;
}

}  // namespace

std::uint64_t decimal_u64_any(const Input& in, Pos begin, Pos end) {
    std::uint64_t value;
    if (!accumulate_decimal<std::uint64_t, std::numeric_limits<std::uint64_t>::max()>(in, begin, end, value))
        out_of_range(in, begin, end, {}, "does not fit in 64 bits");
    return value;
}

// Negative numbers are stored in two's complement, so their magnitude is bounded by the signed range; its minimum,
// -9223372036854775808, is included because compilers write the 64-bit minimum exactly so.
std::uint64_t negated_decimal_u64(const Input& in, Pos begin, Pos end) {
    constexpr auto max_magnitude = std::uint64_t{1} << 63;
    std::uint64_t magnitude;
    if (!accumulate_decimal<std::uint64_t, max_magnitude>(in, begin, end, magnitude))
        out_of_range(in, begin, end, written_prefix(in, begin, "-"),
                     "does not fit in 64 bits: a negative number's magnitude is at most 2^63 "
                     "(9223372036854775808)");
    return 0 - magnitude;
}

std::uint64_t hex_u64(const Input& in, Pos begin, Pos end) {
    std::uint64_t value = 0;
    for (Pos i = begin; i < end; ++i) {
        unsigned c = in.at(i);
        unsigned digit = kDigits.has(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20u) - 'a' + 10;
        if ((value >> 60) != 0)
            out_of_range(in, begin, end, written_prefix(in, begin, "0f"), "does not fit in 64 bits");
        value = (value << 4) | digit;
    }
    return value;
}

ast::u128 decimal_u128(const Input& in, Pos begin, Pos end) {
    ast::u128 value;
    if (!accumulate_decimal<ast::u128, ~ast::u128{0}>(in, begin, end, value))
        out_of_range(in, begin, end, {}, "does not fit in 128 bits");
    return value;
}

}  // namespace zorvane::parser
