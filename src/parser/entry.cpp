// The entry rules: each runs one rule over the whole text through the two-pass engine.
#include "parser/entry.hpp"

#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

peg::Outcome<ast::ParsedFile> parse_program(std::string_view text, ParseOptions options) {
    peg::Outcome<std::optional<ast::ParsedFile>> outcome =
        peg::run_entry<std::optional<ast::ParsedFile>>(Input{text, options.fast_scanner}, program);
    if (!outcome.value) return {std::nullopt, std::move(outcome.error)};
    // The first pass builds the tree of every program that reads the whole text.
    ZORVANE_CHECK(outcome.value->has_value(), "a module that parsed gave no tree");
    return {std::move(**outcome.value), std::nullopt};
}

peg::Outcome<ast::PackedInstruction> parse_single_instruction(std::string_view text, ParseOptions options) {
    return peg::run_entry<ast::PackedInstruction>(Input{text, options.fast_scanner}, instruction);
}

// function_body_line: function_signature / _ body_item _
// A line that starts with a complete parameter list is decided by it, even when text follows the ")".
peg::Outcome<ast::BodyItem> parse_function_body_line(std::string_view text, ParseOptions options) {
    auto line = [](const Input& in, Pos pos, ErrorState& err) -> Parsed<ast::BodyItem> {
        if (auto signature = function_signature(in, pos, err, nullptr))
            return peg::Match<ast::BodyItem>{signature->end, ast::body::Param{}};
        auto item = body_item(in, peg::skip_ws(in, pos), err);
        if (!item) return std::nullopt;
        item->end = peg::skip_ws(in, item->end);
        return item;
    };
    return peg::run_entry<ast::BodyItem>(Input{text, options.fast_scanner}, line);
}

}  // namespace zorvane::parser
