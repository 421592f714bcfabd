// Unsigned varints, texts and fixed-width fields, and the sinks that records are written into: one that measures,
// one that stores, one that appends. A record's writer runs once with each sink it needs, so that what is measured is
// exactly what is written.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace zorvane::ast {

// Register and array counts may need more than 64 bits.
__extension__ typedef unsigned __int128 u128;

}  // namespace zorvane::ast

namespace zorvane::ast::encoding {

using Byte = unsigned char;

// ---- Sinks

// Counts the bytes that a record would take.
struct Measure {
    std::size_t size = 0;
    void byte(Byte) noexcept { ++size; }
    void bytes(const void*, std::size_t n) noexcept { size += n; }
};

// Stores a record at a cursor, in room that its measured size made beforehand.
struct Store {
    Byte* at;
    void byte(Byte b) noexcept { *at++ = b; }
    // Most texts written are a few bytes long (modifiers, labels), which a loop copies for less than a call.
    void bytes(const void* data, std::size_t n) noexcept {
        const auto* from = static_cast<const Byte*>(data);
        if (n <= 16) {
            for (std::size_t i = 0; i < n; ++i) at[i] = from[i];
        } else {
            std::memcpy(at, from, n);
        }
        at += n;
    }
};

// Appends to a list of bytes that grows, for the rules, which learn only as they go how much they write; without
// a list, nothing is kept (the second pass).
struct Append {
    std::vector<Byte>* out;
    void byte(Byte b) {
        if (out != nullptr) out->push_back(b);
    }
    void bytes(const void* data, std::size_t n) {
        if (out == nullptr || n == 0) return;
        const auto* first = static_cast<const Byte*>(data);
        out->insert(out->end(), first, first + n);
    }
};

// ---- Numbers and texts

// The numbers written are mostly small: comparisons answer those before the general count.
constexpr std::size_t varint_size(std::uint64_t v) noexcept {
    if (v < (std::uint64_t{1} << 7)) return 1;
    if (v < (std::uint64_t{1} << 14)) return 2;
    if (v < (std::uint64_t{1} << 21)) return 3;
    if (v < (std::uint64_t{1} << 28)) return 4;
    return (static_cast<std::size_t>(std::bit_width(v)) + 6) / 7;
}

template <class Sink>
[[gnu::always_inline]] inline void put_varint(Sink& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.byte(static_cast<Byte>(v | 0x80));
        v >>= 7;
    }
    out.byte(static_cast<Byte>(v));
}

// `v` in exactly `width` bytes (at least its varint_size), with continuation bytes to spare where it needs fewer;
// the readers take such a varint as its value.
inline void put_varint_in(Byte* at, std::uint64_t v, std::size_t width) noexcept {
    for (std::size_t i = 0; i + 1 < width; ++i) {
        at[i] = static_cast<Byte>(v | 0x80);
        v >>= 7;
    }
    at[width - 1] = static_cast<Byte>(v);
}

template <class Sink>
void put_varint(Sink& out, u128 v) {
    while (v >= 0x80) {
        out.byte(static_cast<Byte>(v | 0x80));
        v >>= 7;
    }
    out.byte(static_cast<Byte>(v));
}

template <class Sink>
[[gnu::always_inline]] inline void put_text(Sink& out, std::string_view text) {
    put_varint(out, std::uint64_t{text.size()});
    out.bytes(text.data(), text.size());
}

// The readers trust their bytes: a tree is only ever read from what the functions here wrote.
inline std::uint64_t get_varint(const Byte*& p) noexcept {
    std::uint64_t v = *p & 0x7Fu;
    unsigned shift = 7;
    while (*p++ & 0x80u) {
        v |= std::uint64_t{*p & 0x7Fu} << shift;
        shift += 7;
    }
    return v;
}

inline u128 get_varint128(const Byte*& p) noexcept {
    u128 v = 0;
    unsigned shift = 0;
    while (true) {
        const Byte b = *p++;
        v |= static_cast<u128>(b & 0x7Fu) << shift;
        if ((b & 0x80u) == 0) return v;
        shift += 7;
    }
}

inline std::string_view get_text(const Byte*& p) noexcept {
    const auto size = static_cast<std::size_t>(get_varint(p));
    std::string_view text{reinterpret_cast<const char*>(p), size};
    p += size;
    return text;
}

// Fixed-width fields, for what is patched after it is written (counts, links).
template <class T>
void put_fixed(Byte* at, T value) noexcept {
    std::memcpy(at, &value, sizeof value);
}
template <class T>
T get_fixed(const Byte* at) noexcept {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A view of text, as the fields of records hold it: trivial to make, since the parser keeps arrays of fields for
// every instruction it reads and fills only what it needs.
struct TextView {
    const char* data;
    std::size_t size;

    TextView() noexcept = default;
    constexpr TextView(std::string_view text) noexcept : data{text.data()}, size{text.size()} {}
    constexpr operator std::string_view() const noexcept { return {data, size}; }
};

}  // namespace zorvane::ast::encoding
