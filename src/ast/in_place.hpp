// Making an aggregate alternative of a tree variant where it will stay, with or without parenthesised aggregate
// initialisation (clang before 16 lacks it).
#pragma once

#include <memory>
#include <utility>
#include <variant>

namespace zorvane::ast {

// Constructs `Variant` holding alternative A, made from `fields`, at `slot`. Without parenthesised aggregate
// initialisation A is made from braces and moved in, which costs a move of each field: the hot callers would pay
// for it on every operand.
template <class A, class Variant, class... Fields>
[[gnu::always_inline]] inline void construct_alternative(Variant* slot, Fields&&... fields) {
#if defined(__cpp_aggregate_paren_init)
    std::construct_at(slot, std::in_place_type<A>, std::forward<Fields>(fields)...);
#else
    std::construct_at(slot, std::in_place_type<A>, A{std::forward<Fields>(fields)...});
#endif
}

// The same, replacing what `variant` holds.
template <class A, class Variant, class... Fields>
[[gnu::always_inline]] inline void emplace_alternative(Variant& variant, Fields&&... fields) {
#if defined(__cpp_aggregate_paren_init)
    variant.template emplace<A>(std::forward<Fields>(fields)...);
#else
    variant.template emplace<A>(A{std::forward<Fields>(fields)...});
#endif
}

}  // namespace zorvane::ast
