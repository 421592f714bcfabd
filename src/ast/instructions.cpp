// Instruction text, the float test, and body-item kinds.
#include "ast/instructions.hpp"

namespace zorvane::ast {

bool is_float(std::string_view m) {
    return m.find("f32") != std::string_view::npos || m.find("f64") != std::string_view::npos ||
           m.find("f8") != std::string_view::npos;
}

void append_instruction_text_head(std::string& out, PTXOpcode opcode, std::string_view modifiers) {
    out += "PTXInstruction(opcode='";
    out += member_name(opcode);
    out += "', modifiers='";
    out += modifiers;
    out += "', operands=[";
}

void append_instruction_text_tail(std::string& out) {
    out += "])";
}

std::string instruction_text(const PTXInstruction& instr) {
    std::string out;
    append_instruction_text_head(out, instr.opcode, instr.modifiers.view());
    for (std::size_t i = 0; i < instr.operands.size(); ++i) {
        if (i != 0) out += ", ";
        append_operand_tagged(out, instr.operands[i]);
    }
    append_instruction_text_tail(out);
    return out;
}

std::string_view body_item_kind(const BodyItem& item) noexcept {
    static constexpr std::string_view kinds[] = {"statement", "instruction", "label", "call", "param"};
    return kinds[item.index()];
}

}  // namespace zorvane::ast
