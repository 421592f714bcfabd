// The fast scanner for the common shapes of an instruction, used by the first pass in place of the marking rules.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/char_classes.hpp"
#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

namespace encoding = ast::encoding;
using peg::skip_ws;

namespace {

// The scanner reads one instruction, which ends at a ";", and starts no later than the last ";" of the text. No
// loop below takes a ";", so every loop stops at one at the latest, and a read of the byte after one that was
// checked to be something else stays within the text: the reads need no bounds checks (a debug-checks build checks
// the positions). Each reader gives the value and end that the rule would give at `pos`, or false when it is
// unsure; it never marks, and throws only where a debug check fails. A "/" where blanks may be (a comment) and
// numbers that might not fit are left to the rule.
constexpr std::size_t kSafeDigits = 18;
constexpr std::size_t kSafeHexDigits = 16;

using encoding::OperandFields;
using encoding::OperandKind;
using encoding::RegisterFields;
using encoding::RegisterKind;

// The registers of the vector operands of the instruction being read; more are left to the rule.
struct VectorRegisters {
    static constexpr std::size_t kCapacity = 32;
    RegisterFields items[kCapacity];
    std::size_t size = 0;
};

struct Scanner {
    const Input& in;
    const unsigned char* s;

    // Blanks from `p`; false where a comment may start.
    bool skip_blanks(Pos& p) const {
        ZORVANE_DEBUG_CHECK(p <= in.last_semicolon, "the fast scanner reads past the last \";\" of the text");
        while (peg::kWhitespaceStart[s[p]] == 1) ++p;
        return s[p] != '/';
    }

    // A run of 1 to kSafeDigits digits at `pos`.
    bool read_decimal(Pos pos, std::uint64_t& value, Pos& end) const {
        Pos p = pos;
        std::uint64_t v = 0;
        while (peg::is_digit(s[p])) {
            v = v * 10 + static_cast<std::uint64_t>(s[p] - '0');
            ++p;
        }
        if (p == pos || p - pos > kSafeDigits) return false;
        ZORVANE_DEBUG_CHECK(p <= in.last_semicolon, "a number read by the fast scanner ends past the last \";\"");
        value = v;
        end = p;
        return true;
    }

    std::string_view text(Pos begin, Pos end) const { return in.text.substr(begin, end - begin); }

    Pos label_run(Pos pos) const {
        while (is_label_char(s[pos])) ++pos;
        return pos;
    }

    // The special registers, through the rule itself with marks that go nowhere; rare, so kept out of line.
    [[gnu::noinline]] bool read_special_register(Pos pos, RegisterFields& out, Pos& end) const {
        ErrorState ignored;
        auto reg = parse_register(in, pos, ignored);
        if (!reg || !std::holds_alternative<ast::reg::Special>(reg->value)) return false;
        out = encoding::fields_of(reg->value);
        end = reg->end;
        return true;
    }

    // parse_register: "%r", "%rd" and "%f" with a number directly, anything else as a special register (only those
    // three families have numbers, so the rule cannot overflow there).
    static_assert(kNumberedFamilies.size() == 3 && kNumberedFamilies[0].prefix == "%rd" &&
                      kNumberedFamilies[0].kind == RegisterKind::Wide && kNumberedFamilies[1].prefix == "%r" &&
                      kNumberedFamilies[1].kind == RegisterKind::General && kNumberedFamilies[2].prefix == "%f" &&
                      kNumberedFamilies[2].kind == RegisterKind::Float,
                  "the scanner reads the numbered families %rd, %r and %f: a family added to the rule must be read "
                  "here too");
    bool read_register(Pos pos, RegisterFields& out, Pos& end) const {
        if (s[pos] != '%') return false;
        const unsigned char second = s[pos + 1];
        if (second == 'r' || second == 'f') {
            const bool wide = second == 'r' && s[pos + 2] == 'd';
            out.kind = wide ? RegisterKind::Wide : second == 'r' ? RegisterKind::General : RegisterKind::Float;
            return read_decimal(pos + (wide ? 3 : 2), out.number, end);
        }
        return read_special_register(pos, out, end);
    }

    // "{" _ (parse_register (_ "," _ parse_register)*)? _ "}"
    bool read_vector(Pos pos, OperandFields& out, Pos& end, VectorRegisters& vectors) const {
        out.kind = OperandKind::Vector;
        out.vector_first = vectors.size;
        Pos p = pos + 1;
        if (!skip_blanks(p)) return false;
        if (s[p] != '}') {
            while (true) {
                if (vectors.size == VectorRegisters::kCapacity) return false;
                Pos reg_end = p;
                if (!read_register(p, vectors.items[vectors.size++], reg_end)) return false;
                p = reg_end;
                if (!skip_blanks(p)) return false;
                if (s[p] == '}') break;
                if (s[p] != ',') return false;
                ++p;
                if (!skip_blanks(p)) return false;
            }
        }
        out.vector_count = vectors.size - out.vector_first;
        end = p + 1;
        return true;
    }

