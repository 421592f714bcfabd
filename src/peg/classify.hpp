// The first stage of reading: a block of 64 bytes at a time, classified into bit masks (a bit per byte for each of a
// few character classes), with SSE2 or, where the processor has it, AVX2, and a portable path for other machines. The
// rules ask where a run of a class ends, which one bit scan answers, instead of testing byte after byte.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "peg/terminals.hpp"

#if defined(__x86_64__) && !defined(ZORVANE_SCALAR_CLASSES)
#define ZORVANE_VECTOR_CLASSES 1
#include <immintrin.h>
#endif

namespace zorvane::peg {

inline constexpr std::size_t kBlock = 64;

// How blocks are classified on this machine, chosen once.
enum class ClassifyWith { Scalar, Sse2, Avx2 };
ClassifyWith classify_with() noexcept;

namespace detail {

// What a block is tested for, each once: a range of bytes, or, for a class of single bytes whose low halves differ
// (the blanks), a lookup by the low half of each byte, which AVX2 does in one instruction.
struct Term {
    bool by_low_half;
    ByteRange range;                      // a range
    std::array<unsigned char, 16> bytes;  // by_low_half: the member with each low half, or 0x80 for none
    friend constexpr bool operator==(const Term&, const Term&) = default;
};

constexpr bool by_low_half(const CharClass& cls) {
    if (cls.range_count < 2) return false;
    unsigned seen = 0;
    for (std::size_t r = 0; r < cls.range_count; ++r) {
        const ByteRange range = cls.ranges[r];
        if (range.first != range.last || (seen >> (range.first & 15) & 1) != 0) return false;
        seen |= 1u << (range.first & 15);
    }
    return true;
}

constexpr std::size_t term_count(const CharClass& cls) {
    return by_low_half(cls) ? 1 : cls.range_count;
}

constexpr Term term_of(const CharClass& cls, std::size_t i) {
    Term term{};
    if (!by_low_half(cls)) {
        term.range = cls.ranges[i];
        return term;
    }
    term.by_low_half = true;
    term.bytes.fill(0x80);
    for (std::size_t r = 0; r < cls.range_count; ++r) term.bytes[cls.ranges[r].first & 15] = cls.ranges[r].first;
    return term;
}

// The distinct terms of the classes, and for each class the terms whose union it is.
template <const CharClass&... Classes>
struct TermTable {
    static constexpr std::size_t kMostTerms = 32;
    struct Built {
        std::array<Term, kMostTerms> terms{};
        std::size_t count = 0;
        std::array<std::uint32_t, sizeof...(Classes)> members{};
    };
    static constexpr Built built = [] {
        Built out{};
        std::size_t c = 0;
        for (const CharClass* cls : {&Classes...}) {
            for (std::size_t i = 0; i < term_count(*cls); ++i) {
                const Term term = term_of(*cls, i);
                std::size_t k = 0;
                while (k < out.count && !(out.terms[k] == term)) ++k;
                if (k == out.count) {
                    if (out.count == kMostTerms) throw "too many terms to classify";
                    out.terms[out.count++] = term;
                }
                out.members[c] |= std::uint32_t{1} << k;
            }
            ++c;
        }
        return out;
    }();
    static constexpr std::size_t count = built.count;
    static constexpr auto terms = built.terms;
    static constexpr auto members = built.members;
};

#ifdef ZORVANE_VECTOR_CLASSES
// SSE2 has no byte lookup, so a class of single bytes is tested byte by byte there, as ranges of one.
// A term is named by its index, not passed as a reference: clang before 18 takes no subobject as a template argument.
template <class Table, std::size_t I>
__m128i sse2_term(__m128i v) {
    constexpr const Term& T = Table::terms[I];
    if constexpr (T.by_low_half) {
        __m128i any = _mm_setzero_si128();
        for (unsigned char b : T.bytes)
            if (b < 0x80) any = _mm_or_si128(any, _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b))));
        return any;
    } else if constexpr (T.range.first == T.range.last) {
        return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(T.range.first)));
    } else {
        // The bytes less `first`, compared without sign with the width of the range.
        const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(T.range.first)));
        return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(T.range.last - T.range.first))),
                              shifted);
    }
}

template <class Table, std::uint32_t Members, std::size_t... T>
__m128i sse2_class(const __m128i* terms, std::index_sequence<T...>) {
    return ((((Members >> T) & 1) != 0 ? terms[T] : _mm_setzero_si128()) | ...);
}

template <class Table, std::size_t... T, std::size_t... C>
void sse2_masks(const unsigned char* block, std::uint64_t* out, std::index_sequence<T...> terms_seq,
                std::index_sequence<C...>) {
    for (std::size_t part = 0; part < 4; ++part) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
        const __m128i terms[] = {sse2_term<Table, T>(v)...};
        ((out[C] |= std::uint64_t{static_cast<std::uint16_t>(
                        _mm_movemask_epi8(sse2_class<Table, Table::members[C]>(terms, terms_seq)))}
                    << (16 * part)),
         ...);
    }
}

template <class Table, std::size_t I>
[[gnu::target("avx2")]] __m256i avx2_term(__m256i v) {
    constexpr const Term& T = Table::terms[I];
    if constexpr (T.by_low_half) {
        // A byte whose high bit is set looks up a zero, which equals no such byte.
        const __m256i table =
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(T.bytes.data())));
        return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, v), v);
    } else if constexpr (T.range.first == T.range.last) {
        return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(T.range.first)));
    } else {
        const __m256i shifted = _mm256_sub_epi8(v, _mm256_set1_epi8(static_cast<char>(T.range.first)));
        return _mm256_cmpeq_epi8(
            _mm256_min_epu8(shifted, _mm256_set1_epi8(static_cast<char>(T.range.last - T.range.first))), shifted);
    }
}

