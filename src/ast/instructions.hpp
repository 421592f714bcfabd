// Instructions, declaration statements and body items.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ast/enums.hpp"
#include "ast/opcodes.hpp"
#include "ast/operands.hpp"
#include "ast/text.hpp"

namespace zorvane::ast {

// Register and array counts may need more than 64 bits.
__extension__ typedef unsigned __int128 u128;

// An instruction's fields, decoded from its record (encoding.hpp) when a reader wants them all as values.
struct PTXInstruction {
    std::uint64_t offset;  // byte offset of the first character of the mnemonic
    PTXOpcode opcode;
    ShortText modifiers;  // without leading dots, joined by "."
    std::vector<PTXOperand> operands;
    std::optional<std::uint64_t> is_predicated;  // the guard's predicate number
};

// An instruction record in a block of its own: how an instruction that no parse of a module holds (one parsed
// alone, a body line) is kept. Its bytes are the record as a module's tree holds it; copies are deep.
class PackedInstruction {
public:
    PackedInstruction() noexcept = default;
    PackedInstruction(const unsigned char* record, std::size_t size)
        : bytes_{std::make_unique_for_overwrite<unsigned char[]>(size)}, size_{size} {
        std::memcpy(bytes_.get(), record, size);
    }
    PackedInstruction(const PackedInstruction& other) : PackedInstruction(other.data(), other.size()) {}
    PackedInstruction(PackedInstruction&& other) noexcept = default;
    PackedInstruction& operator=(PackedInstruction other) noexcept {
        std::swap(bytes_, other.bytes_);
        std::swap(size_, other.size_);
        return *this;
    }

    const unsigned char* data() const noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }
    // Hands the block over; it is freed with delete[].
    [[nodiscard]] unsigned char* release() noexcept {
        size_ = 0;
        return bytes_.release();
    }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_ = 0;
};

// True when "f32", "f64" or "f8" occurs anywhere in the modifiers.
bool is_float(std::string_view modifiers);
// "PTXInstruction(opcode='Ld', modifiers='global.u32', operands=[" and, after the operands' tagged forms
// separated by ", " (append_operand_tagged), "])".
void append_instruction_text_head(std::string& out, PTXOpcode opcode, std::string_view modifiers);
void append_instruction_text_tail(std::string& out);
std::string instruction_text(const PTXInstruction& instr);

namespace statement {
struct CustomRegister {
    PTXSpace _0;
    PTXType _1;
    std::string _2;
};
struct RegisterCount {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
};
struct SharedMemory {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
    PTXOperand _3;  // the array name, a Label
};
struct LocalMemory {
    PTXSpace _0;
    PTXType _1;
    u128 _2;
    PTXOperand _3;
};
struct Pragma {};
}  // namespace statement

using PTXStatement = std::variant<statement::CustomRegister, statement::RegisterCount, statement::SharedMemory,
                                  statement::LocalMemory, statement::Pragma>;

namespace body {
struct Statement {
    PTXStatement _0;
};
struct Instruction {
    PackedInstruction _0;
};
struct LabelDef {
    std::string _0;
};
struct Call {
    std::string _0;  // the called function
};
struct Param {};
}  // namespace body

using BodyItem = std::variant<body::Statement, body::Instruction, body::LabelDef, body::Call, body::Param>;

// "statement", "instruction", "label", "call", "param"
std::string_view body_item_kind(const BodyItem& item) noexcept;

}  // namespace zorvane::ast
