// The file-wide tables: referenced labels, the instruction map and the custom-register renaming.
#include "ast/file.hpp"

#include <algorithm>
#include <type_traits>
#include <variant>

#include "peg/check.hpp"

namespace zorvane::ast {

std::optional<InstructionAddress> PTXFile::find_instruction(std::uint64_t offset) const {
    // The last function whose first instruction starts at or before `offset`.
    auto after = std::upper_bound(function_starts.begin(), function_starts.end(), offset,
                                  [](std::uint64_t o, const FunctionStart& f) { return o < f.first_offset; });
    if (after == function_starts.begin()) return std::nullopt;
    const FunctionStart& start = *(after - 1);
    const auto& instructions = functions[start.function].body.instructions;
    auto it = std::lower_bound(instructions.begin(), instructions.end(), offset,
                               [](const PTXInstruction& i, std::uint64_t o) { return i.offset < o; });
    if (it == instructions.end() || it->offset != offset) return std::nullopt;
    const auto index = static_cast<std::size_t>(it - instructions.begin());
    return InstructionAddress{start.function, static_cast<std::uint32_t>(index), start.first_number + index};
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
    // The parser reads instructions in the order of the text, so their offsets ascend, which the lookup relies on.
    const auto& instructions = function.body.instructions;
    if (!instructions.empty()) {
        tables_.function_starts.push_back({instructions.front().offset, function_index, tables_.instruction_count});
        tables_.instruction_count += instructions.size();
    }
    if constexpr (peg::kDebugChecks) {
        for (const PTXInstruction& instruction : instructions) {
            ZORVANE_DEBUG_CHECK(!started_ || instruction.offset > previous_,
                                "instruction offsets do not ascend through the file");
            started_ = true;
            previous_ = instruction.offset;
        }
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
    return std::move(tables_);
}

std::vector<std::string> referenced_labels(const std::vector<PTXFunction>& functions) {
    std::vector<std::string> labels;
    for (const PTXFunction& f : functions)
        for (const PTXInstruction& instruction : f.body.instructions) collect_labels(instruction, labels);
    return labels;
}

}  // namespace zorvane::ast
