// The records of the four tagged unions, derived from their descriptions: a tag byte that holds the variant, then
// the variant's fields in order, each written as its type is. Read back, a record gives its fields flat: one member
// for each type of field, whichever variant holds it, so that no variant has two fields of one type. The parser
// writes operands from that same flat form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "ast/enums.hpp"
#include "ast/instructions.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/unions.hpp"
#include "ast/varint.hpp"

namespace zorvane::ast::encoding {

// ---- Kinds: the variants' indexes, named for the code that writes one in particular.

enum class RegisterKind : std::uint8_t {
    General = index_of<PTXRegister, reg::General>,
    Wide = index_of<PTXRegister, reg::Wide>,
    Float = index_of<PTXRegister, reg::Float>,
    Special = index_of<PTXRegister, reg::Special>,
    Custom = index_of<PTXRegister, reg::Custom>,
};
static_assert(static_cast<std::size_t>(RegisterKind::Custom) + 1 == std::variant_size_v<PTXRegister>,
              "a kind for every register variant");

enum class OperandKind : std::uint8_t {
    Immediate = index_of<PTXOperand, operand::Immediate>,
    FloatImmediate = index_of<PTXOperand, operand::FloatImmediate>,
    Register = index_of<PTXOperand, operand::Register>,
    Predicate = index_of<PTXOperand, operand::Predicate>,
    Memory = index_of<PTXOperand, operand::Memory>,
    MemoryLbl = index_of<PTXOperand, operand::MemoryLbl>,
    MemoryRegDisp = index_of<PTXOperand, operand::MemoryRegDisp>,
    Label = index_of<PTXOperand, operand::Label>,
    Vector = index_of<PTXOperand, operand::VectorOperand>,
    RegPredPair = index_of<PTXOperand, operand::RegPredPair>,
};
static_assert(static_cast<std::size_t>(OperandKind::RegPredPair) + 1 == std::variant_size_v<PTXOperand>,
              "a kind for every operand variant");

template <class T>
using Tag = std::type_identity<T>;

// ---- Flat forms. Only the members of the variant's field types are meaningful (and set: the parser fills arrays of
// these for every instruction).

struct RegisterFields {
    RegisterKind kind;
    PTXSpecialRegister special;  // Special
    PTXDirection direction;      // Special
    std::uint64_t number;        // General, Wide, Float
    TextView name;               // Custom

    constexpr std::uint64_t& slot(Tag<std::uint64_t>) { return number; }
    constexpr PTXSpecialRegister& slot(Tag<PTXSpecialRegister>) { return special; }
    constexpr PTXDirection& slot(Tag<PTXDirection>) { return direction; }
    constexpr TextView& slot(Tag<Text>) { return name; }
};

// The registers of a vector, their records one after another (each a kind byte and the register's fields).
struct RegisterList {
    std::size_t count;
    const Byte* bytes;
};

// A whole record held inside another: a statement's operand, a body line's statement or instruction.
using Bytes = std::span<const Byte>;

// `value` is the immediate, the bit pattern, the predicate number, the displacement or the pair's predicate. A vector
// read from a record has its registers in `vector_bytes`; one the parser writes has them in its own list, from
// `vector_first` (put_operand).
struct OperandFields {
    OperandKind kind;
    RegisterFields reg;
    std::uint64_t value;
    TextView text;
    std::size_t vector_count;
    std::size_t vector_first;
    const Byte* vector_bytes;

    constexpr std::uint64_t& slot(Tag<std::uint64_t>) { return value; }
    constexpr RegisterFields& slot(Tag<PTXRegister>) { return reg; }
    constexpr TextView& slot(Tag<Text>) { return text; }
    // A vector's registers: get_slot and set_slot below.
};

struct StatementFields {
    std::uint8_t kind;
    PTXSpace space;
    PTXType type;
    TextView name;  // CustomRegister
    u128 count;     // RegisterCount, SharedMemory, LocalMemory
    Bytes operand;  // SharedMemory, LocalMemory

    constexpr PTXSpace& slot(Tag<PTXSpace>) { return space; }
    constexpr PTXType& slot(Tag<PTXType>) { return type; }
    constexpr TextView& slot(Tag<std::string>) { return name; }
    constexpr u128& slot(Tag<u128>) { return count; }
    constexpr Bytes& slot(Tag<PTXOperand>) { return operand; }
};

struct BodyItemFields {
    std::uint8_t kind;
    Bytes statement;
    Bytes instruction;
    TextView text;  // LabelDef, Call

