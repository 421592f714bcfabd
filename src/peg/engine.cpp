// Error state bookkeeping, line and column, and the error text.
#include "peg/engine.hpp"

#include <algorithm>
#include <cstring>

namespace zorvane::peg {

void ErrorState::record(const char* expected) {
    // Texts are static, so equal pointers are equal texts; equal texts behind different pointers are merged below.
    if (std::find(expected_.begin(), expected_.end(), expected) == expected_.end()) expected_.push_back(expected);
}

std::vector<std::string_view> ErrorState::expected() const {
    std::vector<std::string_view> texts(expected_.begin(), expected_.end());
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

Location locate(const Input& in, Pos pos) {
    ZORVANE_CHECK(pos <= in.size(), "the error position lies past the end of the input");
    // The line ends before the error are counted in one pass, which the compiler vectorises, and the start of its
    // line is found from the error backwards, since lines are short: a call per line costs more on a large input.
    const char* text = in.text.data();
    const auto line = 1 + static_cast<std::size_t>(std::count(text, text + pos, '\n'));
    std::size_t line_start = pos;
    while (line_start > 0 && text[line_start - 1] != '\n') --line_start;
    std::size_t column = 1;
    for (Pos i = line_start; i < pos; ++i) {
        // Continuation bytes of a multi-byte character do not start a character.
        if ((static_cast<unsigned char>(in.text[i]) & 0xC0) != 0x80) ++column;
    }
    ZORVANE_CHECK(pos == in.size() || (static_cast<unsigned char>(in.text[pos]) & 0xC0) != 0x80,
                  "the error position lies inside a multi-byte character");
    return {line, column};
}

std::string ParseError::text() const {
    std::string out =
        "error at " + std::to_string(location.line) + ":" + std::to_string(location.column) + ": expected ";
    if (expected.empty()) {
        out += "<unreported>";
    } else if (expected.size() == 1) {
        out += expected.front();
    } else {
        out += "one of ";
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (i != 0) out += ", ";
            out += expected[i];
        }
    }
    return out;
}

}  // namespace zorvane::peg
