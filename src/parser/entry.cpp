// The entry rules, each running one rule over the whole text through the two-pass engine, and the one place where
// the grammar is compiled: every rule for both passes, together, so that the silent pass is inlined across groups.
#include "parser/entry.hpp"

#include <optional>
#include <utility>

#include "parser/grammar.hpp"
#include "parser/instructions.hpp"
#include "parser/lexical.hpp"
#include "parser/opcodes.hpp"
#include "parser/operands.hpp"
#include "parser/program.hpp"
#include "parser/registers.hpp"
#include "parser/statements.hpp"

namespace zorvane::parser {

template class Grammar<Silent>;
template class Grammar<Marking>;

namespace {

// Runs `rule(grammar, end)` from position 0 in both passes as the engine needs them: the silent pass writes into a
// new writer, which `writer` keeps (made with `arguments`), and the marking pass writes nothing (the silent pass's
// writer is dropped first, since what it holds is discarded).
template <class Rule, class... Arguments>
std::optional<peg::ParseError> run(const Input& in, std::optional<ast::TreeWriter>& writer, Rule&& rule,
                                   Arguments... arguments) {
    return peg::run_entry(in, [&](auto mode, ErrorState& err, Pos& end) {
        using Mode = decltype(mode);
        ast::TreeWriter* out = nullptr;
        if constexpr (Mode::builds) {
            out = &writer.emplace(arguments...);
        } else {
            writer.reset();
        }
        Grammar<Mode> grammar{in, err, out};
        end = 0;
        return rule(grammar, end);
    });
}

// Where a single line is written: records of a few lines fit here, and a longer one goes on in the arena's chunks.
struct LineBuffer {
    alignas(8) ast::encoding::Byte bytes[512];
};

// The first record of a stream that a single line was written into, and its size.
std::pair<const ast::encoding::Byte*, std::size_t> first_record(const ast::encoding::Byte* stream) {
    ast::detail::BodyCursor cursor{stream};
    const ast::encoding::Byte* record = cursor.next();
    return {record, static_cast<std::size_t>(cursor.position() - record)};
}

}  // namespace

peg::Outcome<ast::ParsedFile> parse_program(std::string_view text) {
    const Input in{text};
    std::optional<ast::TreeWriter> writer;
    auto error = run(in, writer, [](auto& grammar, Pos& end) { return grammar.program(end); });
    if (error) return {std::nullopt, std::move(error)};
    return {std::move(*writer).finish(), std::nullopt};
}

peg::Outcome<ast::PackedInstruction> parse_single_instruction(std::string_view text) {
    const Input in{text};
    LineBuffer buffer;
    std::optional<ast::TreeWriter> writer;
    const ast::encoding::Byte* stream = nullptr;
    auto error = run(
        in, writer,
        [&stream](auto& grammar, Pos& end) {
            using G = std::remove_reference_t<decltype(grammar)>;
            if constexpr (std::is_same_v<G, Grammar<Silent>>) stream = grammar.writer().begin_loose_stream();
            return grammar.instruction(end);
        },
        buffer.bytes, sizeof buffer.bytes);
    if (error) return {std::nullopt, std::move(error)};
    const auto [record, size] = first_record(stream);
    return {ast::PackedInstruction{record, size}, std::nullopt};
}

// function_body_line: function_signature / _ body_item _
// A line that starts with a complete parameter list is decided by it, even when text follows the ")".
peg::Outcome<ast::BodyItem> parse_function_body_line(std::string_view text) {
    const Input in{text};
    LineBuffer buffer;
    std::optional<ast::TreeWriter> writer;
    const ast::encoding::Byte* stream = nullptr;
    bool param = false;
    ItemRead read{};
    auto error = run(
        in, writer,
        [&](auto& grammar, Pos& end) {
            using G = std::remove_reference_t<decltype(grammar)>;
            if constexpr (std::is_same_v<G, Grammar<Silent>>) stream = grammar.writer().begin_loose_stream();
            param = grammar.function_signature(end, false);
            if (param) return true;
            end = grammar.ws(0);
            if (!grammar.body_item(end, read)) return false;
            end = grammar.ws(end);
            return true;
        },
        buffer.bytes, sizeof buffer.bytes);
    if (error) return {std::nullopt, std::move(error)};
    if (param) return {ast::BodyItem{ast::body::Param{}}, std::nullopt};
    switch (read.kind) {
        case ItemRead::Kind::LabelDef:
            return {ast::BodyItem{ast::body::LabelDef{std::string{read.name}}}, std::nullopt};
        case ItemRead::Kind::Call:
            return {ast::BodyItem{ast::body::Call{std::string{read.name}}}, std::nullopt};
        case ItemRead::Kind::Statement: {
            const ast::encoding::Byte* record = first_record(stream).first;
            const ast::encoding::Byte* p = record + 1;
            return {ast::BodyItem{ast::body::Statement{ast::encoding::get_statement(record[0], p)}}, std::nullopt};
        }
        case ItemRead::Kind::Instruction:
            break;
    }
    const auto [record, size] = first_record(stream);
    ast::BodyItem item{std::in_place_type<ast::body::Instruction>,
                       ast::body::Instruction{ast::PackedInstruction{record, size}}};
    return {std::move(item), std::nullopt};
}

}  // namespace zorvane::parser