    constexpr Bytes& slot(Tag<PTXStatement>) { return statement; }
    constexpr Bytes& slot(Tag<PackedInstruction>) { return instruction; }
    constexpr TextView& slot(Tag<std::string>) { return text; }
};

template <class T>
inline constexpr bool is_text_v = std::is_same_v<T, Text> || std::is_same_v<T, std::string>;
// A field that holds a whole record of its own: a union's, or an instruction's.
template <class T>
inline constexpr bool is_record_v =
    std::is_same_v<T, PTXOperand> || std::is_same_v<T, PTXStatement> || std::is_same_v<T, PackedInstruction>;

// What a field of each type reads as: numbers and enumerations as themselves.
template <class T>
using View =
    std::conditional_t<is_text_v<T>, TextView,
                       std::conditional_t<std::is_same_v<T, PTXRegister>, RegisterFields,
                                          std::conditional_t<std::is_same_v<T, std::vector<PTXRegister>>, RegisterList,
                                                             std::conditional_t<is_record_v<T>, Bytes, T>>>>;

// Each flat form says with slot(Tag<T>) where a field of type T lives in it.
template <class F, class T>
constexpr const View<T>& get_slot(const F& f, Tag<T> type) {
    return const_cast<F&>(f).slot(type);
}
template <class F, class T>
constexpr void set_slot(F& f, Tag<T> type, const View<T>& value) {
    f.slot(type) = value;
}
constexpr RegisterList get_slot(const OperandFields& f, Tag<std::vector<PTXRegister>>) {
    return {f.vector_count, f.vector_bytes};
}
constexpr void set_slot(OperandFields& f, Tag<std::vector<PTXRegister>>, const RegisterList& list) {
    f.vector_count = list.count;
    f.vector_bytes = list.bytes;
}

// ---- Formats: where a union's tags start, and whether its fields take the spare bits of the tag.

// The first byte of a statement record: statements share a function's stream with instructions, whose first byte
// is their opcode.
inline constexpr Byte kStatementTag = 0xF0;
static_assert(member_count<PTXOpcode>() <= kStatementTag, "an opcode byte cannot be taken for a statement's tag");

// An operand's tag holds the variant in its low four bits, and above them the kind of its register, the length
// plus one of a text shorter than kLongestTagText (0 for a longer one, whose length follows), or in the top bit
// whether its number is stored negated, so that a negative number takes as many bytes as its magnitude.
inline constexpr Byte kVariantBits = 0x0F;
inline constexpr Byte kNegated = 0x80;
inline constexpr std::size_t kLongestTagText = 15;

template <class V>
struct Format;
template <>
struct Format<PTXRegister> {
    using Fields = RegisterFields;
    static constexpr Byte first_tag = 0;
    static constexpr bool packed = false;
};
template <>
struct Format<PTXOperand> {
    using Fields = OperandFields;
    static constexpr Byte first_tag = 0;
    static constexpr bool packed = true;
};
template <>
struct Format<PTXStatement> {
    using Fields = StatementFields;
    static constexpr Byte first_tag = kStatementTag;
    static constexpr bool packed = false;
};
template <>
struct Format<BodyItem> {
    using Fields = BodyItemFields;
    static constexpr Byte first_tag = 0;
    static constexpr bool packed = false;
};
template <class V>
using FieldsOf = typename Format<V>::Fields;

static_assert(std::variant_size_v<PTXOperand> <= kVariantBits + 1, "an operand's variant fits its tag's low bits");
static_assert(std::variant_size_v<PTXRegister> <= 8, "a register's kind fits three bits of an operand's tag");

// The bits of a packed tag that each field of variant I takes: none may take another's.
template <class V, std::size_t I>
constexpr bool fields_share_no_tag_bits() {
    unsigned used = 0;
    bool clash = false;
    for_each_field<V, I>([&](auto k) {
        using T = FieldType<V, I, decltype(k)::value>;
        const unsigned bits = std::is_same_v<T, std::uint64_t> ? kNegated
                              : std::is_same_v<T, PTXRegister> ? 0x70u
                              : is_text_v<T>                   ? 0xF0u
                                                               : 0u;
        clash = clash || (used & bits) != 0;
        used |= bits;
    });
    return !clash;
}
static_assert(
    []<std::size_t... I>(std::index_sequence<I...>) {
        return (fields_share_no_tag_bits<PTXOperand, I>() && ...);
    }(std::make_index_sequence<std::variant_size_v<PTXOperand>>{}),
    "no two fields of an operand take one bit of its tag");

template <class V>
constexpr std::size_t variant_of_tag(Byte tag) noexcept {
    if constexpr (Format<V>::packed)
        return tag & kVariantBits;
    else
        return static_cast<std::size_t>(tag - Format<V>::first_tag);
}

// The end of an instruction record at `p` (its opcode byte): body items hold instruction records whole.
std::size_t instruction_size(const Byte* p) noexcept;

// ---- Reading. The readers trust their bytes: a record is only ever read from what the writers below wrote.

template <class V>
FieldsOf<V> get_record(const Byte*& p) noexcept;
template <class T, bool Packed>
void skip_field(const Byte*& p, Byte tag) noexcept;
template <class V>
void skip_record(const Byte*& p) noexcept;

// A register's fields, its kind known: an operand's tag holds it.
inline RegisterFields get_register_payload(RegisterKind kind, const Byte*& p) noexcept;

template <class T, bool Packed>
View<T> get_field(const Byte*& p, Byte tag) noexcept {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        const std::uint64_t value = get_varint(p);
        return Packed && (tag & kNegated) != 0 ? 0 - value : value;
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(*p++);
    } else if constexpr (std::is_same_v<T, u128>) {
        return get_varint128(p);
    } else if constexpr (is_text_v<T>) {
        const unsigned in_tag = Packed ? tag >> 4 : 0;
        const auto size = in_tag != 0 ? std::size_t{in_tag - 1} : static_cast<std::size_t>(get_varint(p));
        const TextView text{std::string_view{reinterpret_cast<const char*>(p), size}};
        p += size;
        return text;
    } else if constexpr (std::is_same_v<T, PTXRegister>) {
        const auto kind = static_cast<RegisterKind>(Packed ? (tag >> 4) & 0x07u : *p++);
        return get_register_payload(kind, p);
    } else if constexpr (std::is_same_v<T, std::vector<PTXRegister>>) {
        const RegisterList list{static_cast<std::size_t>(get_varint(p)), p};
        for (std::size_t i = 0; i < list.count; ++i) skip_record<PTXRegister>(p);
        return list;
    } else {
        static_assert(
            std::is_same_v<T, PTXOperand> || std::is_same_v<T, PTXStatement> || std::is_same_v<T, PackedInstruction>,
            "a field of a known type");
        const Byte* start = p;
        skip_field<T, Packed>(p, tag);
        return Bytes{start, p};
    }
}

