// The file-wide tables: referenced labels, the instruction map and the custom-register renaming.
#include "ast/file.hpp"

#include <algorithm>
#include <type_traits>
#include <variant>

namespace zorvane::ast {

const InstructionAddress* PTXFile::find_instruction(std::uint64_t offset) const {
    auto it = std::lower_bound(instruction_map.begin(), instruction_map.end(), offset,
                               [](const InstructionAddress& a, std::uint64_t o) { return a.offset < o; });
    return it != instruction_map.end() && it->offset == offset ? &*it : nullptr;
}

namespace {

template <class Variant, class Alternative, std::size_t I = 0>
constexpr std::size_t variant_index() {
    if constexpr (std::is_same_v<std::variant_alternative_t<I, Variant>, Alternative>)
        return I;
    else
        return variant_index<Variant, Alternative, I + 1>();
}

// Branch targets are stored without their "$", so local labels ("L__BB0_1") start with "L" and are left out.
void collect_labels(const PTXInstruction& instr, std::vector<std::string>& labels) {
    constexpr std::size_t kLabel = variant_index<PTXOperand, operand::Label>();
    constexpr std::size_t kMemoryLbl = variant_index<PTXOperand, operand::MemoryLbl>();
    for (const PTXOperand& op : instr.operands) {
        // Most operands are registers: one comparison of the index each passes them by.
        const std::size_t index = op.index();
        if (index != kLabel && index != kMemoryLbl) continue;
        const Text& text = index == kLabel ? std::get<kLabel>(op)._0 : std::get<kMemoryLbl>(op)._0;
        if (text.empty() || text[0] != 'L') labels.push_back(text.str());
    }
}

// Parsed names are ASCII identifiers, so ASCII lower-casing is the full mapping for them.
std::string lower(std::string_view name) {
    std::string out{name};
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

void Elaborator::add(const PTXFunction& function) {
    const std::uint32_t function_index = functions_++;
    // Offsets of a parsed module ascend strictly already, which this confirms as it goes; otherwise a later entry
    // under an equal offset replaces the earlier one when the tables are finished.
    const auto& instructions = function.body.instructions;
    for (std::size_t ii = 0; ii < instructions.size(); ++ii) {
        const std::uint64_t offset = instructions[ii].offset;
        ascending_ = ascending_ && (tables_.instruction_map.empty() || offset > previous_);
        previous_ = offset;
        tables_.instruction_map.push_back({offset, function_index, static_cast<std::uint32_t>(ii)});
        collect_labels(instructions[ii], tables_.labels_ref);
    }

    std::uint64_t count32 = 0;
    std::uint64_t count64 = 0;
    for (const PTXStatement& s : function.body.statements) {
        auto* custom = std::get_if<statement::CustomRegister>(&s);
        if (custom == nullptr || custom->_0 != PTXSpace::CustomRegister) continue;
        switch (custom->_1) {
            case PTXType::B32:
            case PTXType::S32:
            case PTXType::U32:
                tables_.custom_registers[lower(custom->_2)] = "cr" + std::to_string(count32++);
                break;
            case PTXType::B64:
            case PTXType::S64:
            case PTXType::U64:
                tables_.custom_registers[lower(custom->_2)] = "crd" + std::to_string(count64++);
                break;
            default:
                break;
        }
    }
}

Elaboration Elaborator::finish() && {
    auto& map = tables_.instruction_map;
    if (!ascending_) {
        auto by_offset = [](const InstructionAddress& a, const InstructionAddress& b) { return a.offset < b.offset; };
        std::stable_sort(map.begin(), map.end(), by_offset);
        auto last_of_each =
            std::unique(map.rbegin(), map.rend(),
                        [](const InstructionAddress& a, const InstructionAddress& b) { return a.offset == b.offset; });
        map.erase(map.begin(), last_of_each.base());
    }
    map.shrink_to_fit();
    return std::move(tables_);
}

Elaboration elaborate_functions(const std::vector<PTXFunction>& functions) {
    Elaborator elaborator;
    for (const PTXFunction& f : functions) elaborator.add(f);
    return std::move(elaborator).finish();
}

}  // namespace zorvane::ast
