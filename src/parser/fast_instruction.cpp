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

#include "ast/in_place.hpp"
#include "parser/char_classes.hpp"
#include "parser/rules.hpp"
#include "peg/terminals.hpp"

namespace zorvane::parser {

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
// The least room of a new block of a body's operand store, so that the blocks stay few where "}" come often.
constexpr std::size_t kLeastOperandRoom = 32;

// A register or an operand as the fast scanner reads it, in plain fields: buffers of these grow by copying bytes,
// and each becomes its tree value once, in place, where it stays.
enum class RegKind : std::uint8_t { General, Wide, Float, Special };

struct RegisterRead {
    RegKind kind;
    ast::PTXSpecialRegister special;
    ast::PTXDirection direction;
    std::uint64_t number;
};

enum class OperandKind : std::uint8_t {
    Immediate,
    FloatImmediate,
    Register,
    Predicate,
    MemoryLbl,
    MemoryRegDisp,
    Label,
    Vector
};

struct OperandRead {
    OperandKind kind;
    RegisterRead reg;
    std::uint64_t value;  // the number
    // The text of a label, or the registers of a vector among those read for the instruction.
    std::size_t begin;
    std::size_t length;
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

    Pos label_run(Pos pos) const {
        while (is_label_char(s[pos])) ++pos;
        return pos;
    }

    // The special registers, through the rule itself with marks that go nowhere; rare, so kept out of line.
    [[gnu::noinline]] bool read_special_register(Pos pos, RegisterRead& out, Pos& end) const {
        ErrorState ignored;
        auto reg = parse_register(in, pos, ignored);
        if (!reg) return false;
        const auto* special = std::get_if<ast::reg::Special>(&reg->value);
        if (special == nullptr) return false;
        out.kind = RegKind::Special;
        out.special = special->_0;
        out.direction = special->_1;
        end = reg->end;
        return true;
    }

    // parse_register: "%r", "%rd" and "%f" with a number directly, anything else as a special register (only those
    // three families have numbers, so the rule cannot overflow there).
    bool read_register(Pos pos, RegisterRead& out, Pos& end) const {
        if (s[pos] != '%') return false;
        const unsigned char second = s[pos + 1];
        if (second == 'r' || second == 'f') {
            const bool wide = second == 'r' && s[pos + 2] == 'd';
            out.kind = wide ? RegKind::Wide : second == 'r' ? RegKind::General : RegKind::Float;
            return read_decimal(pos + (wide ? 3 : 2), out.number, end);
        }
        return read_special_register(pos, out, end);
    }

    // "{" _ (parse_register (_ "," _ parse_register)*)? _ "}"
    template <class Registers>
    bool read_vector(Pos pos, OperandRead& out, Pos& end, Registers& vectors) const {
        out.kind = OperandKind::Vector;
        out.begin = vectors.size;
        Pos p = pos + 1;
        if (!skip_blanks(p)) return false;
        if (s[p] != '}') {
            while (true) {
                if (vectors.size == Registers::kCapacity) return false;
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
        out.length = vectors.size - out.begin;
        end = p + 1;
        return true;
    }

    // "[" _ parse_register _ ("+" _ "-"? number _)? "]" / "[" _ label_ _ "]"
    bool read_memory(Pos pos, OperandRead& out, Pos& end) const {
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
        out.begin = inside;
        out.length = name_end - inside;
        end = close + 1;
        return true;
    }

    // The operand rule, by its first byte as the rule dispatches.
    template <class Registers>
    bool read_operand(Pos pos, OperandRead& out, Pos& end, Registers& vectors) const {
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
                    out.begin = pos;
                    out.length = p - pos;
                    end = p;
                    return true;
                }
                end = label_run(pos + 1);
                out.begin = pos + 1;
                out.length = end - out.begin;
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
            out.begin = pos;
            out.length = end - pos;
            return true;
        }
        return false;
    }
};

ast::PTXRegister make_register(const RegisterRead& r) {
    switch (r.kind) {
        case RegKind::General:
            return ast::reg::General{r.number};
        case RegKind::Wide:
            return ast::reg::Wide{r.number};
        case RegKind::Float:
            return ast::reg::Float{r.number};
        default:
            return ast::reg::Special{r.special, r.direction};
    }
}

// The registers of the vector operands of the instruction being read; more are left to the rule.
struct VectorRegisters {
    static constexpr std::size_t kCapacity = 32;
    RegisterRead items[kCapacity];
    std::size_t size = 0;
};

// Constructs the tree value of `r` at `slot`.
[[gnu::always_inline]] inline void make_operand(const Input& in, const OperandRead& r,
                                                const RegisterRead* vector_registers, ast::PTXOperand* slot) {
    using namespace ast::operand;
    const auto text = [&] { return ast::Text{in.text.substr(r.begin, r.length)}; };
    switch (r.kind) {
        case OperandKind::Immediate:
            ast::construct_alternative<Immediate>(slot, r.value);
            return;
        case OperandKind::FloatImmediate:
            ast::construct_alternative<FloatImmediate>(slot, r.value);
            return;
        case OperandKind::Register:
            ast::construct_alternative<Register>(slot, make_register(r.reg));
            return;
        case OperandKind::Predicate:
            ast::construct_alternative<Predicate>(slot, r.value);
            return;
        case OperandKind::MemoryLbl:
            ast::construct_alternative<MemoryLbl>(slot, text());
            return;
        case OperandKind::MemoryRegDisp:
            ast::construct_alternative<MemoryRegDisp>(slot, make_register(r.reg), r.value);
            return;
        case OperandKind::Label:
            ast::construct_alternative<Label>(slot, text());
            return;
        case OperandKind::Vector: {
            std::vector<ast::PTXRegister> registers;
            registers.reserve(r.length);
            for (std::size_t i = 0; i < r.length; ++i)
                registers.push_back(make_register(vector_registers[r.begin + i]));
            ast::construct_alternative<VectorOperand>(slot, std::move(registers));
            return;
        }
    }
}

}  // namespace

