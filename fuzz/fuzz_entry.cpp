// Fuzz target over the three entry rules: no input may crash, and every outcome must keep the engine's invariants.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ast/file.hpp"
#include "ast/instructions.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/render.hpp"
#include "ast/tables.hpp"
#include "ast/tree.hpp"
#include "parser/entry.hpp"
#include "parser/rules.hpp"
#include "peg/engine.hpp"
#include "peg/terminals.hpp"

namespace {

using namespace zorvane;

std::string_view g_input;  // the fuzz input, shown when a check fails

void print_escaped(std::string_view text) {
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            std::fprintf(stderr, "\\%c", c);
        } else if (c >= 0x20 && c < 0x7F) {
            std::fputc(c, stderr);
        } else {
            std::fprintf(stderr, "\\x%02x", c);
        }
    }
}

[[noreturn]] void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n*** invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
    if (!detail.empty()) std::fprintf(stderr, "    detail: %.*s\n", static_cast<int>(detail.size()), detail.data());
    std::fprintf(stderr, "    input (%zu bytes): \"", g_input.size());
    print_escaped(g_input.substr(0, 2000));
    std::fprintf(stderr, g_input.size() > 2000 ? "\"...\n" : "\"\n");
    std::abort();
}

void check(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok) fail(what, detail);
}

// Strict UTF-8, as a Python str encodes: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (s.size() - i - 1 < extra) return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if ((extra == 2 && cp < 0x800) || (cp >= 0xD800 && cp <= 0xDFFF) || (extra == 3 && cp < 0x10000) ||
            cp > 0x10FFFF)
            return false;
        i += extra + 1;
    }
    return true;
}

// Line and column of a byte offset, recomputed by walking whole characters; nullopt when the offset is not
// a character boundary (or lies past the end).
std::optional<peg::Location> location_of(std::string_view s, std::size_t pos) {
    std::size_t line = 1;
    std::size_t column = 1;
    std::size_t i = 0;
    while (i < pos && i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (c == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
        i += len;
    }
    if (i != pos) return std::nullopt;
    return peg::Location{line, column};
}

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

std::string number128(ast::u128 n) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
        n /= 10;
    } while (n != 0);
    return digits;
}

// Every text the Python layer turns into a str must be valid UTF-8.
void check_text(std::string_view text, std::string_view what) {
    check(valid_utf8(text), what, text);
}

// A complete description of a value, for comparing repeated parses; also renders every text the module can show.
void describe(std::string& out, const ast::encoding::RegisterFields& r) {
    std::string text = ast::register_text(r);
    std::string tagged;
    ast::append_tagged(tagged, r);
    check_text(text, "register text is not UTF-8");
    check_text(tagged, "register tagged form is not UTF-8");
    if (r.kind == ast::encoding::RegisterKind::Custom) {
        const std::string_view name = r.name;
        check(!name.empty(), "custom register with an empty name");
        check(g_input.find(name) != std::string_view::npos, "custom register name not in the input", name);
    }
    out += tagged;
}

void describe(std::string& out, const ast::encoding::OperandFields& op) {
    using ast::encoding::OperandKind;
    std::string text = ast::operand_text(op);
    check_text(text, "operand text is not UTF-8");
    out += ast::kOperandUnion.kinds[static_cast<std::size_t>(op.kind)];
    out += ' ';
    out += text;
    out += ' ';
    ast::append_tagged(out, op);
    if (op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) {
        const std::string_view label = op.text;
        check(!label.empty(), "label operand with an empty text");
        check(g_input.find(label) != std::string_view::npos, "label operand text not in the input", label);
    }
    if (op.kind == OperandKind::Register || op.kind == OperandKind::MemoryRegDisp ||
        op.kind == OperandKind::RegPredPair)
        describe(out, op.reg);
    if (op.kind == OperandKind::Vector) {
        const ast::encoding::Byte* p = op.vector_bytes;
        for (std::size_t i = 0; i < op.vector_count; ++i) describe(out, ast::encoding::get_record<ast::PTXRegister>(p));
    }
    check(op.kind != OperandKind::Memory, "the parser produced a Memory operand");
}

