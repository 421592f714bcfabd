// Fuzz target over the three entry rules: no input may crash, and every outcome must keep the engine's invariants.
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

std::string_view g_input;  // the fuzz input, shown when a check fails

[[noreturn]] void fail(std::string_view what, std::string_view detail = {}) {
    std::fprintf(stderr, "\n*** invariant broken: %.*s\n    detail: %.*s\n    input (%zu bytes): \"",
                 static_cast<int>(what.size()), what.data(), static_cast<int>(detail.size()), detail.data(),
                 g_input.size());
    for (const char c : g_input.substr(0, 2000))
        std::fprintf(stderr, c >= 0x20 && c < 0x7F && c != '\\' && c != '"' ? "%c" : "\\x%02x",
                     static_cast<unsigned char>(c));
    std::fprintf(stderr, "\"\n");
    std::abort();
}

void check(bool ok, std::string_view what, std::string_view detail = {}) {
    if (!ok) fail(what, detail);
}

// Strict UTF-8, as a Python str encodes: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i++]);
        // The bytes that follow the lead byte; 9 for a byte that leads no character.
        const std::size_t extra = c < 0x80 ? 0 : c < 0xC2 ? 9 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : 9;
        if (extra == 9 || s.size() - i < extra) return false;
        std::uint32_t cp = extra == 0 ? c : c & (0x3Fu >> extra);
        for (const std::size_t end = i + extra; i < end; ++i) {
            if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3Fu);
        }
        if ((extra == 2 && cp < 0x800) || (cp >= 0xD800 && cp <= 0xDFFF) || (extra == 3 && cp < 0x10000) ||
            cp > 0x10FFFF)
            return false;
    }
    return true;
}

// Every text the Python layer turns into a str, and every name, must be UTF-8 taken from the input.
void check_text(std::string_view text, std::string_view what, bool from_input = false) {
    check(valid_utf8(text), what, text);
    if (from_input) check(!text.empty() && g_input.find(text) != std::string_view::npos, what, text);
}

// A complete description of a value, for comparing parses; it also renders every text the module can show.
void describe(std::string& out, const ast::encoding::OperandFields& op) {
    using ast::encoding::OperandKind;
    const std::string text = ast::operand_text(op);
    check_text(text, "operand text is not UTF-8");
    out += ast::kOperandUnion.kinds[static_cast<std::size_t>(op.kind)];
    out += ' ' + text + ' ';
    ast::append_tagged(out, op);
    if (op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) check_text(op.text, "label", true);
    check(op.kind != OperandKind::Memory, "the parser produced a Memory operand");
}

void describe(std::string& out, const ast::InstructionRef& ref, std::string_view text) {
    const ast::encoding::Byte* p = ref.record();
    const ast::encoding::InstructionHeader header = ast::encoding::get_instruction_header(p);
    check(ref.offset() == header.offset && ref.opcode() == header.opcode && ref.modifiers() == header.modifiers &&
              ref.is_predicated() == header.guard && ref.operands().size() == header.operand_count,
          "an instruction record reads otherwise field by field than whole");
    const std::string mnemonic = ast::mnemonic(header.opcode);
    check(text.substr(header.offset, mnemonic.size()) == mnemonic, "instruction offset not at its mnemonic");
    const std::string_view mods = header.modifiers;
    const std::string_view after = text.substr(header.offset + mnemonic.size());
    check(mods.empty() || (after[0] == '.' && after.substr(1, mods.size()) == mods),
          "modifiers are not the text after the mnemonic", mods);
    const std::string rendered = ast::instruction_text(ref.record());
    check_text(rendered, "instruction text is not UTF-8");
    out += std::to_string(header.offset) + (header.guard ? " @" + std::to_string(*header.guard) : " -");
    out += ' ' + rendered + (ast::is_float(mods) ? " float" : " int");
    ref.operands().for_each([&](const ast::encoding::OperandFields& op) { describe(out += " | ", op); });
    out += '\n';
}

void describe(std::string& out, const ast::encoding::StatementFields& s) {
    static_assert(std::variant_size_v<ast::PTXStatement> == 5, "a description of every statement variant");
    const auto is = [&s](auto variant) { return s.kind == ast::index_of<ast::PTXStatement, decltype(variant)>; };
    out += "statement " + std::to_string(s.kind);
    if (!is(ast::statement::Pragma{}))
        out += ' ' + std::string{ast::member_name(s.space)} + ' ' + std::string{ast::member_name(s.type)};
    if (is(ast::statement::CustomRegister{})) {
        check_text(s.name, "declared register not in the input", true);
        out += ' ' + std::string{s.name};
    }
    if (!is(ast::statement::Pragma{}) && !is(ast::statement::CustomRegister{}))
        out += ' ' + std::to_string(static_cast<std::uint64_t>(s.count >> 64)) + ':' +
               std::to_string(static_cast<std::uint64_t>(s.count));
    if (is(ast::statement::SharedMemory{}) || is(ast::statement::LocalMemory{})) {
        const ast::encoding::Byte* p = s.operand.data();
        const ast::encoding::OperandFields name = ast::encoding::get_record<ast::PTXOperand>(p);
        check(name.kind == ast::encoding::OperandKind::Label, "array name is not a Label operand");
        describe(out += ' ', name);
    }
    out += '\n';
}