template <class V, std::size_t I>
void get_fields(const Byte*& p, Byte tag, FieldsOf<V>& fields) noexcept {
    for_each_field<V, I>([&](auto k) {
        using T = FieldType<V, I, k>;
        set_slot(fields, Tag<T>{}, get_field<T, Format<V>::packed>(p, tag));
    });
}

// Reads the rest of a record whose tag has been read, and leaves `p` after it.
template <class V>
FieldsOf<V> get_record_after(Byte tag, const Byte*& p) noexcept {
    const std::size_t variant = variant_of_tag<V>(tag);
    FieldsOf<V> fields{};
    fields.kind = static_cast<decltype(fields.kind)>(variant);
    with_variant<V>(variant, [&](auto i) { get_fields<V, i>(p, tag, fields); });
    return fields;
}

// Reads one record and leaves `p` after it; texts and lists stay views into the bytes.
template <class V>
FieldsOf<V> get_record(const Byte*& p) noexcept {
    const Byte tag = *p++;
    return get_record_after<V>(tag, p);
}

inline RegisterFields get_register_payload(RegisterKind kind, const Byte*& p) noexcept {
    RegisterFields reg{};
    reg.kind = kind;
    with_variant<PTXRegister>(static_cast<std::size_t>(kind), [&](auto i) { get_fields<PTXRegister, i>(p, 0, reg); });
    return reg;
}

