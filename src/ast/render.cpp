// Text forms of registers, operands and instructions.
#include "ast/render.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>

namespace zorvane::ast {

using namespace encoding;
namespace {

void append_number(std::string& out, std::uint64_t n) {
    char digits[20];
    const auto written = std::to_chars(std::begin(digits), std::end(digits), n);
    out.append(digits, written.ptr);
}

void append_number(std::string& out, u128 n) {
    constexpr std::uint64_t kTenToThe19 = 10'000'000'000'000'000'000u;
    if (n < kTenToThe19) return append_number(out, static_cast<std::uint64_t>(n));
    append_number(out, n / kTenToThe19);
    const std::string low = std::to_string(static_cast<std::uint64_t>(n % kTenToThe19));
    out.append(19 - low.size(), '0') += low;
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

std::string register_text(const RegisterFields& reg) {
    static_assert(std::variant_size_v<PTXRegister> == 5, "a register text for every variant");
    std::string out = "%";
    switch (reg.kind) {
        case RegisterKind::General:
            out += 'r';
            append_number(out, reg.number);
            break;
        case RegisterKind::Wide:
            out += "rd";
            append_number(out, reg.number);
            break;
        case RegisterKind::Float:
            out += 'f';
            append_number(out, reg.number);
            break;
        case RegisterKind::Special:
            out += member_name(reg.special);
            out += '.';
            out += member_name(reg.direction);
            break;
        case RegisterKind::Custom:
            out += std::string_view{reg.name};
            break;
    }
    return out;
}

std::string operand_text(const OperandFields& op) {
    static_assert(std::variant_size_v<PTXOperand> == 10, "an operand text for every variant");
    std::string out;
    switch (op.kind) {
        case OperandKind::Immediate:
        case OperandKind::FloatImmediate:
            append_number(out, op.value);
            break;
        case OperandKind::Register:
            out += '%';
            append_tagged(out, op.reg);
            break;
        case OperandKind::Predicate:
            out += "@%p";
            append_number(out, op.value);
            break;
        case OperandKind::Memory:
            out += "[]";
            break;
        case OperandKind::MemoryLbl:
            out += '[';
            out += std::string_view{op.text};
            out += ']';
            break;
        case OperandKind::MemoryRegDisp:
            out += "[%";
            append_tagged(out, op.reg);
            if (op.value != 0) out += '+', append_number(out, op.value);
            out += ']';
            break;
        case OperandKind::Label:
            out += std::string_view{op.text};
            break;
        case OperandKind::Vector:
            out += "vector";
            break;
        case OperandKind::RegPredPair:
            out += "rp_pair";
            break;
    }
    return out;
}

namespace {

template <class V>
void append_tagged_record(std::string& out, const FieldsOf<V>& fields);

template <class N>
requires std::is_same_v<N, std::uint64_t> || std::is_same_v<N, u128>
void append_tagged_field(std::string& out, N number) {
    append_number(out, number);
}
template <class E>
requires std::is_enum_v<E>
void append_tagged_field(std::string& out, E member) {
    out += member_name(member);
}
void append_tagged_field(std::string& out, TextView text) {
    append_quoted(out, text);
}
void append_tagged_field(std::string& out, const RegisterFields& reg) {
    append_tagged_record<PTXRegister>(out, reg);
}
void append_tagged_field(std::string& out, const RegisterList& list) {
    out += '[';
    const Byte* p = list.bytes;
    for (std::size_t i = 0; i < list.count; ++i) {
        if (i != 0) out += ", ";
        append_tagged_field(out, get_record<PTXRegister>(p));
    }
    out += ']';
}

template <class V>
void append_tagged_record(std::string& out, const FieldsOf<V>& fields) {
    with_variant<V>(static_cast<std::size_t>(fields.kind), [&](auto i) {
        out += description_of<V>().names[i];
        if constexpr (arity<V, i> != 0) {
            out += '(';
            for_each_field<V, i>([&](auto k) {
                if constexpr (k != 0) out += ", ";
                using T = FieldType<V, i, k>;
                if constexpr (is_record_v<T>) {
                    const Byte* p = get_slot(fields, Tag<T>{}).data();
                    append_tagged_record<T>(out, get_record<T>(p));
                } else {
                    append_tagged_field(out, get_slot(fields, Tag<T>{}));
                }
            });
            out += ')';
        }
    });
}

}  // namespace

void append_tagged(std::string& out, const RegisterFields& reg) {
    append_tagged_record<PTXRegister>(out, reg);
}

void append_tagged(std::string& out, const OperandFields& op) {
    append_tagged_record<PTXOperand>(out, op);
}

void append_tagged(std::string& out, const StatementFields& statement) {
    append_tagged_record<PTXStatement>(out, statement);
}

bool is_float(std::string_view m) {
    return m.find("f32") != std::string_view::npos || m.find("f64") != std::string_view::npos ||
           m.find("f8") != std::string_view::npos;
}

std::string instruction_text(const Byte* record) {
    const Byte* p = record;
    const InstructionHeader header = get_instruction_header(p);
    std::string out;
    out.reserve(128);  // most texts fit: one allocation instead of several as it grows
    out += "PTXInstruction(opcode='";
    out += member_name(header.opcode);
    out += "', modifiers='";
    out += header.modifiers;
    out += "', operands=[";
    for (std::size_t i = 0; i < header.operand_count; ++i) {
        if (i != 0) out += ", ";
        append_tagged(out, get_record<PTXOperand>(p));
    }
    out += "])";
    return out;
}

}  // namespace zorvane::ast
