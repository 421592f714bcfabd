// The protocol shared by every tree class: object layout, classes built from short descriptions, and the
// conversions between native tree values and Python objects.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "ast/enums.hpp"
#include "ast/instructions.hpp"
#include "ast/tree.hpp"
#include "module/arguments.hpp"
#include "module/boundary.hpp"
#include "module/compat.hpp"
#include "module/pyref.hpp"
#include "base/failure.hpp"

namespace zorvane::module {

// Variant classes are made together with their sum type, so they need no kind of their own here. A record holds
// its value; a view is a record read from the storage of a parse (a reference type of the tree, ast::FunctionRef),
// which it shares with every other object read from that parse.
enum class Kind { Enumeration, SumType, Record, View };

// What Python sees of one tree type: its kind, name, fields, and extra methods and slots (classes.hpp).
template <class T>
struct Describe;

template <class T>
concept Described = requires {
    Describe<T>::kind;
};

// Enumerations describe themselves through their name tables; a full specialisation may add slots.
template <class E>
requires std::is_enum_v<E>
struct Describe<E> {
    static constexpr Kind kind = Kind::Enumeration;
};

// One property of a record or view class: a data member of the value, or a function of it (a member function of a
// reference type, or a free function taking it), so that the machinery reads every value through one accessor.
template <auto Member>
struct Field {
    static constexpr auto member = Member;
    const char* name;
    const char* doc = nullptr;
};

// A property that the class computes from the object itself rather than reads from a field of the value.
template <PyObject* (*Get)(PyObject*)>
struct Computed {
    const char* name;
    const char* doc = nullptr;
};

template <class T>
inline constexpr bool is_sum_v = false;
template <class... A>
inline constexpr bool is_sum_v<std::variant<A...>> = true;

template <class T>
constexpr std::string_view class_name_of() {
    if constexpr (std::is_enum_v<T>)
        return ast::EnumInfo<T>::class_name;
    else
        return Describe<T>::name;
}

// Per-object state beside the value, for the one class that keeps some (PTXFile's instruction objects).
struct NoState {};
template <class T>
struct StateOf {
    using type = NoState;
};
template <class T>
requires requires {
    typename Describe<T>::State;
}
struct StateOf<T> {
    using type = typename Describe<T>::State;
};

template <class T>
constexpr bool is_view() {
    if constexpr (Described<T>)
        return Describe<T>::kind == Kind::View;
    else
        return false;
}

// Instance layout: the interpreter's object header, then the native value, owned outright. A view holds a strong
// reference to the storage of its parse and a reference into it; an instruction view with no storage owns the
// block that its reference points at (an instruction that no parse of a module holds).
struct NoStorage {};
template <class T>
struct Object {
    PyObject ob_base;
    [[no_unique_address]] std::conditional_t<is_view<T>(), PyObject*, NoStorage> storage;
    T value;
    [[no_unique_address]] typename StateOf<T>::type state;
};

template <class T>
T& value_of(PyObject* self) noexcept {
    return reinterpret_cast<Object<T>*>(self)->value;
}

// ---- Fields of a variant's alternative: plain aggregates whose members are _0, _1, ... in order.

namespace detail {
struct AnyField {
    template <class T>
    operator T() const;  // only named in unevaluated operands
};
}  // namespace detail

template <class S>
constexpr std::size_t field_count() {
    using A = detail::AnyField;
    // Aggregate initialisation accepts fewer initialisers than fields, so a fifth field would be counted as none.
    static_assert(
        !requires {
            S{A{}, A{}, A{}, A{}, A{}};
        },
        "the class machinery reads at most four fields");
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
    static_assert(K < n && n <= 4);
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

inline constexpr const char* field_names[] = {"_0", "_1", "_2", "_3"};

// ---- Class objects: made on first use, once per process, kept until the process ends.

template <class T>
struct ClassCache {
    static inline PyTypeObject* type = nullptr;
};
template <class V>
struct VariantCache {
    static inline std::array<PyTypeObject*, std::variant_size_v<V>> types{};
};

template <class T>
PyTypeObject* class_of();
template <class V>
PyTypeObject* variant_class(std::size_t index);

// Makes one heap type; `name` must outlive it (3.11 keeps the pointer).
PyRef build_class(const char* name, std::size_t basicsize, unsigned long flags, std::vector<PyType_Slot> slots,
                  PyTypeObject* base);
// "builtins." + name, the qualified name every class is created with.
std::string qualified_name(std::string_view name);
int set_class_attribute(PyObject* type, std::string_view name, PyObject* value);
// Instances are made only by this module; object.__new__ on a class whose __new__ was replaced ends here.
PyObject* refuse_alloc(PyTypeObject* type, Py_ssize_t) noexcept;
// The broken invariant of an object whose class names another variant than the one it holds.
PyObject* raise_variant_mismatch(PyObject* self);

template <class F>
void* slot_function(F* function) noexcept {
    return reinterpret_cast<void*>(function);
}

// A method of another calling convention (fast call, keywords) stored in a PyMethodDef; the detour through
// void(*)() is the sanctioned way to make that cast.
template <class F>
PyCFunction method_function(F* function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Publishes a finished class unless another thread published one while this one ran interpreter code.
inline PyTypeObject* publish(PyTypeObject*& cache, PyRef type) {
    if (cache == nullptr) cache = reinterpret_cast<PyTypeObject*>(type.release());
    return cache;
}

// ---- Conversions, native to Python: each call makes new objects; leaves copy their value out, views share the
// storage of their parse.

inline PyObject* to_python(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}
inline PyObject* to_python(std::string_view view) {
    return PyUnicode_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size()));
}
inline PyObject* to_python(const ast::ShortText& text) {
    return to_python(text.view());
}
inline PyObject* to_python(const ast::Text& text) {
    std::string_view view = text.view();
    return PyUnicode_FromStringAndSize(view.data(), static_cast<Py_ssize_t>(view.size()));
}
inline PyObject* to_python(std::uint64_t number) {
    return PyLong_FromUnsignedLongLong(number);
}
PyObject* to_python(ast::u128 number);
PyObject* to_python(const std::unordered_map<std::string, std::string>& map);
template <class T>
PyObject* to_python(const std::optional<T>& value);
template <class T>
PyObject* to_python(const std::vector<T>& list);
template <class T>
requires Described<std::remove_cvref_t<T>> PyObject* to_python(T&& value);
// An instruction of its own (a body line's) becomes a view of a copy of its block.
PyObject* to_python(const ast::PackedInstruction& instruction);

// What the values read from a view share: the storage of its parse. Reads that give views pass it on; reads that
// give leaves copy them out and ignore it.
struct Shared {
    PyObject* storage;
};
// The lists and views that records of a parse hold.
PyObject* to_python(const ast::InstructionRef::Operands& operands, Shared);
PyObject* to_python(const ast::SignatureRef::Parameters& parameters, Shared);
PyObject* to_python(const ast::StatementRecords& statements, Shared);
PyObject* to_python(const ast::InstructionRecords& instructions, Shared shared);
PyObject* to_python(const ast::FileRef::Functions& functions, Shared shared);
PyObject* to_python(ast::SignatureRef signature, Shared shared);
PyObject* to_python(ast::BodyRef body, Shared shared);

// A value read from a record, with what the record shares.
template <class T>
PyObject* convert(const T& value, Shared shared) {
    if constexpr (requires { to_python(value, shared); })
        return to_python(value, shared);
    else
        return to_python(value);
}

// ---- Conversions, Python to native (variant constructor arguments); false with a Python exception set.

template <class T>
requires Described<T>
bool from_python(PyObject* obj, T& out);
template <class T>
bool from_python(PyObject* obj, std::vector<T>& out);
bool from_python(PyObject* obj, ast::PackedInstruction& out);

// ---- Objects

// A new object of `type` holding the T that `make()` returns, made where the object holds it.
template <class T, class Make>
PyObject* new_instance_made(PyTypeObject* type, Make&& make) {
    static_assert(!is_view<T>(), "views are made by new_view");
    void* memory = PyObject_Malloc(static_cast<std::size_t>(type->tp_basicsize));
    if (memory == nullptr) return PyErr_NoMemory();
    Object<T>* object;
    try {
        object = new (memory) Object<T>{PyObject{}, {}, make(), {}};
    } catch (...) {
        PyObject_Free(memory);
        throw;
    }
    return PyObject_Init(&object->ob_base, type);
}

// The same holding a copy of `value`, or `value` itself moved in.
template <class T, class Arg>
PyObject* new_instance(PyTypeObject* type, Arg&& value) {
    return new_instance_made<T>(type, [&value] { return T(std::forward<Arg>(value)); });
}

// A view of `ref`, sharing `storage` (a new reference is taken), or owning the block `ref` points at when there is
// no storage: the block is freed with the object, or here if the object cannot be made.
template <class R>
PyObject* new_view(R ref, PyObject* storage) {
    static_assert(is_view<R>());
    // Only an instruction can be a record of its own; any other view without storage would free a parse's arena.
    if constexpr (!std::is_same_v<R, ast::InstructionRef>)
        ZORVANE_CHECK(storage != nullptr, "a view of a parse's records without the storage of that parse");
    PyTypeObject* type = class_of<R>();
    void* memory = type == nullptr ? nullptr : PyObject_Malloc(static_cast<std::size_t>(type->tp_basicsize));
    if (memory == nullptr) {
        if (storage == nullptr) delete[] ref.record();
        return type == nullptr ? nullptr : PyErr_NoMemory();
    }
    auto* object = new (memory) Object<R>{PyObject{}, Py_XNewRef(storage), ref, {}};
    return PyObject_Init(&object->ob_base, type);
}

template <class T>
void destroy_instance(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<Object<T>*>(self)->~Object<T>();
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types hold a reference to their class
}

template <class T>
void add_described_slots(std::vector<PyType_Slot>& slots) {
    if constexpr (requires { Describe<T>::methods; })
        slots.push_back({Py_tp_methods, static_cast<void*>(Describe<T>::methods)});
    if constexpr (requires { Describe<T>::slots; })
        for (const PyType_Slot& slot : Describe<T>::slots) slots.push_back(slot);
}

// ---- Enumeration classes

template <class E>
void enum_dealloc(PyObject* self) noexcept {
    destroy_instance<E>(self);
}

template <class E>
PyObject* enum_repr(PyObject* self) {
    return guarded([self] {
        std::string text{ast::EnumInfo<E>::class_name};
        text += '.';
        text += ast::member_name(value_of<E>(self));
        return to_python(text);
    });
}

template <class E>
PyObject* enum_int(PyObject* self) noexcept {
    return PyLong_FromLong(static_cast<long>(value_of<E>(self)));
}

template <class E>
PyTypeObject* enum_class() {
    if (PyTypeObject* cached = ClassCache<E>::type) return cached;
    static const std::string name = qualified_name(ast::EnumInfo<E>::class_name);
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&enum_dealloc<E>)},
                                   {Py_tp_alloc, slot_function(&refuse_alloc)},
                                   {Py_tp_repr, slot_function(&enum_repr<E>)},
                                   {Py_nb_int, slot_function(&enum_int<E>)}};
    add_described_slots<E>(slots);
    PyRef type = build_class(name.c_str(), sizeof(Object<E>), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             std::move(slots), nullptr);
    if (!type) return nullptr;
    // Members are made once, here; values read from the tree become new instances instead.
    for (std::size_t i = 0; i < ast::member_count<E>(); ++i) {
        PyRef member = PyRef::steal(new_instance<E>(reinterpret_cast<PyTypeObject*>(type.get()), static_cast<E>(i)));
        if (!member) return nullptr;
        if (set_class_attribute(type.get(), ast::EnumInfo<E>::names[i], member.get()) < 0) return nullptr;
    }
    return publish(ClassCache<E>::type, std::move(type));
}

