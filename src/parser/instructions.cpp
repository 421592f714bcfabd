// The instruction rule and the body-item rule: one line of a function body.
#include <array>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

using peg::digits;
using peg::Match;
using peg::match_literal;
using peg::skip_ws;
using peg::Unit;

// instruction: ("@%p" digits)? _ opcode modifier* _ (operand (_ "," _ operand)*)? _ ";" _
// The operands are appended to the record as they are read, so that an instruction of any length takes no more
// memory than its record; `out` is unspecified after a failure.
bool generic_instruction_into(const Input& in, Pos pos, ErrorState& err, ast::encoding::InstructionBuilder* out,
                              Pos& end) {
    // The guard must be the very first thing; without digits it is dropped and the opcode fails on the "@".
    std::optional<std::uint64_t> guard;
    Pos p = pos;
    Pos number = pos;
    if (match_literal<"@%p">(in, pos, err, number)) {
        Pos number_end = digits(in, number, err);
        if (number_end != number) {
            guard = decimal_u64(in, number, number_end);
            p = number_end;
        }
    }
    p = skip_ws(in, p);

    const Pos offset = p;
    auto op = opcode(in, p, err);
    if (!op) return false;

    const Pos modifiers_start = op->end;
    const Pos modifiers_end = modifiers(in, op->end, err);
    // The modifiers are adjacent, so their values joined by "." are the text after the first dot.
    const std::string_view modifiers_text =
        modifiers_end == modifiers_start ? std::string_view{}
                                         : in.text.substr(modifiers_start + 1, modifiers_end - modifiers_start - 1);
    p = skip_ws(in, modifiers_end);

    // The second pass only looks for the error and discards every value, so it builds none.
    std::vector<ast::encoding::Byte>* operands = nullptr;
    if (out != nullptr && !err.recording()) {
        out->start(modifiers_text.size());
        operands = &out->operands();
    }
    std::size_t count = 0;
    if (operand_into(in, p, err, operands, p)) {
        ++count;
        while (true) {
            Pos comma = p;
            if (!match_literal<",">(in, skip_ws(in, p), err, comma)) break;
            if (!operand_into(in, skip_ws(in, comma), err, operands, p)) break;
            ++count;
        }
    }
    p = skip_ws(in, p);

    if (!match_literal<";">(in, p, err, p)) return false;
    end = skip_ws(in, p);
    if (operands != nullptr) out->finish({op->value, offset, guard, modifiers_text, count});
    return true;
}

// Every mark the rule makes for an instruction that it matches lies at or before the instruction's end (after its
// trailing whitespace). The first pass keeps only the furthest failure, and every caller marks at or after that
// end next: the following body item, the "}" of the body, or the end-of-input check. So where the fast scanner
// recognises the whole instruction, skipping its marks changes nothing; where it is unsure, the rule runs from the
// same start and marks as always. The second pass records only at the furthest failure, so the scanner's reading
// stands there too for an instruction that ends before it.
bool scanned_instruction_counts(const ErrorState& err, Pos end) {
    return !err.recording() || end < err.furthest();
}

bool instruction_into(const Input& in, Pos pos, ErrorState& err, ast::encoding::InstructionBuilder* out, Pos& end) {
    if (fast_instruction_into(in, pos, out, end) && scanned_instruction_counts(err, end)) return true;
    return generic_instruction_into(in, pos, err, out, end);
}

namespace {

// The record that `built` holds, in a block of its own; none in the second pass, which builds nothing.
ast::PackedInstruction packed(const ErrorState& err, const ast::encoding::InstructionBuilder& built) {
    if (err.recording()) return {};
    return ast::PackedInstruction{built.record(), built.size()};
}

}  // namespace

Parsed<ast::PackedInstruction> instruction(const Input& in, Pos pos, ErrorState& err) {
    ast::encoding::InstructionBuilder built;
    Pos end = pos;
    if (!instruction_into(in, pos, err, &built, end)) return std::nullopt;
    return Match<ast::PackedInstruction>{end, packed(err, built)};
}

namespace {

// label_definition: _ "$" label_ ":"
Parsed<std::string> label_definition(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<"$">(in, skip_ws(in, pos), err, p)) return std::nullopt;
    auto label = label_(in, p, err);
    if (!label) return std::nullopt;
    if (!match_literal<":">(in, label->end, err, p)) return std::nullopt;
    return Match<std::string>{p, std::move(label->value)};
}