bool fast_instruction_into(const Input& in, Pos pos, ast::PTXInstruction& out, Pos& end, ast::OperandStore* store) {
    const char* text = in.text.data();
    if (!in.fast_scanner || in.last_semicolon == std::string_view::npos || pos > in.last_semicolon) return false;
    const Scanner scan{in, reinterpret_cast<const unsigned char*>(text)};
    const unsigned char* s = scan.s;
    Pos p = pos;

    // ("@%p" digits)?: a guard without digits fails the rule, which the rule reports.
    std::optional<std::uint64_t> guard;
    if (s[p] == '@') {
        std::uint64_t number = 0;
        if (s[p + 1] != '%' || s[p + 2] != 'p' || !scan.read_decimal(p + 3, number, p)) return false;
        guard = number;
    }
    if (!scan.skip_blanks(p)) return false;

    // The mnemonics are words of lower-case letters and digits, and longer ones are tried first, so the rule takes
    // the mnemonic that is the whole word when there is one; other words are left to it.
    const Pos word_start = p;
    while (is_modifier_char(s[p])) ++p;
    ast::PTXOpcode opcode{};
    if (!opcode_of_word(in, word_start, p, opcode)) return false;

    // ("." ['a'..='z' | '0'..='9']+)*
    const Pos modifiers_start = p;
    while (s[p] == '.' && is_modifier_char(s[p + 1])) {
        p += 2;
        while (is_modifier_char(s[p])) ++p;
    }
    const Pos modifiers_end = p;
    if (!scan.skip_blanks(p)) return false;

    // (operand (_ "," _ operand)*)? _ ";"
    constexpr std::size_t kMaxOperands = 16;
    OperandRead operands[kMaxOperands];
    std::size_t count = 0;
    VectorRegisters vectors;
    if (s[p] != ';') {
        while (true) {
            if (count == kMaxOperands) return false;
            Pos operand_end = p;
            if (!scan.read_operand(p, operands[count], operand_end, vectors)) return false;
            ZORVANE_DEBUG_CHECK(operand_end > p && operand_end <= in.last_semicolon,
                                "an operand read by the fast scanner is empty or ends past the last \";\"");
            ++count;
            p = operand_end;
            if (!scan.skip_blanks(p)) return false;
            if (s[p] == ';') break;
            if (s[p] != ',') return false;
            ++p;
            if (!scan.skip_blanks(p)) return false;
        }
    }
    ZORVANE_DEBUG_CHECK(p <= in.last_semicolon && s[p] == ';', "the fast scanner ends an instruction off its \";\"");
    end = skip_ws(in, p + 1);
    out.offset = word_start;
    out.opcode = opcode;
    out.is_predicated = guard;
    if (store != nullptr) {
        ast::PTXOperand* slots = store->room_for(count, [&] {
            const EndsAhead ends = ends_ahead(in, pos);
            return std::max<std::size_t>(ends.semicolons + ends.commas, kLeastOperandRoom);
        });
        for (std::size_t i = 0; i < count; ++i) {
            make_operand(in, operands[i], vectors.items, slots + i);
            store->made_one();
        }
        out.operands = ast::OperandList::borrowed(slots, count);
    } else {
        out.operands = ast::OperandList::made(
            count, [&](ast::PTXOperand* slot, std::size_t i) { make_operand(in, operands[i], vectors.items, slot); });
    }
    if (modifiers_end != modifiers_start)
        out.modifiers.assign_from(text + modifiers_start + 1, modifiers_end - modifiers_start - 1,
                                  in.size() - modifiers_start - 1);
    else
        out.modifiers.clear();
    return true;
}

EndsAhead ends_ahead(const Input& in, Pos pos) {
    const char* text = in.text.data();
    const char* start = text + pos;
    const char* stop = text + in.size();
    if (const void* brace = std::memchr(start, '}', in.size() - pos)) stop = static_cast<const char*>(brace);
    // Counted in byte-wide sums over runs short enough not to overflow them and a whole number of 16-byte vector
    // registers long, which the compiler turns into vector instructions (std::count it does not vectorise).
    std::size_t semicolons = 0;
    std::size_t commas = 0;
    while (start < stop) {
        const std::size_t run = std::min<std::size_t>(static_cast<std::size_t>(stop - start), 240);
        std::uint8_t run_semicolons = 0;
        std::uint8_t run_commas = 0;
        for (std::size_t i = 0; i < run; ++i) {
            run_semicolons = static_cast<std::uint8_t>(run_semicolons + (start[i] == ';'));
            run_commas = static_cast<std::uint8_t>(run_commas + (start[i] == ','));
        }
        semicolons += run_semicolons;
        commas += run_commas;
        start += run;
    }
    return {semicolons, commas};
}

}  // namespace zorvane::parser