// ---- Record classes

template <class T>
void record_dealloc(PyObject* self) noexcept {
    if constexpr (is_view<T>()) {
        auto* object = reinterpret_cast<Object<T>*>(self);
        PyObject* storage = object->storage;
        const ast::encoding::Byte* own = nullptr;
        if constexpr (std::is_same_v<T, ast::InstructionRef>)
            if (storage == nullptr) own = object->value.record();
        destroy_instance<T>(self);
        Py_XDECREF(storage);
        delete[] own;
    } else {
        destroy_instance<T>(self);
    }
}

template <class T>
Shared shared_of(PyObject* self) noexcept {
    if constexpr (is_view<T>())
        return {reinterpret_cast<Object<T>*>(self)->storage};
    else
        return {nullptr};
}

template <class T, auto Member>
PyObject* record_get(PyObject* self, void*) {
    return guarded(
        [self] { return convert(std::invoke(Member, std::as_const(value_of<T>(self))), shared_of<T>(self)); });
}

template <PyObject* (*Get)(PyObject*)>
PyObject* computed_get(PyObject* self, void*) {
    return guarded([self] { return Get(self); });
}

template <class T, auto Member>
constexpr getter getter_of(Field<Member>) {
    return &record_get<T, Member>;
}
template <class T, PyObject* (*Get)(PyObject*)>
constexpr getter getter_of(Computed<Get>) {
    return &computed_get<Get>;
}