// param_store: ".param" _ type_ _ identifier ";" _
//              "st.param" _ modifier* _ "[" identifier _ "+" _ digits "]" "," _ parse_register ";" _
Parsed<Unit> param_store(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<".param">(in, pos, err, p)) return std::nullopt;
    auto type = type_(in, skip_ws(in, p), err);
    if (!type) return std::nullopt;
    auto name = identifier(in, skip_ws(in, type->end), err);
    if (!name) return std::nullopt;
    if (!match_literal<";">(in, name->end, err, p)) return std::nullopt;

    if (!match_literal<"st.param">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = modifiers(in, skip_ws(in, p), err);
    if (!match_literal<"[">(in, skip_ws(in, p), err, p)) return std::nullopt;
    auto base = identifier(in, p, err);
    if (!base) return std::nullopt;
    if (!match_literal<"+">(in, skip_ws(in, base->end), err, p)) return std::nullopt;
    p = skip_ws(in, p);
    Pos digits_end = digits(in, p, err);
    if (digits_end == p) return std::nullopt;
    if (!match_literal<"]">(in, digits_end, err, p)) return std::nullopt;
    if (!match_literal<",">(in, p, err, p)) return std::nullopt;
    auto value = parse_register(in, skip_ws(in, p), err);
    if (!value) return std::nullopt;
    if (!match_literal<";">(in, value->end, err, p)) return std::nullopt;
    return Match<Unit>{skip_ws(in, p), {}};
}

// arguments: (identifier (_ "," _ identifier)*)?, names dropped
Pos skip_arguments(const Input& in, Pos pos, ErrorState& err) {
    auto first = identifier(in, pos, err);
    if (!first) return pos;
    pos = first->end;
    while (true) {
        Pos comma = pos;
        if (!match_literal<",">(in, skip_ws(in, pos), err, comma)) break;
        auto next = identifier(in, skip_ws(in, comma), err);
        if (!next) break;
        pos = next->end;
    }
    return pos;
}

// call_block: "{" _ ".reg" _ type_ _ "temp_param_reg" ";" _ param_store* _ "call" _ modifier* _ identifier
//             "," _ "(" _ arguments _ ")" _ ";" _ "}"
Parsed<std::string> call_block(const Input& in, Pos pos, ErrorState& err) {
    Pos p = pos;
    if (!match_literal<"{">(in, pos, err, p)) return std::nullopt;
    if (!match_literal<".reg">(in, skip_ws(in, p), err, p)) return std::nullopt;
    auto type = type_(in, skip_ws(in, p), err);
    if (!type) return std::nullopt;
    if (!match_literal<"temp_param_reg">(in, skip_ws(in, type->end), err, p)) return std::nullopt;
    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    p = skip_ws(in, p);

    while (auto store = param_store(in, p, err)) p = store->end;

    if (!match_literal<"call">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = modifiers(in, skip_ws(in, p), err);
    auto callee = identifier(in, skip_ws(in, p), err);
    if (!callee) return std::nullopt;
    if (!match_literal<",">(in, callee->end, err, p)) return std::nullopt;
    if (!match_literal<"(">(in, skip_ws(in, p), err, p)) return std::nullopt;
    p = skip_arguments(in, skip_ws(in, p), err);
    if (!match_literal<")">(in, skip_ws(in, p), err, p)) return std::nullopt;
    if (!match_literal<";">(in, skip_ws(in, p), err, p)) return std::nullopt;
    if (!match_literal<"}">(in, skip_ws(in, p), err, p)) return std::nullopt;
    return Match<std::string>{p, std::move(callee->value)};
}

}  // namespace

namespace {

// Where body_item_with puts what it recognised: a BodyItem for the entry rule of one line, the lists of the
// function body for the module.
// The item is made where the rule's result holds it: moving a body item out of a local one makes GCC 12 warn
// falsely of reading an uninitialised operand list.
struct ItemSink {
    Parsed<ast::BodyItem>& result;
    const ErrorState& err;
    ast::encoding::InstructionBuilder instruction;