    // "[" _ parse_register _ ("+" _ "-"? number _)? "]" / "[" _ label_ _ "]"
    bool read_memory(Pos pos, OperandFields& out, Pos& end) const {
        Pos inside = pos + 1;
        if (!skip_blanks(inside)) return false;
        if (s[inside] == '%') {
            Pos p = inside;
            if (!read_register(inside, out.reg, p)) return false;
            if (!skip_blanks(p)) return false;
            std::uint64_t displacement = 0;
            if (s[p] == '+') {
                ++p;
                if (!skip_blanks(p)) return false;
                const bool negative = s[p] == '-';
                if (negative) ++p;
                if (!read_decimal(p, displacement, p)) return false;
                if (negative) displacement = 0 - displacement;
                if (!skip_blanks(p)) return false;
            }
            if (s[p] != ']') return false;
            out.kind = OperandKind::MemoryRegDisp;
            out.value = displacement;
            end = p + 1;
            return true;
        }
        const Pos name_end = label_run(inside);
        if (name_end == inside) return false;
        Pos close = name_end;
        if (!skip_blanks(close) || s[close] != ']') return false;
        out.kind = OperandKind::MemoryLbl;
        out.text = text(inside, name_end);
        end = close + 1;
        return true;
    }

    // The operand rule, by its first byte as the rule dispatches.
    bool read_operand(Pos pos, OperandFields& out, Pos& end, VectorRegisters& vectors) const {
        const unsigned char c = s[pos];
        switch (c) {
            case '%':
                // "%p" and a digit can only be a predicate: the registers after "%p" are "%pm0" to "%pm3".
                if (s[pos + 1] == 'p' && peg::is_digit(s[pos + 2])) {
                    out.kind = OperandKind::Predicate;
                    return read_decimal(pos + 2, out.value, end);
                }
                // A register followed by "|" may be a register-predicate pair; the rule decides those.
                out.kind = OperandKind::Register;
                return read_register(pos, out.reg, end) && s[end] != '|';
            case '[':
                return read_memory(pos, out, end);
            case '{':
                return read_vector(pos, out, end, vectors);
            case '-':
                out.kind = OperandKind::Immediate;
                if (!read_decimal(pos + 1, out.value, end)) return false;
                out.value = 0 - out.value;
                return true;
            case '$':
                out.kind = OperandKind::Label;
                if (s[pos + 1] == 's' && s[pos + 2] == 't' && s[pos + 3] == 'r' && s[pos + 4] == '$') {
                    Pos p = pos + 5;
                    while (peg::is_digit(s[p])) ++p;
                    if (p == pos + 5) return false;
                    out.text = text(pos, p);
                    end = p;
                    return true;
                }
                end = label_run(pos + 1);
                out.text = text(pos + 1, end);
                return end != pos + 1;
            default:
                break;
        }
        if (c == '0' && s[pos + 1] == 'f') {
            Pos p = pos + 2;
            std::uint64_t bits = 0;
            while (peg::is_hex(s[p])) {
                const unsigned char digit = s[p];
                bits = (bits << 4) | (peg::is_digit(digit) ? digit - '0' : (digit | 0x20u) - 'a' + 10);
                ++p;
            }
            if (p == pos + 2 || p - pos - 2 > kSafeHexDigits) return false;
            out.kind = OperandKind::FloatImmediate;
            out.value = bits;
            end = p;
            return true;
        }
        if (peg::is_digit(c)) {
            out.kind = OperandKind::Immediate;
            return read_decimal(pos, out.value, end);
        }
        if (peg::is_letter(c) || c == '_') {
            out.kind = OperandKind::Label;
            end = label_run(pos);
            out.text = text(pos, end);
            return true;
        }
        return false;
    }
};

}  // namespace

