// The custom-register renaming of a module.
#include "ast/tables.hpp"

#include <variant>

namespace zorvane::ast {

namespace {

// Parsed names are ASCII identifiers, so ASCII lower-casing is the full mapping for them.
std::string lower(std::string_view name) {
    std::string out{name};
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

std::unordered_map<std::string, std::string> custom_registers(FileRef file) {
    std::unordered_map<std::string, std::string> renamed;
    file.functions().for_each([&renamed](FunctionRef function) {
        std::uint64_t count32 = 0;
        std::uint64_t count64 = 0;
        function.body().statements().for_each([&](const encoding::Byte* record) {
            const encoding::Byte* p = record + 1;
            const PTXStatement stmt = encoding::get_statement(record[0], p);
            const auto* custom = std::get_if<statement::CustomRegister>(&stmt);
            if (custom == nullptr || custom->_0 != PTXSpace::CustomRegister) return;
            switch (custom->_1) {
                case PTXType::B32:
                case PTXType::S32:
                case PTXType::U32:
                    renamed[lower(custom->_2)] = "cr" + std::to_string(count32++);
                    break;
                case PTXType::B64:
                case PTXType::S64:
                case PTXType::U64:
                    renamed[lower(custom->_2)] = "crd" + std::to_string(count64++);
                    break;
                default:
                    break;
            }
        });
    });
    return renamed;
}

}  // namespace zorvane::ast