template <class Table, std::uint32_t Members, std::size_t... T>
[[gnu::target("avx2")]] __m256i avx2_class(const __m256i* terms, std::index_sequence<T...>) {
    return ((((Members >> T) & 1) != 0 ? terms[T] : _mm256_setzero_si256()) | ...);
}

template <class Table, std::size_t... T, std::size_t... C>
[[gnu::target("avx2")]] void avx2_masks(const unsigned char* block, std::uint64_t* out,
                                        std::index_sequence<T...> terms_seq, std::index_sequence<C...>) {
    for (std::size_t half = 0; half < 2; ++half) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32 * half));
        const __m256i terms[] = {avx2_term<Table, T>(v)...};
        ((out[C] |= std::uint64_t{static_cast<std::uint32_t>(
                        _mm256_movemask_epi8(avx2_class<Table, Table::members[C]>(terms, terms_seq)))}
                    << (32 * half)),
         ...);
    }
}
#endif

// The portable path: the same masks, a byte at a time.
template <const CharClass&... Classes>
void scalar_masks(const unsigned char* block, std::uint64_t* out) {
    std::size_t c = 0;
    for (const CharClass* cls : {&Classes...}) {
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < kBlock; ++i)
            if (cls->has(block[i])) bits |= std::uint64_t{1} << i;
        out[c++] = bits;
    }
}

}  // namespace detail

// Whether A and B are the same class. Template arguments that refer to them compare by identity; comparing their
// addresses is no constant expression for g++ 12 with -fsanitize=null (in the sanitizer build).
template <const CharClass&>
struct ClassIdentity {};
template <const CharClass& A, const CharClass& B>
inline constexpr bool same_class = std::is_same_v<ClassIdentity<A>, ClassIdentity<B>>;

// The masks of one block of the text at a time, for the classes named. Bytes past the end of the text belong to no
// class, so a run stops there as at any byte outside its class.
template <const CharClass&... Classes>
class Classifier {
public:
    explicit Classifier(const Input& in) noexcept
        : text_{reinterpret_cast<const unsigned char*>(in.data())}, size_{in.size()}, with_{classify_with()} {}

    using Masks = std::array<std::uint64_t, sizeof...(Classes)>;

    // The masks of the classes for 64 bytes, in the order the classes are named, as the path `with` gives them; every
    // path gives the same masks.
    static Masks classify(ClassifyWith with, const unsigned char* bytes) {
        Masks masks{};
        switch (with) {
#ifdef ZORVANE_VECTOR_CLASSES
            case ClassifyWith::Avx2:
                detail::avx2_masks<Table>(bytes, masks.data(), std::make_index_sequence<Table::count>{},
                                          std::make_index_sequence<sizeof...(Classes)>{});
                break;
            case ClassifyWith::Sse2:
                detail::sse2_masks<Table>(bytes, masks.data(), std::make_index_sequence<Table::count>{},
                                          std::make_index_sequence<sizeof...(Classes)>{});
                break;
#endif
            default:
                detail::scalar_masks<Classes...>(bytes, masks.data());
                break;
        }
        return masks;
    }

    // Whether `Cls` is one of the classes named, which class_end then answers from the masks.
    template <const CharClass& Cls>
    static constexpr bool classifies() {
        return (same_class<Cls, Classes> || ...);
    }

    // Where the run of `Cls` that starts at `pos` (possibly empty) stops.
    template <const CharClass& Cls>
    [[gnu::always_inline]] Pos class_end(Pos pos) {
        constexpr std::size_t index = index_of<Cls>();
        while (true) {
            // Past the block, the shifted-in bits read as inside the class, so a run that fills the block goes on.
            const std::uint64_t outside = ~masks_of(pos)[index] >> (pos % kBlock);
            if (outside != 0) return pos + static_cast<Pos>(std::countr_zero(outside));
            pos = pos - pos % kBlock + kBlock;
        }
    }

private:
    using Table = detail::TermTable<Classes...>;

    template <const CharClass& Cls>
    static constexpr std::size_t index_of() {
        std::size_t i = 0;
        const bool found = ((same_class<Cls, Classes> ? true : (++i, false)) || ...);
        if (!found) throw "the class is not classified";
        return i;
    }

    [[gnu::always_inline]] const std::uint64_t* masks_of(Pos pos) {
        const std::size_t block = pos / kBlock;
        if (block != block_) [[unlikely]]
            load(block);
        return masks_.data();
    }

    [[gnu::noinline]] void load(std::size_t block) {
        const std::size_t start = block * kBlock;
        const unsigned char* bytes = text_ + start;
        alignas(kBlock) unsigned char tail[kBlock];
        if (start >= size_ || size_ - start < kBlock) {
            // The last block: what lies past the text is a NUL, which is in no class.
            std::memset(tail, 0, kBlock);
            if (start < size_) std::memcpy(tail, bytes, size_ - start);
            bytes = tail;
        }
        masks_ = classify(with_, bytes);
        block_ = block;
    }

    const unsigned char* text_;
    std::size_t size_;
    ClassifyWith with_;
    std::size_t block_ = ~std::size_t{0};
    Masks masks_{};
};

}  // namespace zorvane::peg
