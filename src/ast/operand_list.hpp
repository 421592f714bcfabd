// Operand storage: an instruction's operand list, and the block that the instructions of a parsed body share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "ast/operands.hpp"
#include "peg/check.hpp"

namespace zorvane::ast {

// Destroys the first `made` operands of a block of `size` and frees it.
inline void free_operands(PTXOperand* block, std::size_t made, std::size_t size) noexcept {
    if (block == nullptr) return;
    std::destroy_n(block, made);
    std::allocator<PTXOperand>{}.deallocate(block, size);
}

// A block of `size` operands, the i-th constructed by `make(slot, i)` at `slot`; nothing is left over on a throw.
template <class Make>
PTXOperand* make_operands(std::size_t size, Make&& make) {
    if (size == 0) return nullptr;
    PTXOperand* block = std::allocator<PTXOperand>{}.allocate(size);
    std::size_t made = 0;
    try {
        for (; made < size; ++made) make(block + made, made);
    } catch (...) {
        free_operands(block, made, size);
        throw;
    }
    return block;
}

// The operands of one instruction. Owned: a block of its own, as every list made outside a function body and every
// copy has. Borrowed: a run of the operand store of the function body that holds the instruction, so that the
// hundreds of thousands of instructions of a module need no allocation each; such a list must not outlive its
// body, and only the parser moves it.
class OperandList {
public:
    using value_type = PTXOperand;
    using iterator = PTXOperand*;
    using const_iterator = const PTXOperand*;

    OperandList() noexcept = default;
    OperandList(const OperandList& other)
        : data_{make_operands(
              other.size(),
              [source = other.data_](PTXOperand* slot, std::size_t i) { std::construct_at(slot, source[i]); })},
          size_{other.size_} {}
    OperandList(OperandList&& other) noexcept
        : data_{std::exchange(other.data_, nullptr)},
          size_{std::exchange(other.size_, 0)},
          state_{std::exchange(other.state_, State::Owned)} {}
    OperandList& operator=(OperandList other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(state_, other.state_);
        return *this;
    }
    ~OperandList() {
        if (state_ == State::Owned) free_operands(data_, size_, size_);
    }

    // `make(slot, i)` constructs the i-th operand at `slot`.
    template <class Make>
    static OperandList made(std::size_t size, Make&& make) {
        OperandList list;
        list.data_ = make_operands(checked(size), make);
        list.size_ = static_cast<std::uint32_t>(size);
        return list;
    }
    static OperandList borrowed(PTXOperand* data, std::size_t size) noexcept(!peg::kDebugChecks) {
        ZORVANE_DEBUG_CHECK(size <= UINT32_MAX, "a borrowed operand list is too long for its size field");
        ZORVANE_DEBUG_CHECK(data != nullptr || size == 0, "a borrowed operand list has operands but no storage");
        return OperandList{data, size, State::Borrowed};
    }

    // Moves the operands of [first, last) into a block of their own.
    template <class It>
    void assign_moved(It first, It last) {
        *this = made(static_cast<std::size_t>(std::distance(first, last)),
                     [&first](PTXOperand* slot, std::size_t) { std::construct_at(slot, std::move(*first++)); });
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const PTXOperand* data() const noexcept { return data_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }
    const PTXOperand& operator[](std::size_t i) const noexcept(!peg::kDebugChecks) {
        ZORVANE_DEBUG_CHECK(i < size_, "an operand is read past the end of its list");
        return data_[i];
    }

private:
    enum class State : std::uint8_t { Owned, Borrowed };

    OperandList(PTXOperand* data, std::size_t size, State state) noexcept
        : data_{data}, size_{static_cast<std::uint32_t>(size)}, state_{state} {}

    // The size field is 32 bits wide; a longer list would free and destroy the wrong number of operands.
    static std::size_t checked(std::size_t size) {
        ZORVANE_CHECK(size <= UINT32_MAX, "an instruction has too many operands for its operand list");
        return size;
    }

    PTXOperand* data_ = nullptr;
    std::uint32_t size_ = 0;
    State state_ = State::Owned;
};

// The operands of a parsed function body, which its instructions' lists borrow: blocks filled in order, each
// instruction's operands a run within one block, so that no operand ever moves. A copy of a body copies its
// instructions, whose copies own their operands, so a copy of the store is empty.
class OperandStore {
public:
    OperandStore() noexcept = default;
    OperandStore(const OperandStore&) noexcept {}
    OperandStore(OperandStore&&) noexcept = default;
    OperandStore& operator=(const OperandStore& other) noexcept {
        if (this != &other) blocks_.clear();
        return *this;
    }
    OperandStore& operator=(OperandStore&&) noexcept = default;

    // Room for `count` operands in a row. A new block, when one is needed, takes room for `wanted()` operands if
    // that is more.
    template <class Wanted>
    PTXOperand* room_for(std::size_t count, Wanted&& wanted) {
        if (blocks_.empty() || blocks_.back().capacity - blocks_.back().size < count) {
            const std::size_t capacity = std::max(count, static_cast<std::size_t>(wanted()));
            // Room in the list first, so that the block below cannot be lost.
            if (blocks_.size() == blocks_.capacity()) blocks_.reserve(2 * blocks_.size() + 4);
            blocks_.emplace_back(std::allocator<PTXOperand>{}.allocate(capacity), capacity);
        }
        ZORVANE_DEBUG_CHECK(blocks_.back().capacity - blocks_.back().size >= count,
                            "the operand store gives less room than asked for");
        return blocks_.back().data + blocks_.back().size;
    }
    // Counts an operand just constructed in the room given, in order.
    void made_one() noexcept(!peg::kDebugChecks) {
        ZORVANE_DEBUG_CHECK(!blocks_.empty() && blocks_.back().size < blocks_.back().capacity,
                            "an operand is counted beyond the room of its block");
        ++blocks_.back().size;
    }

private:
    struct Block {
        PTXOperand* data;
        std::size_t capacity;
        std::size_t size = 0;

        Block(PTXOperand* block, std::size_t room) noexcept : data{block}, capacity{room} {}
        Block(Block&& other) noexcept
            : data{std::exchange(other.data, nullptr)}, capacity{other.capacity}, size{other.size} {}
        Block& operator=(Block&&) = delete;
        ~Block() { free_operands(data, size, capacity); }
    };
    std::vector<Block> blocks_;
};

}  // namespace zorvane::ast