void describe(std::string& out, const ast::encoding::Byte* record) {
    describe(out, ast::encoding::get_record<ast::PTXStatement>(record));
}

void describe(std::string& out, const ast::PTXStatement& s) {
    std::vector<ast::encoding::Byte> record;
    ast::encoding::Append append{&record};
    ast::encoding::put_statement(append, s);
    describe(out, record.data());
}

void describe(std::string& out, const ast::BodyItem& item, std::string_view text) {
    out += ast::kBodyItemUnion.kinds[item.index()];
    out += ' ';
    if (const auto* s = std::get_if<ast::body::Statement>(&item)) describe(out, s->_0);
    if (const auto* i = std::get_if<ast::body::Instruction>(&item)) {
        check(ast::encoding::instruction_size(i->_0.data()) == i->_0.size(), "an instruction record of another size");
        describe(out, ast::InstructionRef{i->_0.data()}, text);
    }
    if (const auto* l = std::get_if<ast::body::LabelDef>(&item)) check_text(l->_0, "label not in the input", true);
    if (const auto* c = std::get_if<ast::body::Call>(&item)) check_text(c->_0, "callee not in the input", true);
}

// The tree against its readers: counts, ascending offsets, the instruction index and the derived tables.
void describe(std::string& out, const ast::ParsedFile& parsed, std::string_view text) {
    const ast::FileRef file = parsed.root();
    const ast::PTXHeader header = file.header();
    out += header.version + ' ' + std::string{ast::member_name(header.target)} + ' ' +
           std::to_string(header.address_size) + '\n';
    // f(item) for each item of a list, which must hold as many items as it counts.
    const auto each = [](const auto& items, auto&& f) {
        std::size_t n = 0;
        items.for_each([&](const auto& item) { f(item), ++n; });
        check(n == items.size(), "a list holds other than its count");
    };
    std::vector<std::uint64_t> offsets;
    std::vector<std::string> labels;
    std::uint64_t last = 0;
    each(file.functions(), [&](ast::FunctionRef f) {
        check(f.offset() < text.size() && (offsets.empty() || f.offset() > last), "functions do not ascend");
        last = f.offset();
        check_text(f.name(), "function name not in the input", true);
        out += "function " + std::string{f.name()} + ' ' + std::to_string(f.offset()) + ' ' +
               std::string{ast::member_name(f.link_directive())} + ' ' + std::string{ast::member_name(f.kind())} + '\n';
        each(f.signature().parameters(), [&](const ast::encoding::ParameterFields& p) {
            check_text(p.name, "parameter not in the input", true);
            out += "param " + std::string{p.name} + ' ' + std::string{ast::member_name(p.type)} + '\n';
        });
        each(f.body().statements(), [&](const ast::encoding::Byte* record) { describe(out, record); });
        each(f.body().instructions(), [&](const ast::encoding::Byte* record) {
            const ast::InstructionRef ref{record};
            check(ref.offset() > last, "instruction offsets do not ascend");
            offsets.push_back(last = ref.offset());
            describe(out, ref, text);
            ref.operands().for_each([&](const ast::encoding::OperandFields& op) {
                using K = ast::encoding::OperandKind;
                const std::string_view name = op.text;
                if ((op.kind == K::Label || op.kind == K::MemoryLbl) && name[0] != 'L') labels.emplace_back(name);
            });
        });
    });
    const ast::InstructionIndex index{file};
    check(index.instruction_count() == offsets.size(), "the index counts other instructions");
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        check(index.number_of(offsets[i]) == i && index.instruction(i).offset() == offsets[i], "the index errs");
        check(!index.number_of(offsets[i] + 1), "the index finds an offset inside a mnemonic");
    }
    check(!index.number_of(text.size() + 1), "the index finds an offset past the text");
    std::vector<std::string> referenced;
    ast::for_each_referenced_label(file, [&referenced](std::string_view l) { referenced.emplace_back(l); });
    check(referenced == labels, "referenced labels differ from the operands' labels");
    for (const auto& [name, replacement] : ast::custom_registers(file)) {
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
    for (std::size_t k = 1; k < error.expected.size(); ++k)
        check(error.expected[k - 1] < error.expected[k], "expected texts not sorted and distinct");
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
            fail("internal failure", e.what());
        }
    }
    check(results[0] == results[1], "two parses of one input differ");
    return results[0];
}