template <class T>
PyGetSetDef* record_getset() {
    static auto definitions = std::apply(
        [](auto... field) {
            return std::array{PyGetSetDef{field.name, getter_of<T>(field), nullptr, field.doc, nullptr}...,
                              PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
        },
        Describe<T>::fields);
    return definitions.data();
}

template <class T>
PyTypeObject* record_class() {
    if constexpr (!is_view<T>())
        static_assert(field_count<T>() == std::tuple_size_v<std::remove_const_t<decltype(Describe<T>::fields)>>,
                      "every field of a record held by value is a property");
    if (PyTypeObject* cached = ClassCache<T>::type) return cached;
    static const std::string name = qualified_name(Describe<T>::name);
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&record_dealloc<T>)},
                                   {Py_tp_alloc, slot_function(&refuse_alloc)},
                                   {Py_tp_getset, record_getset<T>()}};
    add_described_slots<T>(slots);
    PyRef type = build_class(name.c_str(), sizeof(Object<T>), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             std::move(slots), nullptr);
    if (!type) return nullptr;
    return publish(ClassCache<T>::type, std::move(type));
}

// ---- Sum-type base classes and their variant classes

template <class V, std::size_t I>
using Alternative = std::variant_alternative_t<I, V>;

template <class V, std::size_t I>
inline constexpr std::size_t variant_arity = field_count<Alternative<V, I>>();

