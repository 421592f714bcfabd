// The three entry rules: each parses a whole text, or reports the furthest failure and what was expected there.
#pragma once

#include <string_view>

#include "ast/instructions.hpp"
#include "ast/refs.hpp"
#include "peg/engine.hpp"

namespace zorvane::parser {

// Each takes a text that a NUL follows, as it follows a std::string's characters and a str's UTF-8 form.
peg::Outcome<ast::ParsedFile> parse_program(std::string_view text);
peg::Outcome<ast::PackedInstruction> parse_single_instruction(std::string_view text);
peg::Outcome<ast::BodyItem> parse_function_body_line(std::string_view text);

}  // namespace zorvane::parser
