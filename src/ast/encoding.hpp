// The byte format of parsed trees: unsigned varints, and the records of registers, operands, statements and
// instruction headers. Each record has one function that writes it into a sink, which either measures or stores,
// so that what is measured is exactly what is written, and one function that reads it back.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "ast/enums.hpp"
#include "ast/instructions.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "peg/check.hpp"

namespace zorvane::ast::encoding {

using Byte = unsigned char;

// ---- Sinks

// Counts the bytes that a record would take.
struct Measure {
    std::size_t size = 0;
    void byte(Byte) noexcept { ++size; }
    void bytes(const void*, std::size_t n) noexcept { size += n; }
};

// Stores a record at a cursor, in room that its measured size made beforehand.
struct Store {
    Byte* at;
    void byte(Byte b) noexcept { *at++ = b; }
    // Most texts written are a few bytes long (modifiers, labels), which a loop copies for less than a call.
    void bytes(const void* data, std::size_t n) noexcept {
        const auto* from = static_cast<const Byte*>(data);
        if (n <= 16) {
            for (std::size_t i = 0; i < n; ++i) at[i] = from[i];
        } else {
            std::memcpy(at, from, n);
        }
        at += n;
    }
};

// Appends to a list of bytes that grows, for the rules, which learn only as they go how much they write; without
// a list, nothing is kept (the second pass).
struct Append {
    std::vector<Byte>* out;
    void byte(Byte b) {
        if (out != nullptr) out->push_back(b);
    }
    void bytes(const void* data, std::size_t n) {
        if (out == nullptr || n == 0) return;
        const auto* first = static_cast<const Byte*>(data);
        out->insert(out->end(), first, first + n);
    }
};

// ---- Numbers and texts

// The numbers written are mostly small: comparisons answer those before the general count.
constexpr std::size_t varint_size(std::uint64_t v) noexcept {
    if (v < (std::uint64_t{1} << 7)) return 1;
    if (v < (std::uint64_t{1} << 14)) return 2;
    if (v < (std::uint64_t{1} << 21)) return 3;
    if (v < (std::uint64_t{1} << 28)) return 4;
    return (static_cast<std::size_t>(std::bit_width(v)) + 6) / 7;
}

template <class Sink>
[[gnu::always_inline]] inline void put_varint(Sink& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.byte(static_cast<Byte>(v | 0x80));
        v >>= 7;
    }
    out.byte(static_cast<Byte>(v));
}

// `v` in exactly `width` bytes (at least its varint_size), with continuation bytes to spare where it needs fewer;
// the readers take such a varint as its value.
inline void put_varint_in(Byte* at, std::uint64_t v, std::size_t width) noexcept {
    for (std::size_t i = 0; i + 1 < width; ++i) {
        at[i] = static_cast<Byte>(v | 0x80);
        v >>= 7;
    }
    at[width - 1] = static_cast<Byte>(v);
}

template <class Sink>
void put_varint(Sink& out, u128 v) {
    while (v >= 0x80) {
        out.byte(static_cast<Byte>(v | 0x80));
        v >>= 7;
    }
    out.byte(static_cast<Byte>(v));
}

template <class Sink>
[[gnu::always_inline]] inline void put_text(Sink& out, std::string_view text) {
    put_varint(out, std::uint64_t{text.size()});
    out.bytes(text.data(), text.size());
}

// The readers trust their bytes: a tree is only ever read from what the functions here wrote.
inline std::uint64_t get_varint(const Byte*& p) noexcept {
    std::uint64_t v = *p & 0x7Fu;
    unsigned shift = 7;
    while (*p++ & 0x80u) {
        v |= std::uint64_t{*p & 0x7Fu} << shift;
        shift += 7;
    }
    return v;
}

inline u128 get_varint128(const Byte*& p) noexcept {
    u128 v = 0;
    unsigned shift = 0;
    while (true) {
        const Byte b = *p++;
        v |= static_cast<u128>(b & 0x7Fu) << shift;
        if ((b & 0x80u) == 0) return v;
        shift += 7;
    }
}

inline std::string_view get_text(const Byte*& p) noexcept {
    const auto size = static_cast<std::size_t>(get_varint(p));
    std::string_view text{reinterpret_cast<const char*>(p), size};
    p += size;
    return text;
}