// An instruction's record, after checking that its size is what a reader walking it finds.
ast::InstructionRef decoded(const ast::PackedInstruction& packed) {
    check(packed.size() != 0, "an instruction without its record");
    check(ast::encoding::instruction_size(packed.data()) == packed.size(), "an instruction record of another size");
    return ast::InstructionRef{packed.data()};
}

// `text` is the whole input the offsets count in.
void describe(std::string& out, ast::InstructionRef instr, std::string_view text) {
    check(instr.offset() < text.size(), "instruction offset past the input");
    std::string mnemonic = ast::mnemonic(instr.opcode());
    std::string_view at = text.substr(instr.offset());
    check(at.substr(0, mnemonic.size()) == mnemonic, "instruction offset does not point at its mnemonic",
          at.substr(0, 40));
    // The modifiers follow the mnemonic directly, each after a dot.
    const std::string_view mods = instr.modifiers();
    if (!mods.empty()) {
        std::string written{"."};
        written += mods;
        check(at.substr(mnemonic.size(), written.size()) == written, "modifiers are not the text after the mnemonic",
              mods);
        check(mods.back() != '.' && mods.find("..") == std::string_view::npos, "modifiers hold an empty modifier",
              mods);
    }
    for (char c : mods)
        check((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.', "modifier character outside its class",
              mods);
    std::string rendered = ast::instruction_text(instr.record());
    check_text(rendered, "instruction text is not UTF-8");
    out += number(instr.offset());
    out += instr.is_predicated() ? " @" + number(*instr.is_predicated()) + " " : " - ";
    out += rendered;
    out += ast::is_float(mods) ? " float" : " int";
    instr.operands().for_each([&](const ast::encoding::OperandFields& op) {
        out += " | ";
        describe(out, op);
    });
    out += '\n';
}

void describe(std::string& out, const ast::encoding::StatementFields& s) {
    static_assert(std::variant_size_v<ast::PTXStatement> == 5, "a description of every statement variant");
    using ast::statement::CustomRegister;
    using ast::statement::Pragma;
    using ast::statement::RegisterCount;
    out += "statement ";
    out += number(s.kind);
    if (s.kind != ast::index_of<ast::PTXStatement, Pragma>) {
        out += ' ';
        out += ast::member_name(s.space);
        out += ' ';
        out += ast::member_name(s.type);
    }
    if (s.kind == ast::index_of<ast::PTXStatement, CustomRegister>) {
        const std::string_view name = s.name;
        check(!name.empty(), "custom register declaration with an empty name");
        check_text(name, "declared register name is not UTF-8");
        out += ' ';
        out += name;
    } else if (s.kind == ast::index_of<ast::PTXStatement, RegisterCount>) {
        out += ' ' + number128(s.count);
    } else if (s.kind != ast::index_of<ast::PTXStatement, Pragma>) {
        out += ' ' + number128(s.count) + ' ';
        const ast::encoding::Byte* p = s.operand.data();
        const ast::encoding::OperandFields name = ast::encoding::get_record<ast::PTXOperand>(p);
        check(name.kind == ast::encoding::OperandKind::Label, "array name is not a Label operand");
        describe(out, name);
    }
    out += '\n';
}

// A statement value as its record reads.
void describe(std::string& out, const ast::PTXStatement& s) {
    std::vector<ast::encoding::Byte> record;
    ast::encoding::Append append{&record};
    ast::encoding::put_statement(append, s);
    const ast::encoding::Byte* p = record.data();
    describe(out, ast::encoding::get_record<ast::PTXStatement>(p));
    check(p == record.data() + record.size(), "a statement record reads to another end than written");
}

void describe(std::string& out, const ast::BodyItem& item, std::string_view text) {
    out += ast::kBodyItemUnion.kinds[item.index()];
    out += ' ';
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, ast::body::Statement>) describe(out, v._0);
            if constexpr (std::is_same_v<V, ast::body::Instruction>) describe(out, decoded(v._0), text);
            if constexpr (std::is_same_v<V, ast::body::LabelDef> || std::is_same_v<V, ast::body::Call>) {
                check(!v._0.empty(), "label or call with an empty name");
                check_text(v._0, "label or call name is not UTF-8");
                check(text.find(v._0) != std::string_view::npos, "label or call name not in the input", v._0);
                out += v._0;
                out += '\n';
            }
        },
        item);
}

