// Text, a compact owned string of one pointer, for the names inside the parser's registers and operands.
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

}  // namespace zorvane::ast