// Names of one variant class, spelled once.
template <class V, std::size_t I>
struct VariantNames {
    std::string name;         // "PTXRegister_Special"
    std::string qualified;    // "builtins.PTXRegister_Special"
    std::string constructor;  // "PTXRegister_Special.__new__", as argument errors name it
    std::string doc;          // "PTXRegister_Special(_0, _1)\n--\n\n"

    static const VariantNames& get() {
        static const VariantNames names = [] {
            VariantNames n;
            n.name = std::string{Describe<V>::name} + "_" + std::string{Describe<V>::variants[I]};
            n.qualified = qualified_name(n.name);
            n.constructor = n.name + ".__new__";
            n.doc = n.name + "(";
            for (std::size_t k = 0; k < variant_arity<V, I>; ++k) {
                if (k != 0) n.doc += ", ";
                n.doc += field_names[k];
            }
            n.doc += ")\n--\n\n";
            return n;
        }();
        return names;
    }
};

template <class V>
void variant_dealloc(PyObject* self) noexcept {
    destroy_instance<V>(self);
}

// Each variant class frees its objects through a function of its own. The interpreter lets __class__ be assigned
// only between classes that free alike, and an object whose class named another variant than the value it holds
// would answer for a value it does not have; so no object changes its variant.
template <class V, std::size_t I>
void variant_free(void* self) noexcept {
    PyObject_Free(self);
}

template <class V, std::size_t I, std::size_t K>
PyObject* variant_get(PyObject* self, void*) {
    return guarded([self] {
        // No object changes its variant (variant_free), but should one hold another, it raises rather than read it.
        const auto* alternative = std::get_if<I>(&std::as_const(value_of<V>(self)));
        if (alternative == nullptr) return raise_variant_mismatch(self);
        return to_python(field_ref<K>(*alternative));
    });
}

template <class V, std::size_t I, std::size_t... K>
std::array<PyGetSetDef, sizeof...(K) + 1> make_variant_getset(std::index_sequence<K...>) {
    return {PyGetSetDef{field_names[K], &variant_get<V, I, K>, nullptr, nullptr, nullptr}...,
            PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
}

template <class V, std::size_t I>
PyGetSetDef* variant_getset() {
    static auto definitions = make_variant_getset<V, I>(std::make_index_sequence<variant_arity<V, I>>{});
    return definitions.data();
}

template <class V, std::size_t I>
Py_ssize_t variant_length(PyObject*) noexcept {
    return static_cast<Py_ssize_t>(variant_arity<V, I>);
}

template <class V, std::size_t I, std::size_t... K>
PyObject* variant_item(PyObject* self, std::uint64_t index, std::index_sequence<K...>) {
    static constexpr getter getters[] = {&variant_get<V, I, K>...};
    return getters[index](self, nullptr);
}

template <class V, std::size_t I>
PyObject* variant_subscript(PyObject* self, PyObject* key) {
    // A default capture: an alternative without fields never reads `self`, and clang warns of an unused capture.
    return guarded([&]() -> PyObject* {
        std::uint64_t index = 0;
        if (!from_python(key, index)) {
            prefix_argument_error("idx");
            return nullptr;
        }
        if (index >= variant_arity<V, I>) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return nullptr;
        }
        if constexpr (variant_arity<V, I> == 0)
            return nullptr;  // unreachable: every index is out of range
        else
            return variant_item<V, I>(self, index, std::make_index_sequence<variant_arity<V, I>>{});
    });
}

