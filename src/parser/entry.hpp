// The three entry rules: each parses a whole text, or reports the furthest failure and what was expected there.
#pragma once

#include <string_view>

#include "ast/instructions.hpp"
#include "ast/tree.hpp"
#include "peg/engine.hpp"

namespace zorvane::parser {

// Choices of one call that leave its result unchanged.
struct ParseOptions {
    // The first pass reads the common instructions with the fast scanner. Off, every instruction is read by the
    // rules, which the fuzz target and the tests compare the scanner against; the Python module keeps it on.
    bool fast_scanner = true;
};

peg::Outcome<ast::ParsedFile> parse_program(std::string_view text, ParseOptions options = {});
peg::Outcome<ast::PackedInstruction> parse_single_instruction(std::string_view text, ParseOptions options = {});
peg::Outcome<ast::BodyItem> parse_function_body_line(std::string_view text, ParseOptions options = {});

}  // namespace zorvane::parser
