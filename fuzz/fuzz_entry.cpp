// Fuzz target over the three entry rules: no input may crash, and every outcome must keep the engine's invariants.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ast/file.hpp"
#include "ast/index.hpp"
#include "ast/instructions.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/refs.hpp"
#include "ast/render.hpp"
#include "ast/tables.hpp"
#include "parser/entry.hpp"
#include "parser/grammar.hpp"
#include "peg/engine.hpp"

namespace {

using namespace zorvane;
using namespace zorvane::ast;
using namespace zorvane::ast::encoding;

std::string_view g_input;           // the text being parsed: the fuzz input, or the input inside a module
std::vector<std::string> g_labels;  // the labels of the operands described, other than "L..." branch targets

// A broken invariant aborts; libFuzzer keeps the input, and the replay names its file.
void check(bool ok, std::string_view what, std::string_view detail = "") {
    if (ok) return;
    std::fprintf(stderr, "\n*** invariant broken: %.*s\n    detail: %.*s\n", static_cast<int>(what.size()), what.data(),
                 static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// UTF-8 as far as the parser and the renderings can tell: each lead byte followed by as many continuation bytes as it
// announces. A str's UTF-8 form is stricter (no overlong forms, no surrogates), which neither depends on.
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i++]);
        const std::size_t extra = c < 0x80 ? 0 : c < 0xC0 ? 9 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF8 ? 3 : 9;
        if (extra == 9 || extra > s.size() - i) return false;
        for (const std::size_t end = i + extra; i < end; ++i)
            if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return false;
    }
    return true;
}

// Every text the Python layer turns into a str, and every name, must be UTF-8 taken from the input.
void check_text(std::string_view text, std::string_view what, bool from_input = false) {
    check(valid_utf8(text), what, text);
    if (from_input) check(!text.empty() && g_input.find(text) != std::string_view::npos, what, text);
}

// A complete description of a value, for comparing parses; it also renders every text the module can show.
void describe(std::string& out, const OperandFields& op) {
    const std::string text = operand_text(op);
    check_text(text, "operand text is not UTF-8");
    out += kOperandUnion.kinds[static_cast<std::size_t>(op.kind)];
    out += ' ' + text;
    if (op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) {
        check_text(op.text, "label", true);
        if (std::string_view{op.text}[0] != 'L') g_labels.emplace_back(op.text);
    }
    check(op.kind != OperandKind::Memory, "the parser produced a Memory operand");
}

// `text` is what the offsets index; the description shows them less `shift`.
void describe(std::string& out, const InstructionRef& ref, std::string_view text, std::size_t shift = 0) {
    const Byte* p = ref.record();
    const InstructionHeader header = get_instruction_header(p);
    check(ref.offset() == header.offset && ref.opcode() == header.opcode && ref.modifiers() == header.modifiers &&
              ref.is_predicated() == header.guard && ref.operands().size() == header.operand_count,
          "an instruction record reads otherwise field by field than whole");
    const std::string name = mnemonic(header.opcode);
    check(text.substr(header.offset, name.size()) == name, "instruction offset not at its mnemonic");
    const std::string_view mods = header.modifiers;
    const std::string_view after = text.substr(header.offset + name.size());
    check(mods.empty() || (after[0] == '.' && after.substr(1, mods.size()) == mods),
          "modifiers are not the text after the mnemonic", mods);
    const std::string rendered = instruction_text(ref.record());
    check_text(rendered, "instruction text is not UTF-8");
    out += std::to_string(header.offset - shift) + (header.guard ? " @" + std::to_string(*header.guard) : " -");
    out += ' ' + rendered + (is_float(mods) ? " float" : " int");
    ref.operands().for_each([&](const OperandFields& op) { describe(out += " | ", op); });
    out += '\n';
}

void describe(std::string& out, const Byte* record) {
    const StatementFields s = get_record<PTXStatement>(record);
    append_tagged(out, s);
    out += '\n';
    if (s.kind == index_of<PTXStatement, statement::CustomRegister>)
        check_text(s.name, "declared register not in the input", true);
    if (!s.operand.empty()) {
        const Byte* p = s.operand.data();
        const OperandFields name = get_record<PTXOperand>(p);
        check(name.kind == OperandKind::Label, "array name is not a Label operand");
        check_text(name.text, "array name not in the input", true);
    }
}

