// The lookup of instructions by the offset of their mnemonic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ast/refs.hpp"

namespace zorvane::ast {

// Finds instructions by the offset of their mnemonic, which ascends through a file. The offsets are kept in blocks of
// up to 32 instructions that span less than 64 KiB, each a base and two bytes an instruction, which give an
// instruction's number among all of them; a sparse list of places in the functions' streams leads to its record
// after a few more. A place stands before a record wherever 32 steps have gone by since the last one, reading a
// record being a step and entering a function two, so that the first lookup of any instruction reads fewer than 32
// records and 16 functions whatever lies between instructions (statements, parameters, declarations), a run of
// functions without records costs one place, and the list takes less than a byte a step.
class InstructionIndex {
public:
    explicit InstructionIndex(FileRef file);

    // The number of the instruction whose mnemonic starts at `offset`, if any.
    std::optional<std::size_t> number_of(std::uint64_t offset) const noexcept;
    // The instruction of a number below instruction_count().
    InstructionRef instruction(std::size_t number) const noexcept;
    std::size_t instruction_count() const noexcept { return deltas_.size(); }

private:
    struct Block {
        std::uint64_t base;  // the offset of its first instruction
        std::size_t first;   // the number of that instruction
    };
    struct Checkpoint {
        std::size_t number;    // of the next instruction from here
        const Byte* stream;    // where a cursor reading on from here starts
        std::size_t function;  // whose stream that is
    };
    void add_offset(std::uint64_t offset);

    FileRef file_;
    std::vector<Block> blocks_;
    std::vector<std::uint16_t> deltas_;  // of each instruction's offset from its block's base
    std::vector<Checkpoint> checkpoints_;
};

}  // namespace zorvane::ast