std::string_view function_keyword(ast::FunctionRef f) {
    switch (f.link_directive()) {
        case ast::PTXLinkDirective::Extern:
            return ".extern";
        case ast::PTXLinkDirective::Visible:
            return ".visible";
        case ast::PTXLinkDirective::Weak:
            return ".weak";
        case ast::PTXLinkDirective::None:
            break;
    }
    return f.kind() == ast::PTXFunctionKind::Kernel ? ".entry" : ".func";
}

void describe(std::string& out, const ast::ParsedFile& parsed, std::string_view text) {
    const ast::FileRef file = parsed.root();
    const ast::PTXHeader header = file.header();
    check_text(header.version, "version is not UTF-8");
    out +=
        header.version + ' ' + std::string{ast::member_name(header.target)} + ' ' + number(header.address_size) + '\n';

    std::size_t total = 0;
    std::size_t functions = 0;
    std::optional<std::uint64_t> previous_instruction;
    std::optional<std::uint64_t> previous_function;
    std::vector<std::string> labels;
    std::vector<std::uint64_t> offsets;
    file.functions().for_each([&](ast::FunctionRef f) {
        ++functions;
        const std::uint64_t offset = f.offset();
        check(offset < text.size(), "function offset past the input");
        std::string_view keyword = function_keyword(f);
        check(text.substr(offset, keyword.size()) == keyword, "function offset does not point at its first keyword",
              text.substr(offset, 40));
        check(!previous_function || *previous_function < offset, "function offsets do not ascend");
        check(!previous_instruction || *previous_instruction < offset, "a function starts before the last instruction");
        previous_function = offset;
        const std::string name{f.name()};
        check(!name.empty(), "function with an empty name");
        check_text(name, "function name is not UTF-8");
        out += "function " + name + ' ' + number(offset) + ' ' + std::string{ast::member_name(f.link_directive())} +
               ' ' + std::string{ast::member_name(f.kind())} + '\n';
        std::size_t parameters = 0;
        f.signature().parameters().for_each([&](const ast::ParameterFields& p) {
            ++parameters;
            check(!p.name.empty(), "parameter with an empty name");
            check_text(p.name, "parameter name is not UTF-8");
            out += "param " + std::string{p.name} + ' ' + std::string{ast::member_name(p.type)} + '\n';
        });
        check(parameters == f.signature().parameters().size(), "parameter count differs from the parameters");
        std::size_t statements = 0;
        f.body().statements().for_each([&](const ast::encoding::Byte* record) {
            ++statements;
            describe(out, ast::encoding::get_record<ast::PTXStatement>(record));
        });
        check(statements == f.body().statements().size(), "statement count differs from the statements");
        std::size_t instructions = 0;
        f.body().instructions().for_each([&](const ast::encoding::Byte* record) {
            ++instructions;
            const ast::InstructionRef instr{record};
            const ast::encoding::Byte* p = record;
            const ast::encoding::InstructionHeader head = ast::encoding::get_instruction_header(p);
            check(instr.offset() == head.offset && instr.opcode() == head.opcode &&
                      instr.modifiers() == head.modifiers && instr.is_predicated() == head.guard &&
                      instr.operands().size() == head.operand_count,
                  "an instruction record reads otherwise field by field than whole");
            check(instr.offset() > offset, "instruction before its function");
            check(!previous_instruction || *previous_instruction < instr.offset(), "instruction offsets do not ascend");
            previous_instruction = instr.offset();
            offsets.push_back(instr.offset());
            describe(out, instr, text);
            instr.operands().for_each([&](const ast::encoding::OperandFields& op) {
                using ast::encoding::OperandKind;
                const std::string_view label = op.text;
                if ((op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) &&
                    (label.empty() || label[0] != 'L'))
                    labels.emplace_back(label);
            });
            ++total;
        });
        check(instructions == f.body().instructions().size(), "instruction count differs from the instructions");
    });
    check(functions == file.functions().size(), "function count differs from the functions");

    const ast::InstructionIndex index{file};
    check(index.instruction_count() == total, "instruction count differs from the functions' instructions");
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const std::optional<std::size_t> number = index.number_of(offsets[i]);
        check(number.has_value(), "instruction missing from the instruction lookup");
        check(*number == i && index.instruction(i).offset() == offsets[i],
              "instruction lookup points at another instruction");
        // An offset inside the mnemonic starts no instruction.
        check(!index.number_of(offsets[i] + 1), "instruction lookup finds an offset inside a mnemonic");
    }
    check(!index.number_of(text.size() + 1), "instruction lookup finds an offset past the text");
    std::vector<std::string> referenced;
    ast::for_each_referenced_label(file, [&referenced](std::string_view l) { referenced.emplace_back(l); });
    check(referenced == labels, "referenced labels differ from the operands' labels");
    for (const std::string& l : referenced) out += "label " + l + '\n';
    for (const auto& [name, replacement] : ast::custom_registers(file)) {
        check_text(name, "custom register key is not UTF-8");
        check(replacement.rfind("cr", 0) == 0, "custom register replacement without its prefix", replacement);
        out += "custom " + name + ' ' + replacement + '\n';
    }
}

