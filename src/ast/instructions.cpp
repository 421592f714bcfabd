// Instruction text, the float test, and body-item kinds.
#include "ast/instructions.hpp"

namespace zorvane::ast {

bool is_float(const PTXInstruction& instr) {
    std::string_view m = instr.modifiers.view();
    return m.find("f32") != std::string_view::npos || m.find("f64") != std::string_view::npos ||
           m.find("f8") != std::string_view::npos;
}

std::string instruction_text(const PTXInstruction& instr) {
    std::string out = "PTXInstruction(opcode='";
    out += member_name(instr.opcode);
    out += "', modifiers='";
    out += instr.modifiers.view();
    out += "', operands=[";
    for (std::size_t i = 0; i < instr.operands.size(); ++i) {
        if (i != 0) out += ", ";
        append_operand_tagged(out, instr.operands[i]);
    }
    out += "])";
    return out;
}

const char* body_item_kind(const BodyItem& item) {
    static constexpr const char* kinds[] = {"statement", "instruction", "label", "call", "param"};
    return kinds[item.index()];
}

}  // namespace zorvane::ast
