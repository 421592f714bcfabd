// The instruction rule and the body-item rule: one line of a function body.
#include <cstdint>
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
Parsed<ast::PTXInstruction> instruction(const Input& in, Pos pos, ErrorState& err) {
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
    if (!op) return std::nullopt;

    const Pos modifiers_start = op->end;
    p = op->end;
    while (auto mod = modifier(in, p, err)) p = mod->end;
    const Pos modifiers_end = p;
    p = skip_ws(in, p);

    std::vector<ast::PTXOperand> operands;
    if (auto first = operand(in, p, err)) {
        operands.reserve(4);  // enough for almost every instruction in one allocation
        operands.push_back(std::move(first->value));
        p = first->end;
        while (true) {
            Pos comma = p;
            if (!match_literal<",">(in, skip_ws(in, p), err, comma)) break;
            auto next = operand(in, skip_ws(in, comma), err);
            if (!next) break;
            operands.push_back(std::move(next->value));
            p = next->end;
        }
    }
    p = skip_ws(in, p);

    if (!match_literal<";">(in, p, err, p)) return std::nullopt;
    p = skip_ws(in, p);

    // The modifiers are adjacent, so their values joined by "." are the text after the first dot.
    std::string modifiers;
    if (modifiers_end != modifiers_start)
        modifiers.assign(in.text.substr(modifiers_start + 1, modifiers_end - modifiers_start - 1));
    return Match<ast::PTXInstruction>{
        p, ast::PTXInstruction{offset, op->value, std::move(modifiers), std::move(operands), guard}};
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

// modifiers: modifier*, values dropped
Pos skip_modifiers(const Input& in, Pos pos, ErrorState& err) {
    while (auto mod = modifier(in, pos, err)) pos = mod->end;
    return pos;
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
    p = skip_modifiers(in, skip_ws(in, p), err);
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
    p = skip_modifiers(in, skip_ws(in, p), err);
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

// body_item: label_definition / call_block / statement / instruction
// Only the label skips whitespace of its own; a declaration must start exactly at `pos`.
Parsed<ast::BodyItem> body_item(const Input& in, Pos pos, ErrorState& err) {
    if (auto label = label_definition(in, pos, err))
        return Match<ast::BodyItem>{label->end, ast::body::LabelDef{std::move(label->value)}};
    if (auto call = call_block(in, pos, err))
        return Match<ast::BodyItem>{call->end, ast::body::Call{std::move(call->value)}};
    if (auto stmt = statement(in, pos, err))
        return Match<ast::BodyItem>{stmt->end, ast::body::Statement{std::move(stmt->value)}};
    if (auto instr = instruction(in, pos, err))
        return Match<ast::BodyItem>{instr->end, ast::body::Instruction{std::move(instr->value)}};
    return std::nullopt;
}

}  // namespace zorvane::parser