// One entry call, reduced to what must be repeatable: the value's description, the error text, or the
// out-of-range failure.
struct Result {
    enum class Kind { value, error, out_of_range } kind;
    std::string text;
    std::optional<peg::ParseError> error;
};

void check_error(const peg::ParseError& error, std::string_view text) {
    check(error.offset <= text.size(), "error offset past the input");
    std::optional<peg::Location> where = location_of(text, error.offset);
    check(where.has_value(), "error offset inside a multi-byte character");
    check(where->line == error.location.line && where->column == error.location.column,
          "error line and column disagree with the offset",
          number(where->line) + ":" + number(where->column) + " vs " + number(error.location.line) + ":" +
              number(error.location.column));
    check(!error.expected.empty(), "error with no expected text");
    for (std::size_t i = 1; i < error.expected.size(); ++i)
        check(error.expected[i - 1] < error.expected[i], "expected texts not sorted and distinct");
    std::string rendered = error.text();
    std::string prefix =
        "error at " + number(error.location.line) + ":" + number(error.location.column) + ": expected ";
    check(rendered.rfind(prefix, 0) == 0, "error text does not begin with its location", rendered);
    check_text(rendered, "error text is not UTF-8");
}

template <class T, class Entry, class Describe>
Result run_entry(Entry entry, std::string_view text, Describe describe_value, parser::ParseOptions options = {}) {
    try {
        peg::Outcome<T> outcome = entry(text, options);
        check(outcome.value.has_value() != outcome.error.has_value(),
              "outcome holds both or neither of value and error");
        if (outcome.error) {
            check_error(*outcome.error, text);
            return {Result::Kind::error, outcome.error->text(), outcome.error};
        }
        std::string description;
        describe_value(description, *outcome.value);
        return {Result::Kind::value, description, std::nullopt};
    } catch (const base::NumberOutOfRange& e) {
        return {Result::Kind::out_of_range, e.what(), std::nullopt};
    } catch (const base::InternalError& e) {
        // Only numbers out of range may end a call early; any other internal failure is a broken invariant.
        fail("internal failure", e.what());
    } catch (const std::exception& e) {
        fail("unexpected exception", e.what());
    }
}

