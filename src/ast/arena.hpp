// The memory of a parse: an arena of chunks that never move, and the list of a file's function records.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "ast/varint.hpp"

namespace zorvane::ast {

using encoding::Byte;

// Chunks of memory that never move, all freed with the arena.
class Arena {
public:
    Arena() noexcept = default;
    Arena(Arena&& other) noexcept
        : chunks_{std::move(other.chunks_)},
          cursor_{std::exchange(other.cursor_, nullptr)},
          limit_{std::exchange(other.limit_, nullptr)},
          next_size_{other.next_size_} {}
    Arena& operator=(Arena&& other) noexcept {
        Arena old{std::move(*this)};
        chunks_ = std::move(other.chunks_);
        cursor_ = std::exchange(other.cursor_, nullptr);
        limit_ = std::exchange(other.limit_, nullptr);
        next_size_ = other.next_size_;
        return *this;
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { release_from(0); }

    // Writes first into `size` bytes at `data`, which the caller keeps and frees: what a single line holds fits in a
    // buffer of the caller's, which a parse that reads it needs no allocation for. Only on a new arena.
    void lend(Byte* data, std::size_t size) noexcept {
        cursor_ = data;
        limit_ = data + size;
    }

    Byte* cursor() const noexcept { return cursor_; }
    std::size_t room() const noexcept { return static_cast<std::size_t>(limit_ - cursor_); }
    void advance(Byte* to) noexcept { cursor_ = to; }
    // Makes a new chunk, with room for at least `size` bytes, the current one.
    void new_chunk(std::size_t size);
    // Gives the last chunk, which nothing before the cursor uses, `size` bytes; returns where it now is, the cursor.
    Byte* resize_last(std::size_t size);

    struct Mark {
        std::size_t chunks;
        Byte* cursor;
        Byte* limit;
    };
    Mark mark() const noexcept { return {chunks_.size(), cursor_, limit_}; }
    // Gives back everything allocated since `mark`.
    void reset(const Mark& mark) noexcept;
    // The bytes of all chunks.
    std::size_t capacity() const noexcept;

private:
    struct Chunk {
        Byte* data;
        std::size_t size;
    };
    void release_from(std::size_t first) noexcept;

    std::vector<Chunk> chunks_;
    Byte* cursor_ = nullptr;
    Byte* limit_ = nullptr;
    std::size_t next_size_ = 0;
};

// The function records of a file in written order, in pages that never move: the list grows without copying
// what it holds, so that it takes the bytes of its entries and never twice as many.
class FunctionList {
public:
    void push_back(const Byte* function) {
        if (size_ % kPage == 0) {
            // Room in the list of pages first, so that the page below cannot be lost.
            if (pages_.size() == pages_.capacity()) pages_.reserve(2 * pages_.size() + 4);
            pages_.push_back(std::make_unique_for_overwrite<const Byte*[]>(kPage));
        }
        pages_.back()[size_++ % kPage] = function;
    }
    std::size_t size() const noexcept { return size_; }
    const Byte* operator[](std::size_t i) const noexcept { return pages_[i / kPage][i % kPage]; }
    template <class F>
    void for_each(F&& f) const {
        for (std::size_t i = 0; i < size_; ++i) f((*this)[i]);
    }
    std::size_t capacity() const noexcept { return pages_.size() * kPage * sizeof(const Byte*); }

private:
    static constexpr std::size_t kPage = 1024;
    std::vector<std::unique_ptr<const Byte*[]>> pages_;
    std::size_t size_ = 0;
};

}  // namespace zorvane::ast