void describe(std::string& out, const BodyItem& item, std::string_view text) {
    out += kBodyItemUnion.kinds[item.index()];
    out += ' ';
    if (const auto* s = std::get_if<body::Statement>(&item)) {
        std::vector<Byte> record;
        Append append{&record};
        put_statement(append, s->_0);
        describe(out, record.data());
    }
    if (const auto* i = std::get_if<body::Instruction>(&item)) {
        check(instruction_size(i->_0.data()) == i->_0.size(), "an instruction record of another size");
        describe(out, InstructionRef{i->_0.data()}, text);
    }
    if (const auto* l = std::get_if<body::LabelDef>(&item)) check_text(l->_0, "label not in the input", true);
    if (const auto* c = std::get_if<body::Call>(&item)) check_text(c->_0, "callee not in the input", true);
}

// The tree against its readers: counts, ascending offsets, the instruction index and the derived tables.
void describe(std::string& out, const ParsedFile& parsed, std::string_view text) {
    const FileRef file = parsed.root();
    const PTXHeader header = file.header();
    out += header.version + ' ' + std::string{member_name(header.target)} + ' ' + std::to_string(header.address_size) +
           '\n';
    // f(item) for each item of a list, which must hold as many items as it counts.
    const auto each = [](const auto& items, auto&& f) {
        std::size_t n = 0;
        items.for_each([&](const auto& item) { f(item), ++n; });
        check(n == items.size(), "a list holds other than its count");
    };
    std::vector<std::uint64_t> offsets;
    g_labels.clear();
    std::optional<std::uint64_t> last;  // the offset of the last function or instruction
    each(file.functions(), [&](FunctionRef f) {
        check(f.offset() < text.size() && (!last || f.offset() > *last), "functions do not ascend");
        last = f.offset();
        check_text(f.name(), "function name not in the input", true);
        out += "function " + std::string{f.name()} + ' ' + std::to_string(f.offset()) + ' ' +
               std::string{member_name(f.link_directive())} + ' ' + std::string{member_name(f.kind())} + '\n';
        each(f.signature().parameters(), [&](const ParameterFields& p) {
            check_text(p.name, "parameter not in the input", true);
            out += "param " + std::string{p.name} + ' ' + std::string{member_name(p.type)} + '\n';
        });
        each(f.body().statements(), [&](const Byte* record) { describe(out, record); });
        each(f.body().instructions(), [&](const Byte* record) {
            const InstructionRef ref{record};
            check(ref.offset() > *last, "instruction offsets do not ascend");
            offsets.push_back(*(last = ref.offset()));
            describe(out, ref, text);
        });
    });
    const InstructionIndex index{file};
    check(index.instruction_count() == offsets.size(), "the index counts other instructions");
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        check(index.number_of(offsets[i]) == i && index.instruction(i).offset() == offsets[i], "the index errs");
        check(!index.number_of(offsets[i] + 1), "the index finds an offset inside a mnemonic");
    }
    check(!index.number_of(text.size() + 1), "the index finds an offset past the text");
    std::vector<std::string> referenced;
    for_each_referenced_label(file, [&referenced](std::string_view l) { referenced.emplace_back(l); });
    check(referenced == g_labels, "referenced labels differ from the operands' labels");
    for (const auto& [name, replacement] : custom_registers(file)) {
        check(replacement.rfind("cr", 0) == 0, "custom register replacement without its prefix", replacement);
        out += "custom " + name + ' ' + replacement + '\n';
    }
}

// One entry call, reduced to what must be repeatable: the value's description, the error text, or the out-of-range
// failure.
struct Result {
    enum class Kind { value, error, out_of_range } kind;
    std::string text;
    bool operator==(const Result&) const = default;
};

void check_error(const peg::ParseError& error, std::string_view text) {
    check(error.offset <= text.size(), "error offset past the input");
    // The silent pass leaves out only failures that a later one passes: the furthest is what every failure gives.
    check(error.offset == error.furthest_marked, "the silent pass found another furthest failure than every mark",
          std::to_string(error.offset) + " vs " + std::to_string(error.furthest_marked));
    check(error.offset == text.size() || (static_cast<unsigned char>(text[error.offset]) & 0xC0) != 0x80,
          "error offset inside a multi-byte character");
    check(!error.expected.empty(), "error with no expected text");
    check(
        std::adjacent_find(error.expected.begin(), error.expected.end(), std::greater_equal{}) == error.expected.end(),
        "expected texts not sorted and distinct");
    check_text(error.text(), "error text is not UTF-8");
}