namespace {

// An instruction as the scanner reads it: its parts as views into the text and plain fields.
struct Scanned {
    static constexpr std::size_t kMaxOperands = 16;
    Pos mnemonic;
    ast::PTXOpcode opcode;
    std::optional<std::uint64_t> guard;
    std::string_view modifiers;
    std::size_t count = 0;
    OperandFields operands[kMaxOperands];
    VectorRegisters vectors;
    Pos operands_start;  // from the first operand to just past the ";"
    Pos operands_end;
};

// At most the bytes of the scanned instruction's record: its header exactly, and twice the text of its operands.
// Every operand the scanner reads takes at most twice the bytes of its text and the "," or ";" after it: a register
// or number takes a tag and a varint of at most half its digits' count and one; a label a tag, its text and, when
// long, a varint of its length; a vector two bytes and its registers. So the record is written with no measuring
// pass, into room for this bound.
std::size_t record_bound(const Scanned& scanned) {
    namespace e = ast::encoding;
    std::size_t header = 2 + e::varint_size(scanned.mnemonic);
    if (scanned.guard) header += e::varint_size(*scanned.guard);
    if (!scanned.modifiers.empty()) header += e::varint_size(scanned.modifiers.size()) + scanned.modifiers.size();
    return header + 2 * (scanned.operands_end - scanned.operands_start);
}

bool scan(const Input& in, Pos pos, Scanned& out, Pos& end) {
    const char* text = in.text.data();
    if (!in.fast_scanner || in.last_semicolon == std::string_view::npos || pos > in.last_semicolon) return false;
    const Scanner scan{in, reinterpret_cast<const unsigned char*>(text)};
    const unsigned char* s = scan.s;
    Pos p = pos;

    // ("@%p" digits)?: a guard without digits fails the rule, which the rule reports.
    if (s[p] == '@') {
        std::uint64_t number = 0;
        if (s[p + 1] != '%' || s[p + 2] != 'p' || !scan.read_decimal(p + 3, number, p)) return false;
        out.guard = number;
    }
    if (!scan.skip_blanks(p)) return false;

    // The mnemonics are words of lower-case letters and digits, and longer ones are tried first, so the rule takes
    // the mnemonic that is the whole word when there is one; other words are left to it.
    const Pos word_start = p;
    while (is_modifier_char(s[p])) ++p;
    if (!opcode_of_word(in, word_start, p, out.opcode)) return false;
    out.mnemonic = word_start;

    // ("." ['a'..='z' | '0'..='9']+)*
    const Pos modifiers_start = p;
    while (s[p] == '.' && is_modifier_char(s[p + 1])) {
        p += 2;
        while (is_modifier_char(s[p])) ++p;
    }
    if (p != modifiers_start) out.modifiers = in.text.substr(modifiers_start + 1, p - modifiers_start - 1);
    if (!scan.skip_blanks(p)) return false;

    // (operand (_ "," _ operand)*)? _ ";"
    out.operands_start = p;
    if (s[p] != ';') {
        while (true) {
            if (out.count == Scanned::kMaxOperands) return false;
            Pos operand_end = p;
            if (!scan.read_operand(p, out.operands[out.count], operand_end, out.vectors)) return false;
            ZORVANE_DEBUG_CHECK(operand_end > p && operand_end <= in.last_semicolon,
                                "an operand read by the fast scanner is empty or ends past the last \";\"");
            ++out.count;
            p = operand_end;
            if (!scan.skip_blanks(p)) return false;
            if (s[p] == ';') break;
            if (s[p] != ',') return false;
            ++p;
            if (!scan.skip_blanks(p)) return false;
        }
    }
    ZORVANE_DEBUG_CHECK(p <= in.last_semicolon && s[p] == ';', "the fast scanner ends an instruction off its \";\"");
    out.operands_end = p + 1;
    end = skip_ws(in, p + 1);
    return true;
}

encoding::InstructionHeader header_of(const Scanned& scanned) {
    return {scanned.opcode, scanned.mnemonic, scanned.guard, scanned.modifiers, scanned.count};
}

// Writes the scanned instruction's record into `out`, a measuring or a storing sink.
template <class Sink>
void put_scanned(Sink& out, const Scanned& scanned) {
    encoding::put_instruction_header(out, header_of(scanned));
    for (std::size_t i = 0; i < scanned.count; ++i) {
        const OperandFields& op = scanned.operands[i];
        encoding::put_operand(out, op, [&](std::size_t k) { return scanned.vectors.items[op.vector_first + k]; });
    }
}

}  // namespace

bool fast_instruction_into(const Input& in, Pos pos, ast::encoding::InstructionBuilder* out, Pos& end) {
    Scanned scanned;
    if (!scan(in, pos, scanned, end)) return false;
    if (out == nullptr) return true;
    encoding::Measure measure;
    put_scanned(measure, scanned);
    out->assign(measure.size, [&scanned](encoding::Store& store) { put_scanned(store, scanned); });
    return true;
}

bool fast_instruction_write(const Input& in, Pos pos, ast::TreeWriter* writer, Pos& end) {
    Scanned scanned;
    if (!scan(in, pos, scanned, end)) return false;
    if (writer == nullptr) return true;
    writer->instruction_record_within(record_bound(scanned),
                                      [&scanned](encoding::Store& store) { put_scanned(store, scanned); });
    return true;
}

}  // namespace zorvane::parser
