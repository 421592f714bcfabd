// The parsing engine: input, rule results, the error state with its two-pass failure tracking, and the error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/failure.hpp"

namespace zorvane::peg {

using Pos = std::size_t;

// The UTF-8 text of one entry call; positions are byte offsets into it.
struct Input {
    std::string_view text;
    // Where the last ";" of the text is (npos for none): a scan that stops at a ";" cannot run off the text from
    // any position up to there.
    std::size_t last_semicolon;
    // Whether the first pass may read instructions with the fast scanner instead of the rules. Only the checks of
    // the scanner against the rules turn it off; the results are the same either way.
    bool fast_scanner;

    explicit Input(std::string_view whole, bool scanner = true) noexcept
        : text{whole}, last_semicolon{whole.rfind(';')}, fast_scanner{scanner} {}

    std::size_t size() const noexcept { return text.size(); }
    // The byte at `pos`, or 0 past the end (no rule accepts NUL, so it doubles as a sentinel).
    unsigned char at(Pos pos) const noexcept { return pos < text.size() ? static_cast<unsigned char>(text[pos]) : 0; }
    // No rule tries a literal past the end of the text; were one to, it would fail to match rather than read there.
    bool starts_with(Pos pos, std::string_view lit) const noexcept(!base::kDebugChecks) {
        ZORVANE_DEBUG_CHECK(pos <= text.size(), "a literal is tried past the end of the input");
        return pos <= text.size() && lit.size() <= text.size() - pos && text.compare(pos, lit.size(), lit) == 0;
    }
};

template <class T>
struct Match {
    Pos end;
    T value;
};

// A rule's outcome: matched (end position and value) or failed (empty).
template <class T>
using Parsed = std::optional<Match<T>>;

// The value of rules that only recognise text.
struct Unit {};

// Furthest failure and, in the second pass only, the expected texts recorded there.
class ErrorState {
public:
    // Called for every failed terminal, so the first pass, which only keeps the furthest position, takes one
    // predictable branch and a max; recording and suppression, both rare, are out of line.
    void fail_at(Pos pos, const char* expected) {
        if (slow_) [[unlikely]] {
            // Only a failure at the furthest position can be recorded, and most are elsewhere.
            if (pos == furthest_ || !recording_) fail_slow(pos, expected);
            return;
        }
        furthest_ = pos > furthest_ ? pos : furthest_;
    }

    // Marks the failure of several alternatives that all failed at `pos`: the first pass keeps only the furthest
    // position, so one mark stands for them all; the second records every text when `pos` can count. `texts` is
    // called with a callback taking each expected text, in the order of trial.
    template <class Texts>
    void fail_all_at(Pos pos, Texts&& texts) {
        if (!slow_) [[likely]] {
            furthest_ = pos > furthest_ ? pos : furthest_;
            return;
        }
        if (suppressed_ != 0 || pos != furthest_) return;
        texts([this](const char* expected) { record(expected); });
    }

    Pos furthest() const noexcept { return furthest_; }
    bool recording() const noexcept { return recording_; }
    void start_second_pass() noexcept {
        recording_ = true;
        suppressed_ = 0;
        slow_ = true;
    }
    // The recorded texts, distinct and in byte-wise order.
    std::vector<std::string_view> expected() const;

    // Failures inside lookaheads and quiet parts are not recorded while one of these lives.
    class Quiet {
    public:
        explicit Quiet(ErrorState& err) noexcept : err_{err} {
            ++err_.suppressed_;
            err_.slow_ = true;
        }
        ~Quiet() {
            --err_.suppressed_;
            err_.slow_ = err_.recording_ || err_.suppressed_ != 0;
        }
        Quiet(const Quiet&) = delete;
        Quiet& operator=(const Quiet&) = delete;

    private:
        ErrorState& err_;
    };

private:
    void fail_slow(Pos pos, const char* expected);
    void record(const char* expected);

    Pos furthest_ = 0;
    unsigned suppressed_ = 0;
    bool recording_ = false;
    bool slow_ = false;  // recording_ || suppressed_ != 0
    std::vector<const char*> expected_;
};

struct Location {
    std::size_t line;
    std::size_t column;  // in characters, not bytes
};

// Line and column of a byte offset, both counted from 1.
Location locate(const Input& in, Pos pos);

struct ParseError {
    Location location;
    Pos offset;
    std::vector<std::string_view> expected;

    // "error at LINE:COL: expected ..."
    std::string text() const;
};

// Either the entry rule's value or the parse error.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::optional<ParseError> error;
};

// Runs an entry rule's body twice at most: the first pass tracks only the furthest failure; the second runs
// only after a failure and gathers what was expected there.
template <class T, class Body>
Outcome<T> run_entry(const Input& in, Body&& body) {
    ErrorState err;
    {
        Parsed<T> first = body(in, Pos{0}, err);
        ZORVANE_DEBUG_CHECK(!first || first->end <= in.size(), "an entry rule matched past the end of the input");
        if (first && first->end >= in.size()) return {std::move(first->value), std::nullopt};
        if (first) err.fail_at(first->end, "EOF");
    }
    ZORVANE_DEBUG_CHECK(err.furthest() <= in.size(), "the first pass marked a failure past the end of the input");
    err.start_second_pass();
    Parsed<T> second = body(in, Pos{0}, err);
    if (second) {
        ZORVANE_CHECK(second->end < in.size(),
                      "the parser is nondeterministic: it succeeded when reparsing for the error position");
        err.fail_at(second->end, "EOF");
    }
    return {std::nullopt, ParseError{locate(in, err.furthest()), err.furthest(), err.expected()}};
}

}  // namespace zorvane::peg