// The entry run twice: the same outcome both times.
template <class T, class Entry, class Describe>
Result run(Entry entry, std::string_view text, Describe describe_value) {
    Result results[2];
    for (Result& result : results) {
        try {
            peg::Outcome<T> outcome = entry(text);
            check(outcome.value.has_value() != outcome.error.has_value(), "outcome holds both or neither");
            if (outcome.error) {
                check_error(*outcome.error, text);
                result = {Result::Kind::error, outcome.error->text()};
            } else {
                result.kind = Result::Kind::value;
                describe_value(result.text, *outcome.value);
            }
        } catch (const base::NumberOutOfRange& e) {
            result = {Result::Kind::out_of_range, e.what()};
        } catch (const std::exception& e) {
            // Only numbers out of range may end a call early; any other failure is a broken invariant.
            check(false, "internal failure", e.what());
        }
    }
    check(results[0] == results[1], "two parses of one input differ");
    return results[0];
}

// Every path of the first stage classifies each block of the text alike: SSE2, and the one this processor runs.
void check_first_stage(std::string_view text) {
    for (std::size_t start = 0; start < text.size(); start += peg::kBlock) {
        unsigned char block[peg::kBlock] = {};
        text.copy(reinterpret_cast<char*>(block), peg::kBlock, start);
        const auto scalar = parser::FirstStage::classify(peg::ClassifyWith::Scalar, block);
        for (const peg::ClassifyWith path : {peg::ClassifyWith::Sse2, peg::classify_with()})
            check(parser::FirstStage::classify(path, block) == scalar, "a vector path classifies otherwise");
    }
}

const std::string kHeader = ".version 8.5\n.target sm_90\n.address_size 64\n";
const std::string kOpen = ".entry f()\n{\n";
const std::string kClose = "\n}\n";

// A whole module, and `also` of its tree.
Result check_program(std::string_view text, const std::function<void(const ParsedFile&)>& also = {}) {
    g_input = text;
    return run<ParsedFile>(parser::parse_program, text, [&](std::string& out, const ParsedFile& file) {
        describe(out, file, text);
        if (also) also(file);
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy, for the NUL that the parser needs after the text.
    const std::string input{reinterpret_cast<const char*>(data), size};
    const std::string_view text{input};
    // The module only ever passes the UTF-8 form of a str.
    if (!valid_utf8(text)) return -1;
    check_first_stage(text);
    check_program(text);
    const Result single = run<PackedInstruction>(
        parser::parse_single_instruction, text, [&](std::string& out, const PackedInstruction& packed) {
            check(instruction_size(packed.data()) == packed.size(), "a record of another size");
            const InstructionRef ref{packed.data()};
            check(ref.is_predicated().has_value() == (text.substr(0, 3) == "@%p"), "guard without \"@%p\" first");
            describe(out, ref, text);
        });
    const Result line = run<BodyItem>(parser::parse_function_body_line, text,
                                      [&](std::string& out, const BodyItem& item) { describe(out, item, text); });
    // An instruction is also a body line: the same instruction, whatever the line rule tries first.
    if (single.kind == Result::Kind::value)
        check(line.kind == Result::Kind::value && line.text == "instruction " + single.text,
              "an instruction reads otherwise as a body line");
    if (single.kind == Result::Kind::out_of_range)
        check(line.kind == Result::Kind::out_of_range, "out-of-range instruction not out of range as a body line");

    // Reach the rules behind the header and the function head without the fuzzer having to find them.
    const std::string headed = kHeader + std::string{text};
    check_program(headed);
    // A body line that parses alone, other than a parameter list, parses inside a function body too: a statement or
    // an instruction reads the same there, where instruction offsets count from the body's start, and a label or a
    // call block leaves neither.
    const std::string module = kHeader + kOpen + std::string{text} + kClose;
    std::string body;
    const Result in_module = check_program(module, [&](const ParsedFile& file) {
        body.clear();
        file.root().functions().for_each([&](FunctionRef f) {
            f.body().statements().for_each([&](const Byte* r) { describe(body += "statement ", r); });
            f.body().instructions().for_each([&](const Byte* r) {
                describe(body += "instruction ", InstructionRef{r}, module, kHeader.size() + kOpen.size());
            });
        });
    });
    if (line.kind == Result::Kind::value && !line.text.starts_with("param ")) {
        const bool kept = line.text.starts_with("statement ") || line.text.starts_with("instruction ");
        check(in_module.kind == Result::Kind::value && body == (kept ? line.text : ""),
              "a body line reads otherwise in a function", line.text + " vs " + body);
    }
    return 0;
}
