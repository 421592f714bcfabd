// Module-level records: header, functions, the file, and the tables derived from its functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// Where an instruction of the file lives: its function, its place in that function's instruction list, and its
// number among all the instructions of the file.
struct InstructionAddress {
    std::uint32_t function;
    std::uint32_t index;
    std::size_t number;
};

// A function that has instructions: the offset of its first one, and the number of that one in the file.
struct FunctionStart {
    std::uint64_t first_offset;
    std::uint32_t function;
    std::size_t first_number;
};

struct PTXFile {
    PTXHeader header;
    std::vector<PTXFunction> functions;
    // Instruction offsets ascend through the file, so an instruction is found by its function's start and then
    // within that function's list; the Python layer keeps the instruction objects beside, by number.
    std::vector<FunctionStart> function_starts;
    std::size_t instruction_count = 0;
    std::unordered_map<std::string, std::string> custom_registers;

    // The instruction whose mnemonic starts at `offset`, if any.
    std::optional<InstructionAddress> find_instruction(std::uint64_t offset) const;
};

// The instruction index and the custom-register renaming of a function list.
struct Elaboration {
    std::vector<FunctionStart> function_starts;
    std::size_t instruction_count = 0;
    std::unordered_map<std::string, std::string> custom_registers;
};

// The names that label operands and memory operands reference, in order, repeats kept, except local branch labels.
// Not part of the parse: worked out when asked for.
std::vector<std::string> referenced_labels(const std::vector<PTXFunction>& functions);

// Builds the tables one function at a time, in order, so that the parser can add each function as soon as it is
// read, while what it wrote is still in the cache.
class Elaborator {
public:
    void add(const PTXFunction& function);
    Elaboration finish() &&;

private:
    Elaboration tables_;
    bool started_ = false;
    std::uint64_t previous_ = 0;  // the offset of the last instruction added, once there is one
    std::uint32_t functions_ = 0;
};

}  // namespace zorvane::ast