// Where two outcomes of one entry differ: their kinds and the first line on which their texts differ.
std::string first_difference(std::string_view rule, const Result& scanned, const Result& ruled) {
    static constexpr const char* kinds[] = {"value", "error", "out of range"};
    std::size_t at = 0;
    while (at < scanned.text.size() && at < ruled.text.size() && scanned.text[at] == ruled.text[at]) ++at;
    const std::size_t line_start = at == 0 ? 0 : scanned.text.rfind('\n', at - 1) + 1;
    const auto line_of = [line_start](const std::string& t) {
        std::string_view rest = std::string_view{t}.substr(std::min(line_start, t.size()));
        return std::string{rest.substr(0, std::min(rest.find('\n'), std::size_t{300}))};
    };
    return std::string{rule} + ": with the scanner " + kinds[static_cast<int>(scanned.kind)] + " \"" +
           line_of(scanned.text) + "\", with the rules alone " + kinds[static_cast<int>(ruled.kind)] + " \"" +
           line_of(ruled.text) + "\"";
}

// What the entry rule's body matched in a first pass, by calling the rules directly: nullopt when it failed.
struct Direct {
    std::optional<peg::Pos> end;
    peg::Pos furthest;
    bool out_of_range;
};

template <class Body>
Direct run_direct(std::string_view text, Body body) {
    peg::Input in{text};
    peg::ErrorState err;
    try {
        std::optional<peg::Pos> end = body(in, err);
        if (end) {
            check(*end <= text.size(), "a rule matched past the end of the input");
            if (*end < text.size()) err.fail_at(*end, "EOF");
        }
        return {end, err.furthest(), false};
    } catch (const base::NumberOutOfRange&) {
        return {std::nullopt, 0, true};
    }
}

template <class T, class Entry, class Describe, class Body>
Result run_checked(Entry entry, std::string_view text, Describe describe_value, Body body, std::string_view rule) {
    Result first = run_entry<T>(entry, text, describe_value);
    Result second = run_entry<T>(entry, text, describe_value);
    check(first.kind == second.kind && first.text == second.text, "two parses of one input differ", rule);
    // The fast scanner only stands in for the rules: without it, the same tree (every instruction's text, offset
    // and guard), the same error text, or the same number out of range.
    Result rules_only = run_entry<T>(entry, text, describe_value, parser::ParseOptions{.fast_scanner = false});
    check(rules_only.kind == first.kind && rules_only.text == first.text,
          "the outcome differs without the fast scanner", first_difference(rule, first, rules_only));

    Direct direct = run_direct(text, body);
    if (direct.out_of_range || first.kind == Result::Kind::out_of_range) {
        check(direct.out_of_range && first.kind == Result::Kind::out_of_range,
              "out-of-range failure not repeatable by a direct call of the rule", rule);
    } else if (first.kind == Result::Kind::value) {
        // Success means the first pass consumed the whole text.
        check(direct.end && *direct.end == text.size(), "entry succeeded without its rule consuming the whole text",
              rule);
    } else {
        check(!direct.end || *direct.end < text.size(), "entry failed although its rule consumed the whole text", rule);
        check(first.error->offset == direct.furthest, "error offset differs from the furthest failure of a first pass",
              rule);
        if (direct.end) check(first.error->offset >= *direct.end, "error lies before the end of a partial match", rule);
    }
    return first;
}

Result check_program(std::string_view text) {
    return run_checked<ast::ParsedFile>(
        parser::parse_program, text, [&](std::string& out, const ast::ParsedFile& file) { describe(out, file, text); },
        [](const peg::Input& in, peg::ErrorState& err) -> std::optional<peg::Pos> {
            auto m = parser::program(in, 0, err);
            if (!m) return std::nullopt;
            return m->end;
        },
        "program");
}