// Passing over a record without reading it, to find where it ends.
template <class T, bool Packed>
void skip_field(const Byte*& p, Byte tag) noexcept {
    if constexpr (std::is_same_v<T, std::uint64_t> || std::is_same_v<T, u128>) {
        while ((*p++ & 0x80u) != 0) {
        }
    } else if constexpr (std::is_enum_v<T>) {
        ++p;
    } else if constexpr (is_text_v<T>) {
        const unsigned in_tag = Packed ? tag >> 4 : 0;
        p += in_tag != 0 ? std::size_t{in_tag - 1} : static_cast<std::size_t>(get_varint(p));
    } else if constexpr (std::is_same_v<T, PTXRegister>) {
        const std::size_t kind = Packed ? (tag >> 4) & 0x07u : *p++;
        with_variant<PTXRegister>(kind, [&](auto i) {
            for_each_field<PTXRegister, i>([&](auto k) { skip_field<FieldType<PTXRegister, i, k>, false>(p, 0); });
        });
    } else if constexpr (std::is_same_v<T, std::vector<PTXRegister>>) {
        const auto count = static_cast<std::size_t>(get_varint(p));
        for (std::size_t i = 0; i < count; ++i) skip_record<PTXRegister>(p);
    } else if constexpr (std::is_same_v<T, PackedInstruction>) {
        p += instruction_size(p);
    } else {
        skip_record<T>(p);
    }
}

template <class V>
void skip_record(const Byte*& p) noexcept {
    const Byte tag = *p++;
    with_variant<V>(variant_of_tag<V>(tag), [&](auto i) {
        for_each_field<V, i>([&](auto k) { skip_field<FieldType<V, i, k>, Format<V>::packed>(p, tag); });
    });
}

// The record of a union at `p`, whole.
template <class V>
Bytes record_at(const Byte* p) noexcept {
    const Byte* end = p;
    skip_record<V>(end);
    return {p, end};
}

// The variant a record holds.
template <class V>
std::size_t variant_of(const Byte* record) noexcept {
    return variant_of_tag<V>(record[0]);
}

// The value that a record's fields make, owning its texts and lists: a value the parser reads back and hands on.
template <class V>
V value_of(const FieldsOf<V>& fields);

template <class T>
T field_value(const View<T>& field) {
    if constexpr (is_text_v<T>) {
        return T{std::string_view{field}};
    } else if constexpr (std::is_same_v<T, PTXRegister>) {
        return value_of<PTXRegister>(field);
    } else if constexpr (std::is_same_v<T, std::vector<PTXRegister>>) {
        T list;
        list.reserve(field.count);
        const Byte* p = field.bytes;
        for (std::size_t i = 0; i < field.count; ++i) list.push_back(value_of<PTXRegister>(get_record<PTXRegister>(p)));
        return list;
    } else if constexpr (std::is_same_v<T, PackedInstruction>) {
        return T{field.data(), field.size()};
    } else if constexpr (is_record_v<T>) {
        const Byte* p = field.data();
        return value_of<T>(get_record<T>(p));
    } else {
        return field;
    }
}

template <class V>
V value_of(const FieldsOf<V>& fields) {
    V value;
    with_variant<V>(static_cast<std::size_t>(fields.kind), [&](auto i) {
        auto& alternative = value.template emplace<i>();
        for_each_field<V, i>([&](auto k) {
            using T = FieldType<V, i, k>;
            field_ref<k>(alternative) = field_value<T>(get_slot(fields, Tag<T>{}));
        });
    });
    return value;
}

// The statement whose record's tag has been read; `p` is left after it.
inline PTXStatement get_statement(Byte tag, const Byte*& p) {
    return value_of<PTXStatement>(get_record_after<PTXStatement>(tag, p));
}

// ---- Values as their records read them: the fields of a parser's values.

constexpr std::uint64_t view_of(std::uint64_t value) noexcept {
    return value;
}
constexpr u128 view_of(u128 value) noexcept {
    return value;
}
template <class E>
requires std::is_enum_v<E>
constexpr E view_of(E value) noexcept {
    return value;
}
inline TextView view_of(const Text& text) noexcept {
    return text.view();
}
inline TextView view_of(const std::string& text) noexcept {
    return std::string_view{text};
}
inline Bytes view_of(const PackedInstruction& instruction) noexcept {
    return {instruction.data(), instruction.size()};
}

// The flat form of a value whose fields are all plain, as a register's are.
template <class V>
FieldsOf<V> fields_of(const V& value) noexcept {
    FieldsOf<V> fields{};
    fields.kind = static_cast<decltype(fields.kind)>(value.index());
    with_variant<V>(value.index(), [&](auto i) {
        const auto& alternative = *std::get_if<i>(&value);
        for_each_field<V, i>(
            [&](auto k) { set_slot(fields, Tag<FieldType<V, i, k>>{}, view_of(field_ref<k>(alternative))); });
    });
    return fields;
}
inline RegisterFields view_of(const PTXRegister& reg) noexcept {
    return fields_of(reg);
}

