// Compact owned strings: Text, one pointer, for the names inside registers and operands; ShortText, 16 bytes, for
// instruction modifiers.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace zorvane::ast {

// A std::string would make every register 40 bytes and every move of one a branchy copy; this handle keeps a
// register at 16 bytes and moves it as a pointer. The length and the bytes share one heap block; copies are deep.
class Text {
public:
    Text() noexcept = default;
    explicit Text(std::string_view text) {
        if (text.empty()) return;
        data_ = new char[sizeof(std::size_t) + text.size()];
        const std::size_t size = text.size();
        std::memcpy(data_, &size, sizeof size);
        std::memcpy(data_ + sizeof size, text.data(), size);
    }
    Text(const Text& other) : Text(other.view()) {}
    Text(Text&& other) noexcept : data_{std::exchange(other.data_, nullptr)} {}
    Text& operator=(Text other) noexcept {
        std::swap(data_, other.data_);
        return *this;
    }
    ~Text() { delete[] data_; }

    std::size_t size() const noexcept {
        std::size_t size = 0;
        if (data_ != nullptr) std::memcpy(&size, data_, sizeof size);
        return size;
    }
    bool empty() const noexcept { return data_ == nullptr; }
    std::string_view view() const noexcept {
        return data_ == nullptr ? std::string_view{} : std::string_view{data_ + sizeof(std::size_t), size()};
    }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string{view()}; }
    char operator[](std::size_t i) const noexcept { return view()[i]; }

    friend bool operator==(const Text& a, const Text& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const Text& a, std::string_view b) noexcept { return a.view() == b; }

private:
    char* data_ = nullptr;  // null for the empty text
};

// A module holds one modifier text per instruction, nearly all short: a std::string would take 32 bytes of every
// instruction, this takes 16 and keeps up to 15 bytes inline; a longer text lives on the heap as a Text does. The
// last byte tells which: the inline length, or kOnHeap.
class ShortText {
public:
    ShortText() noexcept { bytes_[kTag] = 0; }
    explicit ShortText(std::string_view text) { set(text); }
    ShortText(const ShortText& other) : ShortText(other.view()) {}
    ShortText(ShortText&& other) noexcept {
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        other.bytes_[kTag] = 0;
    }
    ShortText& operator=(ShortText other) noexcept {
        char held[sizeof bytes_];
        std::memcpy(held, bytes_, sizeof bytes_);
        std::memcpy(bytes_, other.bytes_, sizeof bytes_);
        std::memcpy(other.bytes_, held, sizeof bytes_);
        return *this;
    }
    ~ShortText() { release(); }

    void assign(std::string_view text) {
        release();
        set(text);
    }
    void clear() noexcept {
        release();
        bytes_[kTag] = 0;
    }
    bool empty() const noexcept { return bytes_[kTag] == 0; }
    std::size_t size() const noexcept { return view().size(); }
    std::string_view view() const noexcept {
        const auto tag = static_cast<unsigned char>(bytes_[kTag]);
        if (tag != kOnHeap) return {bytes_, tag};
        const char* block = heap_block();
        std::size_t size = 0;
        std::memcpy(&size, block, sizeof size);
        return {block + sizeof size, size};
    }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string{view()}; }

    friend bool operator==(const ShortText& a, const ShortText& b) noexcept { return a.view() == b.view(); }
    friend bool operator==(const ShortText& a, std::string_view b) noexcept { return a.view() == b; }

private:
    static constexpr std::size_t kTag = 15;
    static constexpr unsigned char kOnHeap = 0xFF;

    char* heap_block() const noexcept {
        char* block = nullptr;
        std::memcpy(&block, bytes_, sizeof block);
        return block;
    }
    void release() noexcept {
        if (static_cast<unsigned char>(bytes_[kTag]) == kOnHeap) delete[] heap_block();
    }
    void set(std::string_view text) {
        const std::size_t size = text.size();
        if (size <= kTag) {
            if (size != 0) std::memcpy(bytes_, text.data(), size);
            bytes_[kTag] = static_cast<char>(size);
            return;
        }
        char* block = new char[sizeof size + size];
        std::memcpy(block, &size, sizeof size);
        std::memcpy(block + sizeof size, text.data(), size);
        std::memcpy(bytes_, &block, sizeof block);
        bytes_[kTag] = static_cast<char>(kOnHeap);
    }

    alignas(8) char bytes_[16];
};

}  // namespace zorvane::ast