// Every path of the first stage classifies each block of the text alike.
void check_first_stage(std::string_view text) {
    using peg::ClassifyWith;
    for (std::size_t start = 0; start < text.size(); start += peg::kBlock) {
        unsigned char block[peg::kBlock] = {};
        text.copy(reinterpret_cast<char*>(block), peg::kBlock, start);
        const auto scalar = parser::FirstStage::classify(ClassifyWith::Scalar, block);
        check(parser::FirstStage::classify(ClassifyWith::Sse2, block) == scalar, "SSE2 classifies otherwise");
        if (peg::classify_with() == ClassifyWith::Avx2)
            check(parser::FirstStage::classify(ClassifyWith::Avx2, block) == scalar, "AVX2 classifies otherwise");
    }
}

constexpr std::string_view kHeader = ".version 8.5\n.target sm_90\n.address_size 64\n";
constexpr std::string_view kOpen = ".entry f()\n{\n";
constexpr std::string_view kClose = "\n}\n";

Result check_program(std::string_view text) {
    return run<ast::ParsedFile>(parser::parse_program, text,
                                [&](std::string& out, const ast::ParsedFile& file) { describe(out, file, text); });
}

// A body line that parses on its own parses the same way inside a function body.
void check_in_module(const ast::BodyItem& item, std::string_view line) {
    if (std::holds_alternative<ast::body::Param>(item)) return;
    const std::string module = std::string{kHeader} + std::string{kOpen} + std::string{line} + std::string{kClose};
    const std::size_t shift = kHeader.size() + kOpen.size();
    peg::Outcome<ast::ParsedFile> outcome = parser::parse_program(module);
    check(outcome.value.has_value(), "a body line that parses alone fails inside a function");
    std::string alone, inside;
    outcome.value->root().functions().for_each([&](ast::FunctionRef f) {
        f.body().statements().for_each([&](const ast::encoding::Byte* r) { describe(inside, r); });
        f.body().instructions().for_each([&](const ast::encoding::Byte* r) {
            inside += std::to_string(ast::InstructionRef{r}.offset() - shift) + ast::instruction_text(r) + '\n';
        });
    });
    if (const auto* s = std::get_if<ast::body::Statement>(&item)) describe(alone, s->_0);
    if (const auto* i = std::get_if<ast::body::Instruction>(&item)) {
        const ast::InstructionRef instr{i->_0.data()};
        alone += std::to_string(instr.offset()) + ast::instruction_text(instr.record()) + '\n';
    }
    check(alone == inside, "a body line reads otherwise inside a function", alone + " vs " + inside);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy, for the NUL that the parser needs after the text.
    const std::string input{reinterpret_cast<const char*>(data), size};
    const std::string_view text{input};
    // The module only ever passes the UTF-8 form of a str.
    if (!valid_utf8(text)) return -1;
    g_input = text;

    check_first_stage(text);
    check_program(text);
    const Result single = run<ast::PackedInstruction>(
        parser::parse_single_instruction, text, [&](std::string& out, const ast::PackedInstruction& packed) {
            check(ast::encoding::instruction_size(packed.data()) == packed.size(), "a record of another size");
            const ast::InstructionRef ref{packed.data()};
            check(ref.is_predicated().has_value() == (text.substr(0, 3) == "@%p"), "guard without \"@%p\" first");
            describe(out, ref, text);
        });
    std::optional<ast::BodyItem> item;
    const Result line =
        run<ast::BodyItem>(parser::parse_function_body_line, text, [&](std::string& out, const ast::BodyItem& value) {
            describe(out, value, text);
            item = value;
        });
    // An instruction is also a body line: the same instruction, whatever the line rule tries first.
    if (single.kind == Result::Kind::value)
        check(line.kind == Result::Kind::value && line.text == "instruction " + single.text,
              "an instruction reads otherwise as a body line");
    if (single.kind == Result::Kind::out_of_range)
        check(line.kind == Result::Kind::out_of_range, "out-of-range instruction not out of range as a body line");
    if (item && line.kind == Result::Kind::value) check_in_module(*item, text);

    // Reach the rules behind the header and the function head without the fuzzer having to find them.
    for (const std::string& wrapped :
         {std::string{kHeader} + std::string{text},
          std::string{kHeader} + std::string{kOpen} + std::string{text} + std::string{kClose}}) {
        g_input = wrapped;
        check_program(wrapped);
    }
    g_input = {};
    return 0;
}