    void label(std::string name) { made(ast::body::LabelDef{std::move(name)}); }
    void call(std::string callee) { made(ast::body::Call{std::move(callee)}); }
    void statement(ast::PTXStatement stmt) { made(ast::body::Statement{std::move(stmt)}); }
    ast::encoding::InstructionBuilder* new_instruction() { return &instruction; }
    // A single line has not met the fast scanner yet.
    static constexpr bool scanned_already = false;
    void keep_instruction() { made(ast::body::Instruction{packed(err, instruction)}); }

    template <class Item>
    void made(Item&& item) {
        result.emplace();
        result->value.emplace<std::decay_t<Item>>(std::forward<Item>(item));
    }
};

// Labels and calls are recognised and dropped; statements and instructions go straight into the body being
// written, if there is one.
struct BodySink {
    ast::TreeWriter* writer;

    void label(const std::string&) {}
    void call(const std::string&) {}
    void statement(const ast::PTXStatement& stmt) {
        if (writer != nullptr) writer->statement(stmt);
    }
    ast::encoding::InstructionBuilder* new_instruction() { return writer != nullptr ? &writer->builder() : nullptr; }
    // The body has offered every instruction to the fast scanner before its items come here.
    static constexpr bool scanned_already = true;
    void keep_instruction() {
        if (writer != nullptr) writer->instruction(writer->builder());
    }
};

template <class Sink>
bool try_label(const Input& in, Pos pos, ErrorState& err, Sink& sink, Pos& end) {
    auto label = label_definition(in, pos, err);
    if (!label) return false;
    sink.label(std::move(label->value));
    end = label->end;
    return true;
}

template <class Sink>
bool try_call(const Input& in, Pos pos, ErrorState& err, Sink& sink, Pos& end) {
    auto call = call_block(in, pos, err);
    if (!call) return false;
    sink.call(std::move(call->value));
    end = call->end;
    return true;
}

template <class Sink>
bool try_statement(const Input& in, Pos pos, ErrorState& err, Sink& sink, Pos& end) {
    auto stmt = statement(in, pos, err);
    if (!stmt) return false;
    sink.statement(std::move(stmt->value));
    end = stmt->end;
    return true;
}

template <class Sink>
bool try_instruction(const Input& in, Pos pos, ErrorState& err, Sink& sink, Pos& end) {
    ast::encoding::InstructionBuilder* out = sink.new_instruction();
    const bool read = Sink::scanned_already ? generic_instruction_into(in, pos, err, out, end)
                                            : instruction_into(in, pos, err, out, end);
    if (!read) return false;
    sink.keep_instruction();
    return true;
}

// body_item: label_definition / call_block / statement / instruction
// Only the label skips whitespace of its own; a declaration must start exactly at `pos`.
template <class Sink>
bool body_item_with(const Input& in, Pos pos, ErrorState& err, Sink& sink, Pos& end) {
    // Before whitespace, or where the second pass records at `pos`, every alternative runs in order.
    if (skip_ws(in, pos) != pos || (err.recording() && pos == err.furthest())) {
        return try_label(in, pos, err, sink, end) || try_call(in, pos, err, sink, end) ||
               try_statement(in, pos, err, sink, end) || try_instruction(in, pos, err, sink, end);
    }
    // Otherwise the byte at `pos` picks the one alternative that can get past it: each of the others fails on its
    // first character and marks only `pos`, which the one mark below stands for.
    err.fail_at(pos, peg::Quoted<"$">::c_str());
    const unsigned char c = in.at(pos);
    switch (c) {
        case '$':
            return try_label(in, pos, err, sink, end);
        case '{':
            return try_call(in, pos, err, sink, end);
        case '.':
            return try_statement(in, pos, err, sink, end);
        default:
            if (c == '@' || peg::is_lower(c)) return try_instruction(in, pos, err, sink, end);
            return false;
    }
}

}  // namespace

Parsed<ast::BodyItem> body_item(const Input& in, Pos pos, ErrorState& err) {
    Parsed<ast::BodyItem> result;
    ItemSink sink{result, err, {}};
    Pos end = pos;
    if (!body_item_with(in, pos, err, sink, end)) return std::nullopt;
    result->end = end;
    return result;
}

bool body_item_into(const Input& in, Pos pos, ErrorState& err, ast::TreeWriter* writer, Pos& end) {
    BodySink sink{writer};
    return body_item_with(in, pos, err, sink, end);
}

}  // namespace zorvane::parser
