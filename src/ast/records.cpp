// Reading the records of a parsed tree that are not the unions'.
#include "ast/records.hpp"

#include <string>

namespace zorvane::ast::encoding {

PTXHeader get_file_header(const Byte* p) {
    std::string version{get_text(p)};
    const auto target = static_cast<PTXTarget>(*p++);
    const std::uint64_t address_size = get_varint(p);
    return PTXHeader{std::move(version), target, address_size};
}

FunctionHead get_function_head(const Byte*& p) noexcept {
    FunctionHead head{};
    head.offset = get_varint(p);
    head.link_directive = static_cast<PTXLinkDirective>(*p++);
    head.kind = static_cast<PTXFunctionKind>(*p++);
    head.name = get_text(p);
    return head;
}

FunctionHead function_head(const Byte* function) noexcept {
    const Byte* p = function + sizeof(FunctionCounts);
    return get_function_head(p);
}

const Byte* function_stream(const Byte* function) noexcept {
    const Byte* p = function + sizeof(FunctionCounts);
    get_function_head(p);
    return p;
}

ParameterFields get_parameter(const Byte* record) noexcept {
    const Byte* p = record;
    [[maybe_unused]] const Byte tag = *p++;
    const auto type = static_cast<PTXType>(*p++);
    return {type, get_text(p)};
}

InstructionHeader get_instruction_header(const Byte*& p) noexcept {
    InstructionHeader h;
    h.opcode = static_cast<PTXOpcode>(p[kOpcodeAt]);
    const Byte flags = p[kFlagsAt];
    p += kOffsetAt;
    h.offset = get_varint(p);
    if (flags & kHasGuard) h.guard = get_varint(p);
    if (flags & kHasModifiers) h.modifiers = get_text(p);
    h.operand_count = flags >> kCountShift;
    if (h.operand_count == kCountInFlags) h.operand_count = static_cast<std::size_t>(get_varint(p));
    return h;
}

std::optional<std::uint64_t> instruction_guard(const Byte* record) noexcept {
    if ((record[kFlagsAt] & kHasGuard) == 0) return std::nullopt;
    const Byte* p = record + kOffsetAt;
    get_varint(p);
    return get_varint(p);
}

std::size_t instruction_size(const Byte* p) noexcept {
    const Byte* at = p;
    const InstructionHeader h = get_instruction_header(at);
    for (std::size_t i = 0; i < h.operand_count; ++i) skip_record<PTXOperand>(at);
    return static_cast<std::size_t>(at - p);
}

}  // namespace zorvane::ast::encoding