Result check_instruction(std::string_view text, std::optional<ast::PackedInstruction>* value = nullptr) {
    return run_checked<ast::PackedInstruction>(
        parser::parse_single_instruction, text,
        [&](std::string& out, const ast::PackedInstruction& packed) {
            const ast::InstructionRef instr = decoded(packed);
            describe(out, instr, text);
            check(instr.is_predicated().has_value() == (text.substr(0, 3) == "@%p"),
                  "guard present without \"@%p\" at the start, or the reverse");
            if (value != nullptr) *value = packed;
        },
        [](const peg::Input& in, peg::ErrorState& err) -> std::optional<peg::Pos> {
            auto m = parser::instruction(in, 0, err);
            if (!m) return std::nullopt;
            return m->end;
        },
        "parse_single_instruction");
}

Result check_body_line(std::string_view text, std::optional<ast::BodyItem>* value = nullptr) {
    return run_checked<ast::BodyItem>(
        parser::parse_function_body_line, text,
        [&](std::string& out, const ast::BodyItem& item) {
            describe(out, item, text);
            if (value != nullptr) *value = item;
        },
        // A parameter list exactly at the start decides the line; otherwise a body item between whitespace.
        [](const peg::Input& in, peg::ErrorState& err) -> std::optional<peg::Pos> {
            if (auto sig = parser::function_signature(in, 0, err, nullptr)) return sig->end;
            auto item = parser::body_item(in, peg::skip_ws(in, 0), err);
            if (!item) return std::nullopt;
            return peg::skip_ws(in, item->end);
        },
        "parse_function_body_line");
}

constexpr std::string_view kHeader = ".version 8.5\n.target sm_90\n.address_size 64\n";
constexpr std::string_view kOpen = ".entry f()\n{\n";
constexpr std::string_view kClose = "\n}\n";

// A body line that parses on its own parses the same way inside a function body.
void check_in_module(const ast::BodyItem& item, std::string_view line) {
    if (std::holds_alternative<ast::body::Param>(item)) return;
    std::string module{kHeader};
    module += kOpen;
    std::size_t shift = module.size();
    module += line;
    module += kClose;
    try {
        peg::Outcome<ast::ParsedFile> outcome = parser::parse_program(module);
        check(outcome.value.has_value(), "a body line that parses alone fails inside a function",
              outcome.error ? outcome.error->text() : std::string{});
        const ast::FileRef file = outcome.value->root();
        check(file.functions().size() == 1, "wrapped body line: not one function");
        std::vector<ast::encoding::StatementFields> statements;
        std::vector<ast::InstructionRef> instructions;
        file.functions().for_each([&](ast::FunctionRef f) {
            f.body().statements().for_each([&](const ast::encoding::Byte* record) {
                statements.push_back(ast::encoding::get_record<ast::PTXStatement>(record));
            });
            f.body().instructions().for_each(
                [&](const ast::encoding::Byte* record) { instructions.emplace_back(record); });
        });
        if (auto* s = std::get_if<ast::body::Statement>(&item)) {
            std::string a, b;
            check(statements.size() == 1 && instructions.empty(), "wrapped statement not kept alone");
            describe(a, s->_0);
            describe(b, statements[0]);
            check(a == b, "wrapped statement differs", a + " vs " + b);
        } else if (auto* i = std::get_if<ast::body::Instruction>(&item)) {
            check(instructions.size() == 1 && statements.empty(), "wrapped instruction not kept alone");
            const ast::InstructionRef got = instructions[0];
            const ast::InstructionRef alone = decoded(i->_0);
            check(got.offset() == alone.offset() + shift, "wrapped instruction offset not shifted by the prefix");
            check(ast::instruction_text(got.record()) == ast::instruction_text(alone.record()) &&
                      got.is_predicated() == alone.is_predicated(),
                  "wrapped instruction differs");
        } else {
            check(statements.empty() && instructions.empty(), "a label or call left something in the body");
        }
    } catch (const base::NumberOutOfRange&) {
        fail("wrapped body line ends in an out-of-range failure although it parsed alone");
    }
}

