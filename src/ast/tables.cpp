// The custom-register renaming of a module.
#include "ast/tables.hpp"

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
            const encoding::StatementFields stmt = encoding::get_record<PTXStatement>(record);
            if (stmt.kind != index_of<PTXStatement, statement::CustomRegister> ||
                stmt.space != PTXSpace::CustomRegister)
                return;
            switch (stmt.type) {
                case PTXType::B32:
                case PTXType::S32:
                case PTXType::U32:
                    renamed[lower(stmt.name)] = "cr" + std::to_string(count32++);
                    break;
                case PTXType::B64:
                case PTXType::S64:
                case PTXType::U64:
                    renamed[lower(stmt.name)] = "crd" + std::to_string(count64++);
                    break;
                default:
                    break;
            }
        });
    });
    return renamed;
}

}  // namespace zorvane::ast
