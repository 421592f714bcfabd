// The arena's chunks.
#include "ast/arena.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace zorvane::ast {

namespace {

// A parse of a few lines takes one small chunk, one of a large module a few dozen large ones.
constexpr std::size_t kFirstChunk = 4 * 1024;
constexpr std::size_t kLargestChunk = 1024 * 1024;

}  // namespace

void Arena::new_chunk(std::size_t size) {
    if (next_size_ == 0) next_size_ = kFirstChunk;
    const std::size_t chunk_size = std::max(size, next_size_);
    // Room in the list first, so that the chunk below cannot be lost.
    if (chunks_.size() == chunks_.capacity()) chunks_.reserve(2 * chunks_.size() + 4);
    auto* data = static_cast<Byte*>(std::malloc(chunk_size));
    if (data == nullptr) throw std::bad_alloc{};
    chunks_.push_back({data, chunk_size});
    cursor_ = data;
    limit_ = data + chunk_size;
    next_size_ = std::min(2 * next_size_, kLargestChunk);
}

Byte* Arena::resize_last(std::size_t size) {
    Chunk& last = chunks_.back();
    auto* data = static_cast<Byte*>(std::realloc(last.data, size));
    if (data == nullptr) throw std::bad_alloc{};
    last = {data, size};
    cursor_ = data;
    limit_ = data + size;
    return data;
}

void Arena::reset(const Mark& mark) noexcept {
    release_from(mark.chunks);
    cursor_ = mark.cursor;
    limit_ = mark.limit;
}

void Arena::release_from(std::size_t first) noexcept {
    for (std::size_t i = first; i < chunks_.size(); ++i) std::free(chunks_[i].data);
    chunks_.resize(std::min(first, chunks_.size()));
}

std::size_t Arena::capacity() const noexcept {
    std::size_t total = 0;
    for (const Chunk& chunk : chunks_) total += chunk.size;
    return total;
}

}  // namespace zorvane::ast
