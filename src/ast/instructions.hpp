// Instructions, declaration statements and body items: an instruction's record held on its own, and the two tagged
// unions of a body line, described once.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "ast/enums.hpp"
#include "ast/operands.hpp"
#include "ast/unions.hpp"
#include "ast/varint.hpp"

namespace zorvane::ast {

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

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_ = 0;
};

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

inline constexpr Union kStatementUnion{"PTXStatement",
                                       Variant<statement::CustomRegister>{"CustomRegister"},
                                       Variant<statement::RegisterCount>{"RegisterCount"},
                                       Variant<statement::SharedMemory>{"SharedMemory"},
                                       Variant<statement::LocalMemory>{"LocalMemory"},
                                       Variant<statement::Pragma>{"Pragma"}};
using PTXStatement = decltype(kStatementUnion)::type;
template <>
constexpr const auto& description_of<PTXStatement>() {
    return kStatementUnion;
}

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

inline constexpr Union kBodyItemUnion{"BodyItem",
                                      Variant<body::Statement>{"Statement", "statement"},
                                      Variant<body::Instruction>{"Instruction", "instruction"},
                                      Variant<body::LabelDef>{"LabelDef", "label"},
                                      Variant<body::Call>{"Call", "call"},
                                      Variant<body::Param>{"Param", "param"}};
using BodyItem = decltype(kBodyItemUnion)::type;
template <>
constexpr const auto& description_of<BodyItem>() {
    return kBodyItemUnion;
}

}  // namespace zorvane::ast
