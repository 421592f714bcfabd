// The parsing engine: input, the two modes a rule runs in, the error state with its two-pass failure tracking, and
// the error text.
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

// The UTF-8 text of one entry call; positions are byte offsets into it. A NUL follows the text (as it follows the
// UTF-8 form of every str, and the characters of every std::string): no rule accepts a NUL, so the rules read up to
// it without comparing positions with the end.
struct Input {
    std::string_view text;

    explicit Input(std::string_view whole) : text{whole} {
        ZORVANE_CHECK(whole.data() != nullptr && whole.data()[whole.size()] == '\0',
                      "the text to parse is not followed by a NUL");
    }

    std::size_t size() const noexcept { return text.size(); }
    const char* data() const noexcept { return text.data(); }
    // The byte at `pos`, or 0 past the end (no rule accepts NUL, so it doubles as a sentinel).
    unsigned char at(Pos pos) const noexcept { return pos < text.size() ? static_cast<unsigned char>(text[pos]) : 0; }
    bool starts_with(Pos pos, std::string_view lit) const noexcept(!base::kDebugChecks) {
        ZORVANE_DEBUG_CHECK(pos <= text.size(), "a literal is tried past the end of the input");
        return pos <= text.size() && lit.size() <= text.size() - pos && text.compare(pos, lit.size(), lit) == 0;
    }
};

// The two ways every rule runs, chosen at compile time. The first pass builds the values and keeps only the
// furthest failure; the second runs only after a failure, builds nothing, and records the texts expected where the
// first pass failed furthest.
struct Silent {
    static constexpr bool marks = false;
    static constexpr bool builds = true;
};
struct Marking {
    static constexpr bool marks = true;
    static constexpr bool builds = false;
};

// Furthest failure and, in the second pass, the expected texts recorded there.
//
// The silent pass may leave out a failure that a later one is sure to pass: the furthest position is a maximum, and
// in this grammar every terminal that matches is followed by another attempt at or after its end (the next part of
// its rule, the caller's next part, or the end-of-input check). So a run of characters that stops after at least one
// needs no mark where it stops, nor do the alternatives that a choice skips when one of the others matches. Every
// failure of the marking pass is marked, so that it records exactly what was expected.
class ErrorState {
public:
    template <class Mode>
    void fail(Pos pos, const char* expected) {
        if constexpr (Mode::marks) {
            reached(pos);
            if (pos == furthest_) [[unlikely]]
                record(expected);
        } else {
            furthest_ = pos > furthest_ ? pos : furthest_;
        }
    }

    // The failure of several texts at one position: `texts(mark)` calls mark(text) for each, in the order of trial,
    // and runs only where they can be recorded.
    template <class Mode, class Texts>
    void fail_all(Pos pos, Texts&& texts) {
        if constexpr (Mode::marks) {
            reached(pos);
            if (pos == furthest_) [[unlikely]]
                texts([this](const char* expected) { record(expected); });
        } else {
            furthest_ = pos > furthest_ ? pos : furthest_;
        }
    }

    // A failure of the marking pass that records nothing, where alternatives that it skipped fail.
    void reached(Pos pos) noexcept { furthest_marked_ = pos > furthest_marked_ ? pos : furthest_marked_; }

    Pos furthest() const noexcept { return furthest_; }
    // The furthest failure that the marking pass marked: the furthest failure as it would be with every failure of
    // the silent pass marked, which the fuzz target holds the silent pass to.
    Pos furthest_marked() const noexcept { return furthest_marked_; }
    // The recorded texts, distinct and in byte-wise order.
    std::vector<std::string_view> expected() const;

    // The silent pass calls this where each item of a repetition starts. Each item reads alike whatever came before
    // it, and an item marks nothing past both where the next one starts and the silent pass's furthest failure by
    // then (a failure that the silent pass leaves out is followed by an attempt at or after it). So the marking pass
    // may begin at the last item before which both lay short of the furthest failure in the end: the items before it
    // mark nothing that is kept. On a large text with a fault near its end, it then reads a little of the text
    // instead of all of it again.
    void item_starts(Pos pos) noexcept {
        const Pos reach = pos > furthest_ ? pos : furthest_;
        if (last_item_ != kNoItem && last_item_reach_ < reach) item_before_ = last_item_;
        last_item_ = pos;
        last_item_reach_ = reach;
    }
    // Where the marking pass may begin the repetition, or nothing for the start of its rule.
    std::optional<Pos> resume_point() const noexcept {
        const Pos item = last_item_ != kNoItem && last_item_reach_ < furthest_ ? last_item_ : item_before_;
        return item == kNoItem ? std::nullopt : std::optional<Pos>{item};
    }
    void forget_resume_point() noexcept { last_item_ = item_before_ = kNoItem; }

private:
    void record(const char* expected);

    Pos furthest_ = 0;
    Pos furthest_marked_ = 0;
    std::vector<const char*> expected_;
    // Plain positions, with a value for none: with std::optional members here, g++ 12 inlined the rules of the
    // silent pass otherwise and the parse ran a fifth slower.
    static constexpr Pos kNoItem = ~Pos{0};
    Pos last_item_ = kNoItem;
    Pos last_item_reach_ = 0;
    Pos item_before_ = kNoItem;
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
    Pos furthest_marked;  // by the marking pass; equal to `offset` unless the silent pass left out a failure

    // "error at LINE:COL: expected ..."
    std::string text() const;
};

// Either the entry rule's value or the parse error.
template <class T>
struct Outcome {
    std::optional<T> value;
    std::optional<ParseError> error;
};

// Runs an entry rule's body at most twice: `body(mode, err, end)` matches from position 0 in that mode, giving its
// end, and keeps its value itself in the silent pass. The second pass runs only after a failure and gathers what was
// expected where the first failed furthest. No error means that the silent pass matched the whole text.
template <class Body>
std::optional<ParseError> run_entry(const Input& in, Body&& body) {
    ErrorState err;
    Pos end = 0;
    if (body(Silent{}, err, end)) {
        ZORVANE_DEBUG_CHECK(end <= in.size(), "an entry rule matched past the end of the input");
        if (end >= in.size()) return std::nullopt;
        err.fail<Silent>(end, "EOF");
    }
    ZORVANE_DEBUG_CHECK(err.furthest() <= in.size(), "the first pass marked a failure past the end of the input");
    // One call site for the marking pass: a build with debug checks runs it twice, and a second site would have the
    // compiler inline the whole grammar a second time (minutes more under the sanitizers).
    const auto mark = [&](ErrorState& state) {
        if (body(Marking{}, state, end)) {
            ZORVANE_CHECK(end < in.size(),
                          "the parser is nondeterministic: it succeeded when reparsing for the error position");
            state.fail<Marking>(end, "EOF");
        }
    };
    std::optional<ErrorState> from_start;
    if constexpr (base::kDebugChecks) from_start.emplace(err).forget_resume_point();
    mark(err);
    if constexpr (base::kDebugChecks) {
        // The marking pass from the start of the rule records the same as from where it may resume.
        mark(*from_start);
        ZORVANE_CHECK(
            from_start->expected() == err.expected() && from_start->furthest_marked() == err.furthest_marked(),
            "the marking pass records otherwise where it resumes than from the start");
    }
    return ParseError{locate(in, err.furthest()), err.furthest(), err.expected(), err.furthest_marked()};
}

}  // namespace zorvane::peg
