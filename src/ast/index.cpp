// The instruction index: blocks of offsets, and places in the functions' streams to walk from.
#include "ast/index.hpp"

#include <algorithm>

#include "base/failure.hpp"

namespace zorvane::ast {

using namespace encoding;

namespace {

// The instruction index keeps the offsets of so many instructions in a block, and a place in the streams before the
// first record after so many steps: reading a record is a step, entering a function (which reads its record and
// the list of functions) two.
constexpr std::size_t kBlockInstructions = 32;
constexpr std::size_t kStepsBetween = 32;
constexpr std::size_t kFunctionSteps = 2;

}  // namespace

InstructionIndex::InstructionIndex(FileRef file) : file_{file} {
    std::size_t count = 0;
    file.functions().for_each([&count](FunctionRef function) { count += function.body().instructions().size(); });
    deltas_.reserve(count);
    std::size_t function_index = 0;
    // Places are made only before records, where a walk can lead: a run of functions without records (declarations)
    // costs one place, before the record after it. The first record of the file has one.
    std::size_t steps = kStepsBetween;
    file.functions().for_each([&](FunctionRef function) {
        steps += kFunctionSteps;
        detail::BodyCursor cursor{function_stream(function.record())};
        while (true) {
            const Byte* before = cursor.position();
            const Byte* record = cursor.next();
            if (record == nullptr) break;
            if (steps >= kStepsBetween) {
                checkpoints_.push_back({deltas_.size(), before, function_index});
                steps = 0;
            }
            ++steps;
            if (is_kind(*record, RecordKind::Instruction)) add_offset(InstructionRef{record}.offset());
        }
        ++function_index;
    });
}

void InstructionIndex::add_offset(std::uint64_t offset) {
    const std::size_t number = deltas_.size();
    if (!blocks_.empty()) {
        const Block& block = blocks_.back();
        // The lookup relies on offsets that ascend through the file, as the parser reads the text in order.
        ZORVANE_CHECK(offset > block.base + deltas_.back(), "instruction offsets do not ascend");
        if (number - block.first < kBlockInstructions && offset - block.base <= UINT16_MAX) {
            deltas_.push_back(static_cast<std::uint16_t>(offset - block.base));
            return;
        }
    }
    blocks_.push_back({offset, number});
    deltas_.push_back(0);
}

std::optional<std::size_t> InstructionIndex::number_of(std::uint64_t offset) const noexcept {
    // The last block that starts at or before `offset`.
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), offset,
                                        [](std::uint64_t o, const Block& b) { return o < b.base; });
    if (after == blocks_.begin()) return std::nullopt;
    const Block& block = *(after - 1);
    const std::uint64_t delta = offset - block.base;
    if (delta > UINT16_MAX) return std::nullopt;
    const std::size_t end = after == blocks_.end() ? deltas_.size() : after->first;
    for (std::size_t i = block.first; i < end; ++i) {
        if (deltas_[i] == delta) return i;
        if (deltas_[i] > delta) break;
    }
    return std::nullopt;
}

InstructionRef InstructionIndex::instruction(std::size_t number) const noexcept {
    // The last place before the instruction, from which fewer than kStepsBetween steps lead to it.
    const auto after = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), number,
                                        [](std::size_t n, const Checkpoint& c) { return n < c.number; });
    const Checkpoint& start = *(after - 1);
    detail::BodyCursor cursor{start.stream};
    std::size_t function = start.function;
    std::size_t at = start.number;
    while (true) {
        const Byte* record = cursor.next();
        if (record == nullptr) {
            // The instruction lies in a later function.
            cursor = detail::BodyCursor{function_stream(file_.functions()[++function].record())};
            continue;
        }
        if (!is_kind(*record, RecordKind::Instruction)) continue;
        if (at == number) return InstructionRef{record};
        ++at;
    }
}

}  // namespace zorvane::ast
