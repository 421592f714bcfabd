// The entry rules: each runs one rule over the whole text through the two-pass engine.
#include "parser/entry.hpp"

#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

peg::Outcome<ast::PTXFile> parse_program(std::string_view text, ParseOptions options) {
    return peg::run_entry<ast::PTXFile>(Input{text, options.fast_scanner}, program);
}

peg::Outcome<ast::PTXInstruction> parse_single_instruction(std::string_view text, ParseOptions options) {
    return peg::run_entry<ast::PTXInstruction>(Input{text, options.fast_scanner}, instruction);
}

// function_body_line: function_signature / _ body_item _
// A line that starts with a complete parameter list is decided by it, even when text follows the ")".
peg::Outcome<ast::BodyItem> parse_function_body_line(std::string_view text, ParseOptions options) {
    auto line = [](const Input& in, Pos pos, ErrorState& err) -> Parsed<ast::BodyItem> {
        if (auto signature = function_signature(in, pos, err))
            return peg::Match<ast::BodyItem>{signature->end, ast::body::Param{}};
        auto item = body_item(in, peg::skip_ws(in, pos), err);
        if (!item) return std::nullopt;
        item->end = peg::skip_ws(in, item->end);
        return item;
    };
    return peg::run_entry<ast::BodyItem>(Input{text, options.fast_scanner}, line);
}

}  // namespace zorvane::parser
