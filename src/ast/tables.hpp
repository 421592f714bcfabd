// The file-wide tables that a module's functions give: the labels that operands reference, and the renaming of
// the registers that functions declare by name. Both are worked out from the tree when asked for.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "ast/refs.hpp"

namespace zorvane::ast {

// Calls f(name) for each name that a label operand or a memory operand references, in order, repeats kept, except
// local branch labels: those are stored without their "$", so they start with "L" ("L__BB0_1").
template <class F>
void for_each_referenced_label(FileRef file, F&& f) {
    file.functions().for_each([&f](FunctionRef function) {
        function.body().instructions().for_each([&f](const encoding::Byte* record) {
            InstructionRef{record}.operands().for_each([&f](const encoding::OperandFields& op) {
                if (op.kind != encoding::OperandKind::Label && op.kind != encoding::OperandKind::MemoryLbl) return;
                const std::string_view name = op.text;
                if (name.empty() || name[0] != 'L') f(name);
            });
        });
    });
}

// Each custom register declared in a function, lower-cased, to "cr" and a number for the 32-bit integer types or
// "crd" and a number for the 64-bit ones, counted afresh in each function; a later declaration of a name wins.
std::unordered_map<std::string, std::string> custom_registers(FileRef file);

}  // namespace zorvane::ast
