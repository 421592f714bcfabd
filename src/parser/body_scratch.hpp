// A function body while it is read: its lists, and the operands that the fast scanner read, still as plain records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ast/file.hpp"
#include "peg/engine.hpp"

namespace zorvane::parser {

// A register or an operand as the fast scanner reads it, in plain fields: buffers of these grow by copying bytes,
// and each becomes its tree value once, in place, where it stays.
enum class RegKind : std::uint8_t { General, Wide, Float, Special };

struct RegisterRead {
    RegKind kind;
    ast::PTXSpecialRegister special;
    ast::PTXDirection direction;
    std::uint64_t number;
};

enum class OperandKind : std::uint8_t {
    Immediate,
    FloatImmediate,
    Register,
    Predicate,
    MemoryLbl,
    MemoryRegDisp,
    Label,
    Vector
};

struct OperandRead {
    OperandKind kind;
    RegisterRead reg;
    std::uint64_t value;  // the number
    // The text of a label, or the registers of a vector among the registers read beside the operands.
    std::size_t begin;
    std::size_t length;
};

// The operands of the instructions that the fast scanner read in one body, in order; such an instruction has a
// pending operand list of their number until settle_operands makes them.
struct PendingOperands {
    std::vector<OperandRead> operands;
    std::vector<RegisterRead> vector_registers;

    void clear() noexcept {
        operands.clear();
        vector_registers.clear();
    }
};

struct BodyScratch {
    ast::PTXFunctionBody& body;
    PendingOperands& pending;
};

// Makes the pending operands in one block of exactly their number, hands each pending list its part, and gives
// the block to the body that holds `instructions`.
ast::OperandStore settle_operands(const peg::Input& in, const PendingOperands& pending,
                                  std::vector<ast::PTXInstruction>& instructions);

}  // namespace zorvane::parser