template <class S, std::size_t N, std::size_t... K>
bool convert_arguments(S& fields, const std::array<PyRef, N>& arguments, std::index_sequence<K...>) {
    [[maybe_unused]] auto convert = [&](auto k) {
        constexpr std::size_t index = decltype(k)::value;
        if (from_python(arguments[index].get(), field_ref<index>(fields))) return true;
        prefix_argument_error(field_names[index]);
        return false;
    };
    return (convert(std::integral_constant<std::size_t, K>{}) && ...);
}

template <class V, std::size_t I>
PyObject* variant_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        constexpr std::size_t n = variant_arity<V, I>;
        static const Signature signature{VariantNames<V, I>::get().constructor.c_str(), field_names, n};
        std::array<PyRef, n> arguments;
        if (!bind_tuple_dict(signature, args, kwargs, arguments.data())) return nullptr;
        Alternative<V, I> fields{};
        if (!convert_arguments(fields, arguments, std::make_index_sequence<n>{})) return nullptr;
        return new_instance<V>(type, V{std::in_place_index<I>, std::move(fields)});
    });
}

template <class V, std::size_t I>
PyRef make_variant_class(PyTypeObject* base) {
    const VariantNames<V, I>& names = VariantNames<V, I>::get();
    // The deallocator is set again: a class made from a spec without one gets the interpreter's generic deallocator
    // for subclasses, which is much slower.
    std::vector<PyType_Slot> slots{{Py_tp_doc, const_cast<char*>(names.doc.c_str())},
                                   {Py_tp_dealloc, slot_function(&variant_dealloc<V>)},
                                   {Py_tp_free, slot_function(&variant_free<V, I>)},
                                   {Py_tp_new, slot_function(&variant_new<V, I>)},
                                   {Py_tp_getset, variant_getset<V, I>()},
                                   {Py_mp_length, slot_function(&variant_length<V, I>)},
                                   {Py_mp_subscript, slot_function(&variant_subscript<V, I>)}};
    PyRef type = build_class(names.qualified.c_str(), sizeof(Object<V>), Py_TPFLAGS_DEFAULT, std::move(slots), base);
    if (!type) return type;
    PyRef match_args = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(variant_arity<V, I>)));
    if (!match_args) return PyRef{};
    for (std::size_t k = 0; k < variant_arity<V, I>; ++k) {
        PyObject* field = PyUnicode_InternFromString(field_names[k]);
        if (field == nullptr) return PyRef{};
        PyTuple_SET_ITEM(match_args.get(), static_cast<Py_ssize_t>(k), field);
    }
    if (set_class_attribute(type.get(), "__match_args__", match_args.get()) < 0) return PyRef{};
    if (set_class_attribute(reinterpret_cast<PyObject*>(base), Describe<V>::variants[I], type.get()) < 0)
        return PyRef{};
    return type;
}

// A class derived in Python from a sum type's base would make its instances through object.__new__, which gives
// them no value; only the variant classes derive from the base. Set after they are made.
template <class V>
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
    PyErr_Format(PyExc_TypeError, "type '%s' is not an acceptable base type", std::string{Describe<V>::name}.c_str());
    return nullptr;
}

template <class V>
bool refuse_python_subclasses(PyObject* base) {
    static PyMethodDef definition{"__init_subclass__", method_function(&refuse_subclass<V>),
                                  METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
    PyRef method = PyRef::steal(PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject*>(base), &definition));
    return method && set_class_attribute(base, "__init_subclass__", method.get()) == 0;
}

