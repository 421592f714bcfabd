// Module-level records: header, functions, the file, and the tables derived from its functions.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "ast/enums.hpp"
#include "ast/instructions.hpp"

namespace zorvane::ast {

struct PTXHeader {
    std::string version;  // as written, e.g. "8.5"
    PTXTarget target;
    std::uint64_t address_size;
};

struct PTXFunctionParameter {
    std::string name;
    PTXType type_;
};

struct PTXFunctionSignature {
    std::vector<PTXFunctionParameter> parameters;
};

struct PTXFunctionBody {
    std::vector<PTXStatement> statements;
    std::vector<PTXInstruction> instructions;
    OperandStore operand_store;  // what the parsed instructions' operand lists borrow from; declared last
};

struct PTXFunction {
    std::string name;
    std::uint64_t offset;  // byte offset of the function's first keyword
    PTXLinkDirective link_directive;
    PTXFunctionKind kind;
    PTXFunctionSignature signature;
    PTXFunctionBody body;
};

// Where an instruction of the file lives: its function and its place in that function's instruction list.
struct InstructionAddress {
    std::uint64_t offset;
    std::uint32_t function;
    std::uint32_t index;
};

struct PTXFile {
    PTXHeader header;
    std::vector<PTXFunction> functions;
    std::vector<std::string> labels_ref;
    // One entry per instruction offset, ascending; the Python layer keeps the instruction objects beside it.
    std::vector<InstructionAddress> instruction_map;
    std::unordered_map<std::string, std::string> custom_registers;

    // The entry for `offset`, or nullptr.
    const InstructionAddress* find_instruction(std::uint64_t offset) const;
};

// The labels that operands reference, the instruction map and the custom-register renaming of a function list.
struct Elaboration {
    std::vector<std::string> labels_ref;
    std::vector<InstructionAddress> instruction_map;
    std::unordered_map<std::string, std::string> custom_registers;
};
Elaboration elaborate_functions(const std::vector<PTXFunction>& functions);

// The same tables built one function at a time, in order, so that the parser can add each function as soon as it
// is read, while what it wrote is still in the cache.
class Elaborator {
public:
    void add(const PTXFunction& function);
    Elaboration finish() &&;

private:
    Elaboration tables_;
    bool ascending_ = true;
    std::uint64_t previous_ = 0;
    std::uint32_t functions_ = 0;
};

}  // namespace zorvane::ast