// Wherever the fast instruction scanner of the first pass recognises an instruction, the marking rule must give the
// same value and end, and mark nothing past that end.
void check_fast_instruction(std::string_view text) {
    peg::Input in{text};
    std::size_t tried = 0;
    for (peg::Pos pos = 0; pos <= text.size() && tried < 64; ++pos) {
        if (pos != 0 && text[pos - 1] != '\n' && text[pos - 1] != ';') continue;
        ++tried;
        for (peg::Pos start : {pos, peg::skip_ws(in, pos)}) {
            ast::encoding::InstructionBuilder fast_built;
            peg::Pos fast_end = 0;
            if (!parser::fast_instruction_into(in, start, &fast_built, fast_end)) continue;
            ast::encoding::InstructionBuilder generic_built;
            peg::Pos generic_end = 0;
            peg::ErrorState err;
            bool matched = false;
            try {
                matched = parser::generic_instruction_into(in, start, err, &generic_built, generic_end);
            } catch (const base::NumberOutOfRange& e) {
                fail("the rule ends out of range where the fast scanner matched", e.what());
            }
            check(matched, "the fast scanner matched an instruction that the rule rejects");
            check(fast_end == generic_end, "the fast scanner and the rule end an instruction differently");
            check(err.furthest() <= generic_end, "the instruction rule marked past the end of its match");
            const ast::PackedInstruction fast{fast_built.record(), fast_built.size()};
            const ast::PackedInstruction generic{generic_built.record(), generic_built.size()};
            std::string a, b;
            describe(a, decoded(fast), text);
            describe(b, decoded(generic), text);
            check(a == b, "the fast scanner and the rule give different instructions", a + " vs " + b);
            check(std::string_view{reinterpret_cast<const char*>(fast.data()), fast.size()} ==
                      std::string_view{reinterpret_cast<const char*>(generic.data()), generic.size()},
                  "the fast scanner and the rule write different records for one instruction");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text{reinterpret_cast<const char*>(data), size};
    // The module only ever passes the UTF-8 form of a str.
    if (!valid_utf8(text)) return -1;
    g_input = text;

    check_program(text);
    check_fast_instruction(text);

    std::optional<ast::PackedInstruction> instruction;
    Result single = check_instruction(text, &instruction);
    std::optional<ast::BodyItem> item;
    Result line = check_body_line(text, &item);

    // An instruction is also a body line: the same instruction, whatever the line rule tries first.
    if (single.kind == Result::Kind::value) {
        check(item.has_value() && std::holds_alternative<ast::body::Instruction>(*item),
              "an instruction is not accepted as a body line");
        const ast::InstructionRef same = decoded(std::get<ast::body::Instruction>(*item)._0);
        const ast::InstructionRef alone = decoded(*instruction);
        check(same.offset() == alone.offset() &&
                  ast::instruction_text(same.record()) == ast::instruction_text(alone.record()) &&
                  same.is_predicated() == alone.is_predicated(),
              "an instruction parses differently as a body line");
    }
    if (single.kind == Result::Kind::out_of_range)
        check(line.kind == Result::Kind::out_of_range, "out-of-range instruction not out of range as a body line");
    if (item) check_in_module(*item, text);

    // Reach the rules behind the header and the function head without the fuzzer having to find them.
    std::string wrapped{kHeader};
    wrapped += text;
    g_input = wrapped;
    check_program(wrapped);
    wrapped = std::string{kHeader} + std::string{kOpen} + std::string{text} + std::string{kClose};
    g_input = wrapped;
    check_program(wrapped);
    g_input = {};
    return 0;
}
