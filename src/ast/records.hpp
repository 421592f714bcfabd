// The records of a parsed tree besides the unions'. The file record is its header; beside the arena, a list of the
// function records in written order, so that listing the functions touches none of them. A function record: its
// counts of instructions, statements and parameters, its head (offset, link directive, kind and name), then a stream
// of framed records: its parameters, then its body's instructions and statements in the order of the text, then an
// end record. A record never spans chunks of the arena; a stream goes on in another chunk after a link. An
// instruction's record: its header, then its operands. Everything is written as it is read, so that what a text holds
// never costs more than its records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ast/enums.hpp"
#include "ast/file.hpp"
#include "ast/opcodes.hpp"
#include "ast/union_records.hpp"
#include "ast/varint.hpp"

namespace zorvane::ast::encoding {

// ---- The file: its header.

template <class Sink>
void put_file_header(Sink& out, const PTXHeader& header) {
    put_text(out, header.version);
    out.byte(static_cast<Byte>(header.target));
    put_varint(out, header.address_size);
}
PTXHeader get_file_header(const Byte* p);

// ---- A function record: its counts, fixed so that they can be written when the function ends, then its head,
// then its stream.

struct FunctionCounts {
    std::uint32_t instructions;
    std::uint32_t statements;
    std::uint32_t parameters;
};

struct FunctionHead {
    std::uint64_t offset;
    PTXLinkDirective link_directive;
    PTXFunctionKind kind;
    std::string_view name;
};

template <class Sink>
void put_function_head(Sink& out, const FunctionHead& head) {
    put_varint(out, head.offset);
    out.byte(static_cast<Byte>(head.link_directive));
    out.byte(static_cast<Byte>(head.kind));
    put_text(out, head.name);
}

inline FunctionCounts function_counts(const Byte* function) noexcept {
    return get_fixed<FunctionCounts>(function);
}
// `p` points after the counts; it is left at the stream.
FunctionHead get_function_head(const Byte*& p) noexcept;
FunctionHead function_head(const Byte* function) noexcept;
// Where the stream of a function record starts.
const Byte* function_stream(const Byte* function) noexcept;

// ---- A function's stream: each record framed by its length, a varint; a zero length is a link, the address of
// the chunk where the stream goes on. A record's first byte tells what it is: an instruction's opcode, a statement's
// tag, or one of these.

inline constexpr Byte kParameterTag = 0xF8;
inline constexpr Byte kEndTag = 0xFF;
static_assert(kStatementTag + std::variant_size_v<PTXStatement> <= kParameterTag,
              "statement tags are below the others");
inline constexpr std::size_t kLinkSize = 1 + sizeof(const Byte*);

enum class RecordKind { Instruction, Statement, Parameter };

constexpr bool is_kind(Byte tag, RecordKind kind) noexcept {
    switch (kind) {
        case RecordKind::Instruction:
            return tag < kStatementTag;
        case RecordKind::Statement:
            return tag >= kStatementTag && tag < kParameterTag;
        case RecordKind::Parameter:
            break;
    }
    return tag == kParameterTag;
}

// A parameter record: its tag, its type, its name.
struct ParameterFields {
    PTXType type;
    std::string_view name;
};

template <class Sink>
void put_parameter(Sink& out, const ParameterFields& parameter) {
    out.byte(kParameterTag);
    out.byte(static_cast<Byte>(parameter.type));
    put_text(out, parameter.name);
}
ParameterFields get_parameter(const Byte* record) noexcept;

// ---- An instruction record: the opcode, a flags byte, the offset, then the guard, the modifiers and the operand
// count where the flags say so; the operands follow.

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

// The opcode and the flags open the record, and the offset follows them, so that these are read without the rest.
inline constexpr std::size_t kOpcodeAt = 0;
inline constexpr std::size_t kFlagsAt = 1;
inline constexpr std::size_t kOffsetAt = 2;

inline PTXOpcode instruction_opcode(const Byte* record) noexcept {
    return static_cast<PTXOpcode>(record[kOpcodeAt]);
}
inline std::uint64_t instruction_offset(const Byte* record) noexcept {
    const Byte* p = record + kOffsetAt;
    return get_varint(p);
}
std::optional<std::uint64_t> instruction_guard(const Byte* record) noexcept;

}  // namespace zorvane::ast::encoding