// Fixed-width fields, for what is patched after it is written (counts, links).
template <class T>
void put_fixed(Byte* at, T value) noexcept {
    std::memcpy(at, &value, sizeof value);
}
template <class T>
T get_fixed(const Byte* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A view of text, as the fields below hold it: trivial to make, since the scanner keeps arrays of fields for every
// instruction it reads and fills only what it needs.
struct TextView {
    const char* data;
    std::size_t size;

    TextView() noexcept = default;
    constexpr TextView(std::string_view text) noexcept : data{text.data()}, size{text.size()} {}
    constexpr operator std::string_view() const noexcept { return {data, size}; }
};

// ---- Registers: a kind, then the number, the special register and its component, or the name.

enum class RegisterKind : std::uint8_t { General, Wide, Float, Special, Custom };  // the PTXRegister variants

// A register as plain fields, whether read from text, from a value or from the format; a name is a view. Only the
// fields of its kind are meaningful (and set: the scanner fills arrays of these for every instruction).
struct RegisterFields {
    RegisterKind kind;
    PTXSpecialRegister special;  // Special
    PTXDirection direction;      // Special
    std::uint64_t number;        // General, Wide, Float
    TextView name;               // Custom
};

RegisterFields fields_of(const PTXRegister& reg) noexcept;
PTXRegister register_from(const RegisterFields& reg);

template <class Sink>
[[gnu::always_inline]] inline void put_register_payload(Sink& out, const RegisterFields& reg) {
    switch (reg.kind) {
        case RegisterKind::Special:
            out.byte(static_cast<Byte>(reg.special));
            out.byte(static_cast<Byte>(reg.direction));
            return;
        case RegisterKind::Custom:
            put_text(out, reg.name);
            return;
        default:
            put_varint(out, reg.number);
            return;
    }
}

RegisterFields get_register_payload(RegisterKind kind, const Byte*& p) noexcept;

// ---- Operands: one tag byte (the variant, the kind of register it holds, and whether its number is stored
// negated), then the fields.

enum class OperandKind : std::uint8_t {
    Immediate,
    FloatImmediate,
    Register,
    Predicate,
    Memory,
    MemoryLbl,
    MemoryRegDisp,
    Label,
    Vector,
    RegPredPair
};  // the PTXOperand variants

// An operand as plain fields. `value` is the immediate, the bit pattern, the predicate number, the displacement or
// the pair's predicate. A vector's registers are the caller's (`vector_first` is where they start in its list)
// when it writes one, and `vector_bytes` when it has read one from the format.
// Only the fields of its kind are meaningful.
struct OperandFields {
    OperandKind kind;
    RegisterFields reg;
    std::uint64_t value;
    TextView text;
    std::size_t vector_count;
    std::size_t vector_first;
    const Byte* vector_bytes;
};

inline constexpr Byte kNegated = 0x80;              // the number is stored as its two's complement negation
inline constexpr std::size_t kLongestTagText = 15;  // a label text shorter than this has its length in the tag

constexpr Byte operand_tag(OperandKind kind, RegisterKind reg = RegisterKind::General, bool negated = false) {
    return static_cast<Byte>(static_cast<Byte>(kind) | static_cast<Byte>(static_cast<Byte>(reg) << 4) |
                             (negated ? kNegated : 0));
}

// A number with its top bit set (a negative one written in the text, mostly) is stored negated, so that it takes
// as many bytes as its magnitude.
template <class Sink>
[[gnu::always_inline]] inline void put_signed(Sink& out, Byte tag, std::uint64_t value) {
    const bool negated = (value >> 63) != 0;
    out.byte(static_cast<Byte>(tag | (negated ? kNegated : 0)));
    put_varint(out, negated ? 0 - value : value);
}

// `vector_register(i)` gives the fields of the i-th register of a vector operand.
template <class Sink, class VectorRegister>
[[gnu::always_inline]] inline void put_operand(Sink& out, const OperandFields& op, VectorRegister&& vector_register) {
    switch (op.kind) {
        case OperandKind::Immediate:
            put_signed(out, operand_tag(op.kind), op.value);
            return;
        case OperandKind::FloatImmediate:
        case OperandKind::Predicate:
            out.byte(operand_tag(op.kind));
            put_varint(out, op.value);
            return;
        case OperandKind::Register:
            out.byte(operand_tag(op.kind, op.reg.kind));
            put_register_payload(out, op.reg);
            return;
        case OperandKind::Memory:
            out.byte(operand_tag(op.kind));
            return;
        case OperandKind::MemoryLbl:
        case OperandKind::Label: {
            // A label holds no register: the upper half of its tag holds the length of a short text plus one, so
            // that a one-letter label takes no more than its text and the comma after it.
            const std::string_view text = op.text;
            if (text.size() < kLongestTagText) {
                out.byte(static_cast<Byte>(static_cast<Byte>(op.kind) | ((text.size() + 1) << 4)));
                out.bytes(text.data(), text.size());
            } else {
                out.byte(operand_tag(op.kind));
                put_text(out, text);
            }
            return;
        }
        case OperandKind::MemoryRegDisp: {
            const bool negated = (op.value >> 63) != 0;
            out.byte(operand_tag(op.kind, op.reg.kind, negated));
            put_register_payload(out, op.reg);
            put_varint(out, negated ? 0 - op.value : op.value);
            return;
        }
        case OperandKind::Vector:
            out.byte(operand_tag(op.kind));
            put_varint(out, std::uint64_t{op.vector_count});
            for (std::size_t i = 0; i < op.vector_count; ++i) {
                const RegisterFields reg = vector_register(i);
                out.byte(static_cast<Byte>(reg.kind));
                put_register_payload(out, reg);
            }
            return;
        case OperandKind::RegPredPair:
            out.byte(operand_tag(op.kind, op.reg.kind));
            put_register_payload(out, op.reg);
            put_varint(out, op.value);
            return;
    }
}

// The bytes of the texts an operand holds, a label's or a custom register's name; it reads no other field.
constexpr std::size_t text_size(const OperandFields& op) noexcept {
    if (op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) return op.text.size;
    const bool holds_register = op.kind == OperandKind::Register || op.kind == OperandKind::MemoryRegDisp ||
                                op.kind == OperandKind::RegPredPair;
    return holds_register && op.reg.kind == RegisterKind::Custom ? op.reg.name.size : 0;
}

// Reads one operand and leaves `p` after it; texts and the vector's registers stay views into the bytes.
OperandFields get_operand(const Byte*& p) noexcept;

OperandFields fields_of(const PTXOperand& op) noexcept;
PTXOperand operand_from(const OperandFields& op);

template <class Sink>
void put_operand(Sink& out, const PTXOperand& op) {
    const OperandFields fields = fields_of(op);
    const auto* vector = std::get_if<operand::VectorOperand>(&op);
    put_operand(out, fields, [vector](std::size_t i) { return fields_of(vector->_0[i]); });
}

// ---- Statements: one tag byte (kStatementTag and the variant), then the fields.

inline constexpr Byte kStatementTag = 0xF0;

template <class Sink>
void put_statement(Sink& out, const PTXStatement& stmt) {
    out.byte(static_cast<Byte>(kStatementTag + stmt.index()));
    std::visit(
        [&out](const auto& s) {
            using S = std::decay_t<decltype(s)>;
            if constexpr (!std::is_same_v<S, statement::Pragma>) {
                out.byte(static_cast<Byte>(s._0));
                out.byte(static_cast<Byte>(s._1));
                if constexpr (std::is_same_v<S, statement::CustomRegister>)
                    put_text(out, s._2);
                else
                    put_varint(out, s._2);
                if constexpr (std::is_same_v<S, statement::SharedMemory> || std::is_same_v<S, statement::LocalMemory>)
                    put_operand(out, s._3);
            }
        },
        stmt);
}

// `p` points after the tag byte.
PTXStatement get_statement(Byte tag, const Byte*& p);

// ---- Instruction headers: the opcode, a flags byte, the offset, then the guard, the modifiers and the operand
// count where the flags say so. The operands follow.

inline constexpr Byte kHasGuard = 0x01;
inline constexpr Byte kHasModifiers = 0x02;
inline constexpr unsigned kCountShift = 2;
inline constexpr std::size_t kCountInFlags = 0x3F;  // a count this large or more follows as a varint

struct InstructionHeader {
    PTXOpcode opcode = PTXOpcode::Abs;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> guard;
    std::string_view modifiers;
    std::size_t operand_count = 0;
};

template <class Sink>
[[gnu::always_inline]] inline void put_instruction_header(Sink& out, const InstructionHeader& h) {
    const std::size_t count_field = h.operand_count < kCountInFlags ? h.operand_count : kCountInFlags;
    out.byte(static_cast<Byte>(h.opcode));
    out.byte(static_cast<Byte>((h.guard ? kHasGuard : 0) | (h.modifiers.empty() ? 0 : kHasModifiers) |
                               (count_field << kCountShift)));
    put_varint(out, h.offset);
    if (h.guard) put_varint(out, *h.guard);
    if (!h.modifiers.empty()) put_text(out, h.modifiers);
    if (count_field == kCountInFlags) put_varint(out, std::uint64_t{h.operand_count});
}

// `p` points at the opcode byte; it is left at the first operand.
InstructionHeader get_instruction_header(const Byte*& p) noexcept;

// The bytes of the instruction record at `p` (its opcode byte).
std::size_t instruction_size(const Byte* p) noexcept;

// The value of an instruction record (`p` at its opcode byte).
PTXInstruction get_instruction(const Byte* p);

}  // namespace zorvane::ast::encoding
