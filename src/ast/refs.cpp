// Reading the records of a parse through their references.
#include "ast/refs.hpp"

namespace zorvane::ast {

using namespace encoding;

namespace detail {

const Byte* BodyCursor::next() noexcept {
    while (true) {
        const std::uint64_t size = get_varint(p_);
        if (size == 0) {
            p_ = get_fixed<const Byte*>(p_);
            continue;
        }
        const Byte* record = p_;
        p_ += size;
        return *record == kEndTag ? nullptr : record;
    }
}

}  // namespace detail

encoding::InstructionHeader InstructionRef::header() const noexcept {
    const Byte* p = at_;
    return get_instruction_header(p);
}

std::string_view InstructionRef::modifiers() const noexcept {
    return header().modifiers;
}

InstructionRef::Operands InstructionRef::operands() const noexcept {
    const Byte* p = at_;
    const InstructionHeader h = get_instruction_header(p);
    return Operands{p, h.operand_count};
}

InstructionRecords BodyRef::instructions() const noexcept {
    return InstructionRecords{function_stream(function_), function_counts(function_).instructions};
}

StatementRecords BodyRef::statements() const noexcept {
    return StatementRecords{function_stream(function_), function_counts(function_).statements};
}

SignatureRef::Parameters SignatureRef::parameters() const noexcept {
    return Parameters{
        Records<RecordKind::Parameter>{function_stream(function_), function_counts(function_).parameters}};
}

std::uint64_t FunctionRef::offset() const noexcept {
    return function_head(at_).offset;
}

PTXLinkDirective FunctionRef::link_directive() const noexcept {
    return function_head(at_).link_directive;
}

PTXFunctionKind FunctionRef::kind() const noexcept {
    return function_head(at_).kind;
}

std::string_view FunctionRef::name() const noexcept {
    return function_head(at_).name;
}

PTXHeader FileRef::header() const {
    return get_file_header(at_);
}

}  // namespace zorvane::ast