// Sets up a sum type as one unit: its base class, then each variant class in order, each set as a class attribute
// of the base as soon as it exists; the first use of any of them therefore makes all of them.
template <class V>
bool set_up_sum_type() {
    constexpr std::size_t n = std::variant_size_v<V>;
    static const std::string name = qualified_name(Describe<V>::name);
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&variant_dealloc<V>)},
                                   {Py_tp_alloc, slot_function(&refuse_alloc)}};
    add_described_slots<V>(slots);
    PyRef base = build_class(name.c_str(), sizeof(Object<V>),
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             std::move(slots), nullptr);
    if (!base) return false;
    auto* base_type = reinterpret_cast<PyTypeObject*>(base.get());
    std::array<PyRef, n> variants;
    auto make_in_order = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return ((variants[I] = make_variant_class<V, I>(base_type), static_cast<bool>(variants[I])) && ...);
    };
    if (!make_in_order(std::make_index_sequence<n>{})) return false;
    if (!refuse_python_subclasses<V>(base.get())) return false;
    if (ClassCache<V>::type != nullptr) return true;  // another thread finished first; these are dropped
    ClassCache<V>::type = reinterpret_cast<PyTypeObject*>(base.release());
    for (std::size_t i = 0; i < n; ++i)
        VariantCache<V>::types[i] = reinterpret_cast<PyTypeObject*>(variants[i].release());
    return true;
}

template <class V>
PyTypeObject* variant_class(std::size_t index) {
    if (PyTypeObject* cached = VariantCache<V>::types[index]) return cached;
    if (!set_up_sum_type<V>()) return nullptr;
    return VariantCache<V>::types[index];
}

template <class T>
PyTypeObject* class_of() {
    if constexpr (std::is_enum_v<T>) {
        return enum_class<T>();
    } else if constexpr (is_sum_v<T>) {
        if (PyTypeObject* cached = ClassCache<T>::type) return cached;
        if (!set_up_sum_type<T>()) return nullptr;
        return ClassCache<T>::type;
    } else {
        return record_class<T>();
    }
}

// ---- Conversion definitions

template <class T>
PyObject* to_python(const std::optional<T>& value) {
    if (!value) Py_RETURN_NONE;
    return to_python(*value);
}

// A new list of new objects, one for each item of a contiguous range.
template <class Range>
PyObject* list_to_python(const Range& list) {
    PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(list.size())));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < list.size(); ++i) {
        PyObject* item = to_python(list[i]);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), item);
    }
    return result.release();
}

template <class T>
PyObject* to_python(const std::vector<T>& list) {
    return list_to_python(list);
}

template <class T>
requires Described<std::remove_cvref_t<T>> PyObject* to_python(T&& value) {
    using U = std::remove_cvref_t<T>;
    static_assert(!is_view<U>(), "views are made by new_view, with their storage");
    PyTypeObject* type;
    if constexpr (is_sum_v<U>)
        type = variant_class<U>(value.index());
    else
        type = class_of<U>();
    if (type == nullptr) return nullptr;
    return new_instance<U>(type, std::forward<T>(value));
}

// Whether `obj` is an object that this module made holding a T: for a sum type, an instance of one of its variant
// classes, whatever else may derive from the base.
template <class T>
bool is_instance_with_value(PyObject* obj, PyTypeObject* type) {
    if constexpr (is_sum_v<T>) {
        const auto& variants = VariantCache<T>::types;
        return std::find(variants.begin(), variants.end(), Py_TYPE(obj)) != variants.end();
    } else {
        return Py_IS_TYPE(obj, type);
    }
}

template <class T>
requires Described<T>
bool from_python(PyObject* obj, T& out) {
    static_assert(!is_view<T>(), "a view is read as the value it refers to");
    PyTypeObject* type = class_of<T>();
    if (type == nullptr) return false;
    if (!is_instance_with_value<T>(obj, type)) {
        raise_cannot_cast(obj, class_name_of<T>());
        return false;
    }
    out = value_of<T>(obj);
    return true;
}

// The room reserved from a sequence's length before any item is seen: the length is only a hint, which an object
// may state as anything, so the list grows past this by the items it really yields.
inline constexpr Py_ssize_t kMostReservedFromHint = 1024;

template <class T>
bool from_python(PyObject* obj, std::vector<T>& out) {
    if (!check_sequence(obj)) return false;
    Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) {
        // A sequence without a length is read by iterating; any other failure of len() is the caller's to see.
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        size = 0;
    }
    out.clear();
    out.reserve(static_cast<std::size_t>(std::min(size, kMostReservedFromHint)));
    PyRef iterator = PyRef::steal(PyObject_GetIter(obj));
    if (!iterator) return false;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        T value{};
        if (!from_python(item.get(), value)) return false;
        out.push_back(std::move(value));
    }
    return PyErr_Occurred() == nullptr;
}

}  // namespace zorvane::module
