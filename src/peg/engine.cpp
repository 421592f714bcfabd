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
    // Lines are found with memchr, which is much faster than a byte loop over a large input.
    const char* text = in.text.data();
    std::size_t line = 1;
    std::size_t line_start = 0;
    while (line_start < pos) {
        const void* found = std::memchr(text + line_start, '\n', pos - line_start);
        if (found == nullptr) break;
        ++line;
        line_start = static_cast<std::size_t>(static_cast<const char*>(found) - text) + 1;
    }
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