// ---- Writing

// A vector's registers as the parser holds them: at(i) gives the fields of the i-th.
template <class At>
struct RegistersFrom {
    std::size_t count;
    At at;
};
// Older clang does not deduce aggregate template arguments without a guide.
template <class At>
RegistersFrom(std::size_t, At) -> RegistersFrom<At>;

// The bits of an operand's tag that a field takes.
constexpr Byte tag_bits(std::uint64_t value) noexcept {
    return (value >> 63) != 0 ? kNegated : Byte{0};
}
constexpr Byte tag_bits(const RegisterFields& reg) noexcept {
    return static_cast<Byte>(static_cast<Byte>(reg.kind) << 4);
}
constexpr Byte tag_bits(TextView text) noexcept {
    return text.size < kLongestTagText ? static_cast<Byte>((text.size + 1) << 4) : 0;
}
constexpr Byte tag_bits(const RegisterList&) noexcept {
    return 0;
}
constexpr Byte tag_bits(const std::vector<PTXRegister>&) noexcept {
    return 0;
}
template <class At>
constexpr Byte tag_bits(const RegistersFrom<At>&) noexcept {
    return 0;
}

template <class V, class Sink>
void put_value(Sink& out, const V& value);
template <class Sink>
void put_register_payload(Sink& out, const RegisterFields& reg);

// Each field as its type is written, from a flat form's member or from a value.
template <bool Packed, class Sink>
[[gnu::always_inline]] inline void put_field(Sink& out, std::uint64_t value) {
    put_varint(out, Packed && tag_bits(value) != 0 ? 0 - value : value);
}
template <bool Packed, class Sink, class E>
requires std::is_enum_v<E>
void put_field(Sink& out, E value) {
    out.byte(static_cast<Byte>(value));
}
template <bool Packed, class Sink>
void put_field(Sink& out, u128 value) {
    put_varint(out, value);
}
template <bool Packed, class Sink>
[[gnu::always_inline]] inline void put_field(Sink& out, TextView text) {
    if (!Packed || tag_bits(text) == 0) put_varint(out, std::uint64_t{text.size});
    out.bytes(text.data, text.size);
}
template <bool Packed, class Sink>
[[gnu::always_inline]] inline void put_field(Sink& out, const RegisterFields& reg) {
    if constexpr (!Packed) out.byte(static_cast<Byte>(reg.kind));
    put_register_payload(out, reg);
}
template <bool Packed, class Sink, class At>
void put_field(Sink& out, const RegistersFrom<At>& list) {
    put_varint(out, std::uint64_t{list.count});
    for (std::size_t i = 0; i < list.count; ++i) put_field<false>(out, RegisterFields{list.at(i)});
}
template <bool Packed, class Sink>
void put_field(Sink& out, const RegisterList& list) {
    const Byte* p = list.bytes;
    put_field<Packed>(out, RegistersFrom{list.count, [&p](std::size_t) { return get_record<PTXRegister>(p); }});
}
template <bool Packed, class Sink>
void put_field(Sink& out, const std::vector<PTXRegister>& list) {
    put_field<Packed>(out, RegistersFrom{list.size(), [&list](std::size_t i) { return fields_of(list[i]); }});
}
template <bool Packed, class Sink>
void put_field(Sink& out, Bytes record) {
    out.bytes(record.data(), record.size());
}
template <bool Packed, class Sink, class V>
requires std::is_same_v<V, PTXOperand> || std::is_same_v<V, PTXStatement>
void put_field(Sink& out, const V& value) {
    put_value(out, value);
}

// Where a writer takes the fields of variant I from: source.field<I, K>() gives field K, from a flat form, from a
// value, or as the parser holds it. The writers below are written without closures: the parser inlines them into its
// largest rule, where the compiler would keep closures in memory.
template <class V>
struct FromFields {
    const FieldsOf<V>& fields;
    template <std::size_t I, std::size_t K>
    [[gnu::always_inline]] decltype(auto) field() const {
        return get_slot(fields, Tag<FieldType<V, I, K>>{});
    }
};

template <class V>
struct FromValue {
    const V& value;
    template <std::size_t I, std::size_t K>
    [[gnu::always_inline]] decltype(auto) field() const {
        const auto& field = field_ref<K>(*std::get_if<I>(&value));
        if constexpr (requires { view_of(field); })
            return view_of(field);
        else
            return (field);  // a list or a union, written from the value itself
    }
};

