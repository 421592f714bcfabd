// How a tagged union of the tree is described: its name and, for each variant in order, the type that holds the
// variant's fields, its name and the text kind() answers. The union's type, its kinds, its classes, its tags, its
// records and its tagged form all follow from that one description.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace zorvane::ast {

// One variant: `Alternative` is a plain aggregate whose members, _0, _1, ... in order, are the variant's fields.
template <class Alternative>
struct Variant {
    std::string_view name;
    std::string_view kind = {};  // for the unions that answer kind()
};

template <class... Alternatives>
struct Union {
    using type = std::variant<Alternatives...>;
    static constexpr std::size_t size = sizeof...(Alternatives);

    constexpr Union(std::string_view union_name, Variant<Alternatives>... variants)
        : name{union_name}, names{variants.name...}, kinds{variants.kind...} {}

    std::string_view name;
    std::array<std::string_view, size> names;
    std::array<std::string_view, size> kinds;
};

// The description of a union type, specialised beside each description.
template <class V>
constexpr const auto& description_of();

template <class V, std::size_t I>
using Alternative = std::variant_alternative_t<I, V>;

// The position of `A` among the alternatives of `V`: the variant's index.
template <class V, class A>
inline constexpr std::size_t index_of = [] {
    return []<std::size_t... I>(std::index_sequence<I...>) {
        std::size_t index = std::variant_size_v<V>;
        ((std::is_same_v<Alternative<V, I>, A> ? (index = I) : 0), ...);
        return index;
    }
    (std::make_index_sequence<std::variant_size_v<V>>{});
}();

// ---- The fields of an alternative.

namespace detail {
struct AnyField {
    template <class T>
    operator T() const;  // only named in unevaluated operands
};
}  // namespace detail

inline constexpr std::size_t kMostFields = 4;

template <class S>
constexpr std::size_t field_count() {
    using A = detail::AnyField;
    // Aggregate initialisation accepts fewer initialisers than fields, so a fifth field would be counted as none.
    static_assert(
        !requires {
            S{A{}, A{}, A{}, A{}, A{}};
        },
        "a variant has at most four fields");
    if constexpr (requires { S{A{}, A{}, A{}, A{}}; })
        return 4;
    else if constexpr (requires { S{A{}, A{}, A{}}; })
        return 3;
    else if constexpr (requires { S{A{}, A{}}; })
        return 2;
    else if constexpr (requires { S{A{}}; })
        return 1;
    else
        return 0;
}

template <std::size_t K, class S>
constexpr auto& field_ref(S& s) noexcept {
    constexpr std::size_t n = field_count<std::remove_const_t<S>>();
    static_assert(K < n && n <= kMostFields);
    if constexpr (n == 1) {
        auto& [a] = s;
        return a;
    } else if constexpr (n == 2) {
        auto& [a, b] = s;
        return std::get<K>(std::tie(a, b));
    } else if constexpr (n == 3) {
        auto& [a, b, c] = s;
        return std::get<K>(std::tie(a, b, c));
    } else {
        auto& [a, b, c, d] = s;
        return std::get<K>(std::tie(a, b, c, d));
    }
}

template <class V, std::size_t I>
inline constexpr std::size_t arity = field_count<Alternative<V, I>>();

template <class V, std::size_t I, std::size_t K>
using FieldType = std::remove_cvref_t<decltype(field_ref<K>(std::declval<Alternative<V, I>&>()))>;

inline constexpr std::string_view kFieldNames[kMostFields] = {"_0", "_1", "_2", "_3"};

// ---- From a variant's index at run time to code for that variant.

template <std::size_t I>
using Index = std::integral_constant<std::size_t, I>;

// f(Index<I>{}) for the variant `index` of V, which must be one.
template <class V, class F>
[[gnu::always_inline]] constexpr void with_variant(std::size_t index, F&& f) {
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        static_cast<void>(((index == I ? (f(Index<I>{}), true) : false) || ...));
    }
    (std::make_index_sequence<std::variant_size_v<V>>{});
}

// f(Index<K>{}) for each field K of variant I of V, in order.
template <class V, std::size_t I, class F>
constexpr void for_each_field(F&& f) {
    [&]<std::size_t... K>(std::index_sequence<K...>) {
        (f(Index<K>{}), ...);
    }
    (std::make_index_sequence<arity<V, I>>{});
}

}  // namespace zorvane::ast
