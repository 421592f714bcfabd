// Text renderings of registers and operands.
#include "ast/operands.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>

namespace zorvane::ast {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
// Older clang does not deduce aggregate template arguments without a guide.
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

void append_number(std::string& out, std::uint64_t n) {
    char digits[20];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), n);
    out.append(digits, written.ptr);
}

// Decodes one UTF-8 character; the texts come from Python or from the parser, so they are valid UTF-8.
char32_t decode(std::string_view text, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || i + extra >= text.size()) return byte(i++);
    char32_t cp = lead & (0x3Fu >> extra);
    for (std::size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    i += extra + 1;
    return cp;
}

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Control, format, private-use, unassigned and separator characters, and every space but U+0020.
constexpr CodePointRange kUnprintable[] = {
#include "ast/unprintable_ranges.inc"
};

// Such characters are shown as escapes rather than written raw, so a tagged form never hides what a name holds.
bool is_printable(char32_t cp) {
    auto it = std::upper_bound(std::begin(kUnprintable), std::end(kUnprintable), cp,
                               [](char32_t c, const CodePointRange& r) { return c < r.first; });
    return it == std::begin(kUnprintable) || cp > std::prev(it)->last;
}

}  // namespace

// Printable ASCII but the quote and the backslash: written as it is, which is nearly every character of a name.
constexpr bool is_plain(unsigned char c) {
    return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t start = i;
        while (i < text.size() && is_plain(static_cast<unsigned char>(text[i]))) ++i;
        if (i != start) {
            out.append(text.substr(start, i - start));
            continue;
        }
        char32_t cp = decode(text, i);
        switch (cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (is_printable(cp)) {
                    out.append(text.substr(start, i - start));
                } else {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                    out += buf;
                }
        }
    }
    out += '"';
}

std::string register_text(const PTXRegister& r) {
    std::string out = "%";
    std::visit(Overloaded{
                   [&](const reg::General& g) { out += 'r', append_number(out, g._0); },
                   [&](const reg::Wide& w) { out += "rd", append_number(out, w._0); },
                   [&](const reg::Float& f) { out += 'f', append_number(out, f._0); },
                   [&](const reg::Special& s) {
                       out += member_name(s._0);
                       out += '.';
                       out += member_name(s._1);
                   },
                   [&](const reg::Custom& c) { out += c._0; },
               },
               r);
    return out;
}

void append_register_tagged(std::string& out, const PTXRegister& r) {
    std::visit(Overloaded{
                   [&](const reg::General& g) { out += "General(", append_number(out, g._0), out += ')'; },
                   [&](const reg::Wide& w) { out += "Wide(", append_number(out, w._0), out += ')'; },
                   [&](const reg::Float& f) { out += "Float(", append_number(out, f._0), out += ')'; },
                   [&](const reg::Special& s) {
                       out += "Special(";
                       out += member_name(s._0);
                       out += ", ";
                       out += member_name(s._1);
                       out += ')';
                   },
                   [&](const reg::Custom& c) { out += "Custom(", append_quoted(out, c._0), out += ')'; },
               },
               r);
}

std::string register_tagged(const PTXRegister& r) {
    std::string out;
    append_register_tagged(out, r);
    return out;
}

std::string_view operand_kind(const PTXOperand& op) noexcept {
    static constexpr std::string_view kinds[] = {
        "imm",          "float_imm",       "reg",   "predicate", "memory",
        "memory_label", "memory_reg_disp", "label", "vector",    "reg_pred_pair"};
    return kinds[op.index()];
}

std::string operand_text(const PTXOperand& op) {
    std::string out;
    std::visit(Overloaded{
                   [&](const operand::Immediate& o) { append_number(out, o._0); },
                   [&](const operand::FloatImmediate& o) { append_number(out, o._0); },
                   [&](const operand::Register& o) { out += '%', append_register_tagged(out, o._0); },
                   [&](const operand::Predicate& o) { out += "@%p", append_number(out, o._0); },
                   [&](const operand::Memory&) { out += "[]"; },
                   [&](const operand::MemoryLbl& o) { out += '[', out += o._0, out += ']'; },
                   [&](const operand::MemoryRegDisp& o) {
                       out += "[%";
                       append_register_tagged(out, o._0);
                       if (o._1 != 0) out += '+', append_number(out, o._1);
                       out += ']';
                   },
                   [&](const operand::Label& o) { out += o._0; },
                   [&](const operand::VectorOperand&) { out += "vector"; },
                   [&](const operand::RegPredPair&) { out += "rp_pair"; },
               },
               op);
    return out;
}

void append_operand_tagged(std::string& out, const PTXOperand& op) {
    std::visit(
        Overloaded{
            [&](const operand::Immediate& o) { out += "Immediate(", append_number(out, o._0), out += ')'; },
            [&](const operand::FloatImmediate& o) { out += "FloatImmediate(", append_number(out, o._0), out += ')'; },
            [&](const operand::Register& o) { out += "Register(", append_register_tagged(out, o._0), out += ')'; },
            [&](const operand::Predicate& o) { out += "Predicate(", append_number(out, o._0), out += ')'; },
            [&](const operand::Memory&) { out += "Memory"; },
            [&](const operand::MemoryLbl& o) { out += "MemoryLbl(", append_quoted(out, o._0), out += ')'; },
            [&](const operand::MemoryRegDisp& o) {
                out += "MemoryRegDisp(";
                append_register_tagged(out, o._0);
                out += ", ";
                append_number(out, o._1);
                out += ')';
            },
            [&](const operand::Label& o) { out += "Label(", append_quoted(out, o._0), out += ')'; },
            [&](const operand::VectorOperand& o) {
                out += "VectorOperand([";
                for (std::size_t i = 0; i < o._0.size(); ++i) {
                    if (i != 0) out += ", ";
                    append_register_tagged(out, o._0[i]);
                }
                out += "])";
            },
            [&](const operand::RegPredPair& o) {
                out += "RegPredPair(";
                append_register_tagged(out, o._0);
                out += ", ";
                append_number(out, o._1);
                out += ')';
            },
        },
        op);
}

}  // namespace zorvane::ast
