// Operand storage: an instruction's operand list, and the block that the instructions of a parsed body share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "ast/operands.hpp"

namespace zorvane::ast {

// Operands made in one allocation, constructed in place; the block owns them.
class OperandBlock {
public:
    OperandBlock() noexcept = default;
    // `make(slot, i)` constructs the i-th operand at `slot`.
    template <class Make>
    OperandBlock(std::size_t size, Make&& make) : data_{build(size, make)}, size_{size} {}
    OperandBlock(OperandBlock&& other) noexcept
        : data_{std::exchange(other.data_, nullptr)}, size_{std::exchange(other.size_, 0)} {}
    OperandBlock& operator=(OperandBlock&& other) noexcept {
        if (this != &other) {
            destroy(data_, size_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~OperandBlock() { destroy(data_, size_); }

    PTXOperand* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

    template <class Make>
    static PTXOperand* build(std::size_t size, Make&& make) {
        if (size == 0) return nullptr;
        PTXOperand* block = std::allocator<PTXOperand>{}.allocate(size);
        std::size_t made = 0;
        try {
            for (; made < size; ++made) make(block + made, made);
        } catch (...) {
            destroy(block, made, size);
            throw;
        }
        return block;
    }
    // Destroys the first `made` operands of a block of `size` and frees it.
    static void destroy(PTXOperand* block, std::size_t made, std::size_t size) noexcept {
        if (block == nullptr) return;
        std::destroy_n(block, made);
        std::allocator<PTXOperand>{}.deallocate(block, size);
    }
    static void destroy(PTXOperand* block, std::size_t size) noexcept { destroy(block, size, size); }

private:
    PTXOperand* data_ = nullptr;
    std::size_t size_ = 0;
};

// The operands of one instruction, in one of three states. Owned: its own block, as every list made outside a
// function body and every copy is. Borrowed: a part of the block of the function body that holds the instruction,
// so that the hundreds of thousands of instructions of a module cost one allocation per body instead of one each;
// such a list must not outlive its body, and only the parser moves it. Pending: only a count, while the parser
// reads the body and before the block exists.
class OperandList {
public:
    using value_type = PTXOperand;
    using iterator = PTXOperand*;
    using const_iterator = const PTXOperand*;

    OperandList() noexcept = default;
    OperandList(const OperandList& other) : size_{other.size_} {
        if (other.is_pending())
            state_ = State::Pending;
        else
            data_ = OperandBlock::build(other.size(), [source = other.data_](PTXOperand* slot, std::size_t i) {
                std::construct_at(slot, source[i]);
            });
    }
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
        if (state_ == State::Owned) OperandBlock::destroy(data_, size_);
    }

    // `make(slot, i)` constructs the i-th operand at `slot`.
    template <class Make>
    static OperandList made(std::size_t size, Make&& make) {
        OperandList list;
        list.data_ = OperandBlock::build(checked(size), make);
        list.size_ = static_cast<std::uint32_t>(size);
        return list;
    }
    static OperandList borrowed(PTXOperand* data, std::size_t size) noexcept {
        return OperandList{data, size, State::Borrowed};
    }
    static OperandList pending(std::size_t size) noexcept { return OperandList{nullptr, size, State::Pending}; }
    bool is_pending() const noexcept { return state_ == State::Pending; }

    // Moves the operands of [first, last) into a block of their own.
    template <class It>
    void assign_moved(It first, It last) {
        *this = made(static_cast<std::size_t>(std::distance(first, last)),
                     [&first](PTXOperand* slot, std::size_t) { std::construct_at(slot, std::move(*first++)); });
    }
    void clear() noexcept { *this = OperandList{}; }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const PTXOperand* data() const noexcept { return data_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }
    const PTXOperand& operator[](std::size_t i) const noexcept { return data_[i]; }

private:
    enum class State : std::uint8_t { Owned, Borrowed, Pending };

    OperandList(PTXOperand* data, std::size_t size, State state) noexcept
        : data_{data}, size_{static_cast<std::uint32_t>(size)}, state_{state} {}

    static std::size_t checked(std::size_t size) {
        if (size > UINT32_MAX) throw std::length_error("an instruction has too many operands");
        return size;
    }

    PTXOperand* data_ = nullptr;
    std::uint32_t size_ = 0;
    State state_ = State::Owned;
};

// The block that the operand lists of a parsed function body borrow from. A copy of a body copies its
// instructions, whose copies own their operands, so a copy of the store is empty.
class OperandStore {
public:
    OperandStore() noexcept = default;
    explicit OperandStore(OperandBlock block) noexcept : block_{std::move(block)} {}
    OperandStore(const OperandStore&) noexcept {}
    OperandStore(OperandStore&&) noexcept = default;
    OperandStore& operator=(const OperandStore& other) noexcept {
        if (this != &other) block_ = OperandBlock{};
        return *this;
    }
    OperandStore& operator=(OperandStore&&) noexcept = default;

private:
    OperandBlock block_;
};

}  // namespace zorvane::ast