// An operand as the parser holds it: `vector_register(i)` gives the fields of the i-th register of a vector, whose
// `vector_bytes` the parser leaves unset.
template <class VectorRegister>
struct FromParser {
    const OperandFields& op;
    VectorRegister& vector_register;
    template <std::size_t I, std::size_t K>
    [[gnu::always_inline]] decltype(auto) field() const {
        using T = FieldType<PTXOperand, I, K>;
        if constexpr (std::is_same_v<T, std::vector<PTXRegister>>)
            return RegistersFrom<VectorRegister&>{op.vector_count, vector_register};
        else
            return get_slot(op, Tag<T>{});
    }
};

// Variant I of V: its tag (unless it is kept elsewhere, as an operand keeps its register's), then its fields.
template <class V, std::size_t I, bool WithTag, class Sink, class Source, std::size_t... K>
[[gnu::always_inline]] inline void put_variant(Sink& out, const Source& source, std::index_sequence<K...>) {
    constexpr bool packed = Format<V>::packed;
    if constexpr (WithTag) {
        constexpr auto tag = static_cast<Byte>(Format<V>::first_tag + I);
        if constexpr (packed)
            out.byte(static_cast<Byte>((tag | ... | tag_bits(source.template field<I, K>()))));
        else
            out.byte(tag);
    }
    (put_field<packed>(out, source.template field<I, K>()), ...);
}

template <class V, bool WithTag, class Sink, class Source, std::size_t... I>
[[gnu::always_inline]] inline void put_variant_of(Sink& out, std::size_t variant, const Source& source,
                                                  std::index_sequence<I...>) {
    static_cast<void>(
        ((variant == I && (put_variant<V, I, WithTag>(out, source, std::make_index_sequence<arity<V, I>>{}), true)) ||
         ...));
}

template <class V, bool WithTag = true, class Sink, class Source>
[[gnu::always_inline]] inline void put_from(Sink& out, std::size_t variant, const Source& source) {
    put_variant_of<V, WithTag>(out, variant, source, std::make_index_sequence<std::variant_size_v<V>>{});
}

// The record of a flat form's variant.
template <class V, class Sink>
[[gnu::always_inline]] inline void put_record(Sink& out, const FieldsOf<V>& fields) {
    put_from<V>(out, static_cast<std::size_t>(fields.kind), FromFields<V>{fields});
}

// The record of a value.
template <class V, class Sink>
void put_value(Sink& out, const V& value) {
    put_from<V>(out, value.index(), FromValue<V>{value});
}

// A register's fields without its kind, which an operand's tag holds.
template <class Sink>
[[gnu::always_inline]] inline void put_register_payload(Sink& out, const RegisterFields& reg) {
    put_from<PTXRegister, false>(out, static_cast<std::size_t>(reg.kind), FromFields<PTXRegister>{reg});
}

// An operand as the parser writes it.
template <class Sink, class VectorRegister>
[[gnu::always_inline]] inline void put_operand(Sink& out, const OperandFields& op, VectorRegister&& vector_register) {
    put_from<PTXOperand>(out, static_cast<std::size_t>(op.kind), FromParser<VectorRegister>{op, vector_register});
}

constexpr Byte operand_tag(OperandKind kind, RegisterKind reg = RegisterKind::General, bool negated = false) {
    return static_cast<Byte>(static_cast<Byte>(kind) | static_cast<Byte>(static_cast<Byte>(reg) << 4) |
                             (negated ? kNegated : 0));
}

// The bytes of the texts an operand holds, a label's or a custom register's name; it reads no other field.
constexpr std::size_t text_size(const OperandFields& op) noexcept {
    static_assert(std::variant_size_v<PTXOperand> == 10, "the variants that hold a text or a register are these");
    if (op.kind == OperandKind::Label || op.kind == OperandKind::MemoryLbl) return op.text.size;
    const bool holds_register = op.kind == OperandKind::Register || op.kind == OperandKind::MemoryRegDisp ||
                                op.kind == OperandKind::RegPredPair;
    return holds_register && op.reg.kind == RegisterKind::Custom ? op.reg.name.size : 0;
}

// The records of the values that the parser gives the writer.
template <class Sink>
void put_statement(Sink& out, const PTXStatement& statement) {
    put_value(out, statement);
}

}  // namespace zorvane::ast::encoding
