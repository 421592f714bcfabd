// The protocol shared by every tree class: object layouts, classes built from short descriptions, and the
// conversions between what the tree holds and Python objects.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
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
#include "ast/records.hpp"
#include "ast/refs.hpp"
#include "ast/union_records.hpp"
#include "ast/unions.hpp"
#include "base/failure.hpp"
#include "module/arguments.hpp"
#include "module/boundary.hpp"
#include "module/compat.hpp"
#include "module/memory.hpp"
#include "module/pyref.hpp"

namespace zorvane::module {

namespace encoding = ast::encoding;
using encoding::Byte;
using encoding::Bytes;

// A record holds its value; a view is a record read from the storage of a parse (a reference type of the tree,
// ast::FunctionRef), which it shares with every other object read from that parse. The tagged unions describe
// themselves (ast::description_of), and their variant classes are made with them.
enum class Kind { Enumeration, SumType, Record, View };

// What Python sees of one tree type: its kind, name, fields, and extra methods and slots (classes.hpp).
template <class T>
struct Describe;

template <class T>
concept Described = requires {
    Describe<T>::kind;
};

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
constexpr Kind kind_of() {
    if constexpr (is_sum_v<T>)
        return Kind::SumType;
    else
        return Describe<T>::kind;
}

template <class T>
constexpr std::string_view class_name_of() {
    if constexpr (std::is_enum_v<T>)
        return ast::EnumInfo<T>::class_name;
    else if constexpr (is_sum_v<T>)
        return ast::description_of<T>().name;
    else
        return Describe<T>::name;
}

// ---- Object layouts

// The bytes of one record of a union, held by its object: in the object itself when short, as nearly all are, else
// in a block of their own.
class HeldRecord {
public:
    // Room for `size` bytes, which `fill(store)` writes.
    template <class Fill>
    HeldRecord(std::size_t size, Fill&& fill) {
        if (size > UINT32_MAX) throw std::bad_alloc{};
        Byte* to = bytes_;
        if (size > sizeof bytes_) {
            to = new Byte[size];
            std::memcpy(bytes_, &to, sizeof to);
        }
        size_ = static_cast<std::uint32_t>(size);
        encoding::Store store{to};
        fill(store);
    }
    explicit HeldRecord(Bytes record)
        : HeldRecord(record.size(), [record](encoding::Store& store) { store.bytes(record.data(), record.size()); }) {}
    HeldRecord(const HeldRecord&) = delete;
    HeldRecord& operator=(const HeldRecord&) = delete;
    ~HeldRecord() {
        if (size_ > sizeof bytes_) delete[] heap();
    }

    const Byte* data() const noexcept { return size_ > sizeof bytes_ ? heap() : bytes_; }
    Bytes bytes() const noexcept { return {data(), size_}; }

private:
    Byte* heap() const noexcept {
        Byte* block = nullptr;
        std::memcpy(&block, bytes_, sizeof block);
        return block;
    }

    std::uint32_t size_;
    Byte bytes_[28];  // an object of 48 bytes
};

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

// An enumeration member or a record held by value: the value, owned outright.
template <class T>
struct ValueObject {
    PyObject ob_base;
    T value;
};
// A variant of a union: its record.
struct VariantObject {
    PyObject ob_base;
    HeldRecord record;
};
// A view: a reference into records that its owner keeps alive: the storage of its parse, or for an instruction of
// its own, the bytes object that holds its record.
template <class R>
struct ViewObject {
    PyObject ob_base;
    PyRef owner;
    R value;
    [[no_unique_address]] typename StateOf<R>::type state;
};

template <class T>
using Object = std::conditional_t<is_sum_v<T>, VariantObject,
                                  std::conditional_t<kind_of<T>() == Kind::View, ViewObject<T>, ValueObject<T>>>;

static_assert(sizeof(VariantObject) == 48, "a variant object fits the allocator's block of 48 bytes");

template <class T>
T& value_of(PyObject* self) noexcept {
    return reinterpret_cast<Object<T>*>(self)->value;
}

inline const Byte* record_of(PyObject* self) noexcept {
    return reinterpret_cast<VariantObject*>(self)->record.data();
}

// ---- Objects

// A new object of `type`, its layout built in place from `make()`s result after the interpreter's header.
template <class T, class Make>
[[gnu::always_inline]] inline PyObject* new_object(PyTypeObject* type, Make&& make) {
    using Layout = Object<T>;
    void* memory = ObjectMemory<sizeof(Layout)>::take();
    if (memory == nullptr) return PyErr_NoMemory();
    Layout* object;
    try {
        object = make(memory);
    } catch (...) {
        ObjectMemory<sizeof(Layout)>::give(memory);
        throw;
    }
    return PyObject_Init(&object->ob_base, type);
}

// Each class gives its objects' memory back through a function of its own: the interpreter lets __class__ be
// assigned only between classes that free alike, and an object whose class named another variant (or another
// enumeration) than the value it holds would answer for a value it does not have.
template <class T, std::size_t Class = 0>
void object_free(void* self) noexcept {
    ObjectMemory<sizeof(Object<T>)>::give(self);
}

template <class T>
void object_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    auto* object = reinterpret_cast<Object<T>*>(self);
    // A deallocator runs with the interpreter lock held: a view lets go of its storage here, not through a handle
    // that would ask first.
    PyObject* storage = nullptr;
    if constexpr (kind_of<T>() == Kind::View) storage = object->owner.release();
    object->~Object<T>();
    ObjectMemory<sizeof(Object<T>)>::give(self);  // what tp_free does, without the call through the class
    Py_XDECREF(storage);
    Py_DECREF(type);  // instances of heap types hold a reference to their class
}

// ---- Class objects: made on first use, once per process, kept until the process ends.

template <class T>
struct ClassCache {
    static inline PyTypeObject* type = nullptr;
};
template <class V>
struct VariantCache {
    static inline std::array<PyTypeObject*, std::variant_size_v<V>> types{};
    // What kind() answers for each variant, interned: every call gives the same immutable str.
    static inline std::array<PyObject*, std::variant_size_v<V>> kinds{};
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

template <class T>
void add_described_slots(std::vector<PyType_Slot>& slots) {
    if constexpr (requires { Describe<T>::methods; })
        slots.push_back({Py_tp_methods, static_cast<void*>(Describe<T>::methods)});
    if constexpr (requires { Describe<T>::slots; })
        for (const PyType_Slot& slot : Describe<T>::slots) slots.push_back(slot);
}

// ---- Conversions, native to Python: each call makes new objects; leaves copy their value out, views share the
// storage of their parse.

inline PyObject* to_python(std::string_view text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}
inline PyObject* to_python(const std::string& text) {
    return to_python(std::string_view{text});
}
inline PyObject* to_python(encoding::TextView text) {
    return to_python(std::string_view{text});
}
inline PyObject* to_python(std::uint64_t number) {
    return PyLong_FromUnsignedLongLong(number);
}
PyObject* to_python(ast::u128 number);
PyObject* to_python(const std::unordered_map<std::string, std::string>& map);
template <class T>
PyObject* to_python(const std::optional<T>& value);
template <class T>
requires std::is_enum_v<T> ||(Described<T>&& Describe<T>::kind == Kind::Record) PyObject* to_python(const T& value);

// A new object of the variant class of the union record `record`, holding a copy of it.
template <class V>
PyObject* new_variant_object(Bytes record);
// A new register object holding these fields.
PyObject* new_register_object(const encoding::RegisterFields& reg);
// A new instruction object that holds a copy of an instruction record in a bytes object of its own.
PyObject* new_instruction_object(Bytes record);

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

// A field of a union's variant, of type T, as its record reads.
template <class T>
PyObject* field_to_python(const encoding::View<T>& field) {
    if constexpr (std::is_same_v<T, ast::PTXRegister>) {
        return new_register_object(field);
    } else if constexpr (std::is_same_v<T, std::vector<ast::PTXRegister>>) {
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(field.count)));
        if (!list) return nullptr;
        const Byte* p = field.bytes;
        for (std::size_t i = 0; i < field.count; ++i) {
            const Byte* start = p;
            encoding::skip_record<ast::PTXRegister>(p);
            PyObject* reg = new_variant_object<ast::PTXRegister>(Bytes{start, p});
            if (reg == nullptr) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), reg);
        }
        return list.release();
    } else if constexpr (std::is_same_v<T, ast::PTXOperand> || std::is_same_v<T, ast::PTXStatement>) {
        return new_variant_object<T>(field);
    } else if constexpr (std::is_same_v<T, ast::PackedInstruction>) {
        return new_instruction_object(field);
    } else {
        return to_python(field);
    }
}

// ---- Conversions, Python to native (constructor arguments); false with a Python exception set.

template <class T>
requires std::is_enum_v<T>
bool from_python(PyObject* obj, T& out);

// Whether `obj` is an object of one of the variant classes of V, the only objects that hold a record of V.
template <class V>
bool is_variant_object(PyObject* obj) {
    if (class_of<V>() == nullptr) return false;
    const auto& variants = VariantCache<V>::types;
    if (std::find(variants.begin(), variants.end(), Py_TYPE(obj)) != variants.end()) return true;
    raise_cannot_cast(obj, class_name_of<V>());
    return false;
}

// The record of an instruction object, whole.
bool instruction_from_python(PyObject* obj, Bytes& out);

// A field of type T of a variant being built, from a constructor argument. What it reads stays valid while the
// argument lives; `scratch` takes the registers of a list.
template <class T>
bool field_from_python(PyObject* obj, encoding::View<T>& out, std::vector<Byte>& scratch);

// ---- Enumeration classes

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
PyObject* new_enum_object(PyTypeObject* type, E member) {
    return new_object<E>(type, [member](void* memory) { return new (memory) ValueObject<E>{PyObject{}, member}; });
}

template <class E>
[[gnu::noinline]] PyTypeObject* enum_class() {
    if (PyTypeObject* cached = ClassCache<E>::type) return cached;
    static const std::string name = qualified_name(ast::EnumInfo<E>::class_name);
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&object_dealloc<E>)},
                                   {Py_tp_free, slot_function(&object_free<E>)},
                                   {Py_tp_alloc, slot_function(&refuse_alloc)},
                                   {Py_tp_repr, slot_function(&enum_repr<E>)},
                                   {Py_nb_int, slot_function(&enum_int<E>)}};
    add_described_slots<E>(slots);
    PyRef type = build_class(name.c_str(), sizeof(Object<E>), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             std::move(slots), nullptr);
    if (!type) return nullptr;
    // Members are made once, here; values read from the tree become new instances instead.
    for (std::size_t i = 0; i < ast::member_count<E>(); ++i) {
        PyRef member = PyRef::steal(new_enum_object(reinterpret_cast<PyTypeObject*>(type.get()), static_cast<E>(i)));
        if (!member) return nullptr;
        if (set_class_attribute(type.get(), ast::EnumInfo<E>::names[i], member.get()) < 0) return nullptr;
    }
    return publish(ClassCache<E>::type, std::move(type));
}

// ---- Record classes, of records held by value and of views

template <class T>
Shared shared_of(PyObject* self) noexcept {
    if constexpr (kind_of<T>() == Kind::View)
        return {reinterpret_cast<Object<T>*>(self)->owner.get()};
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
[[gnu::noinline]] PyTypeObject* record_class() {
    if constexpr (kind_of<T>() == Kind::Record)
        static_assert(ast::field_count<T>() == std::tuple_size_v<std::remove_const_t<decltype(Describe<T>::fields)>>,
                      "every field of a record held by value is a property");
    if (PyTypeObject* cached = ClassCache<T>::type) return cached;
    static const std::string name = qualified_name(Describe<T>::name);
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&object_dealloc<T>)},
                                   {Py_tp_free, slot_function(&object_free<T>)},
                                   {Py_tp_alloc, slot_function(&refuse_alloc)},
                                   {Py_tp_getset, record_getset<T>()}};
    add_described_slots<T>(slots);
    PyRef type = build_class(name.c_str(), sizeof(Object<T>), Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             std::move(slots), nullptr);
    if (!type) return nullptr;
    return publish(ClassCache<T>::type, std::move(type));
}

// A view of `ref`, which `owner` keeps alive.
template <class R>
[[gnu::always_inline]] inline PyObject* new_view(R ref, PyRef&& owner) {
    static_assert(kind_of<R>() == Kind::View);
    PyTypeObject* type = class_of<R>();
    if (type == nullptr) return nullptr;
    return new_object<R>(type, [&](void* memory) {
        return new (memory) ViewObject<R>{PyObject{}, std::move(owner), ref, {}};
    });
}

// A view of `ref` that shares the storage of its parse.
template <class R>
[[gnu::always_inline]] inline PyObject* new_shared_view(R ref, PyObject* storage) {
    ZORVANE_CHECK(storage != nullptr, "a view of a parse's records without the storage of that parse");
    return new_view(ref, PyRef::borrow(storage));
}

// ---- Sum-type base classes and their variant classes

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
            n.name = std::string{ast::description_of<V>().name} + "_" + std::string{ast::description_of<V>().names[I]};
            n.qualified = qualified_name(n.name);
            n.constructor = n.name + ".__new__";
            n.doc = n.name + "(";
            for (std::size_t k = 0; k < ast::arity<V, I>; ++k) {
                if (k != 0) n.doc += ", ";
                n.doc += ast::kFieldNames[k];
            }
            n.doc += ")\n--\n\n";
            return n;
        }();
        return names;
    }
};

template <class V>
PyObject* new_variant_object(Bytes record) {
    PyTypeObject* type = variant_class<V>(encoding::variant_of<V>(record.data()));
    if (type == nullptr) return nullptr;
    return new_object<V>(type, [record](void* memory) {
        return new (memory) VariantObject{PyObject{}, HeldRecord{record}};
    });
}

// The fields of variant I that an object holds; an object whose record holds another raises rather than read it.
template <class V, std::size_t I>
std::optional<encoding::FieldsOf<V>> fields_of_variant(PyObject* self) {
    const Byte* p = record_of(self);
    const encoding::FieldsOf<V> fields = encoding::get_record<V>(p);
    if (static_cast<std::size_t>(fields.kind) != I) {
        raise_variant_mismatch(self);
        return std::nullopt;
    }
    return fields;
}

template <class V, std::size_t I, std::size_t K>
PyObject* variant_get(PyObject* self, void*) {
    return guarded([self]() -> PyObject* {
        const auto fields = fields_of_variant<V, I>(self);
        if (!fields) return nullptr;
        using T = ast::FieldType<V, I, K>;
        return field_to_python<T>(encoding::get_slot(*fields, encoding::Tag<T>{}));
    });
}

template <class V, std::size_t I, std::size_t... K>
std::array<PyGetSetDef, sizeof...(K) + 1> make_variant_getset(std::index_sequence<K...>) {
    return {PyGetSetDef{ast::kFieldNames[K].data(), &variant_get<V, I, K>, nullptr, nullptr, nullptr}...,
            PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
}

template <class V, std::size_t I>
PyGetSetDef* variant_getset() {
    static auto definitions = make_variant_getset<V, I>(std::make_index_sequence<ast::arity<V, I>>{});
    return definitions.data();
}

template <class V, std::size_t I>
Py_ssize_t variant_length(PyObject*) noexcept {
    return static_cast<Py_ssize_t>(ast::arity<V, I>);
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
        if (index >= ast::arity<V, I>) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return nullptr;
        }
        if constexpr (ast::arity<V, I> == 0)
            return nullptr;  // unreachable: every index is out of range
        else
            return variant_item<V, I>(self, index, std::make_index_sequence<ast::arity<V, I>>{});
    });
}

template <class V, std::size_t I, std::size_t N>
bool convert_arguments(encoding::FieldsOf<V>& fields, const std::array<PyRef, N>& arguments,
                       std::vector<Byte>& scratch) {
    bool converted = true;
    ast::for_each_field<V, I>([&](auto k) {
        using T = ast::FieldType<V, I, k>;
        if (!converted) return;
        encoding::View<T> field{};
        converted = field_from_python<T>(arguments[k].get(), field, scratch);
        if (converted)
            encoding::set_slot(fields, encoding::Tag<T>{}, field);
        else
            prefix_argument_error(ast::kFieldNames[k].data());
    });
    return converted;
}

template <class V, std::size_t I>
PyObject* variant_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        constexpr std::size_t n = ast::arity<V, I>;
        static constexpr const char* names[] = {"_0", "_1", "_2", "_3"};
        static const Signature signature{VariantNames<V, I>::get().constructor.c_str(), names, n};
        // Held for the whole call: the fields read from them stay valid whatever Python code later conversions run.
        std::array<PyRef, n> arguments;
        if (!bind_tuple_dict(signature, args, kwargs, arguments.data())) return nullptr;
        encoding::FieldsOf<V> fields{};
        fields.kind = static_cast<decltype(fields.kind)>(I);
        std::vector<Byte> scratch;
        if (!convert_arguments<V, I>(fields, arguments, scratch)) return nullptr;
        encoding::Measure measure;
        encoding::put_record<V>(measure, fields);
        return new_object<V>(type, [&](void* memory) {
            return new (memory) VariantObject{PyObject{}, HeldRecord{measure.size, [&](encoding::Store& store) {
                                                                         encoding::put_record<V>(store, fields);
                                                                     }}};
        });
    });
}

template <class V, std::size_t I>
PyRef make_variant_class(PyTypeObject* base) {
    const VariantNames<V, I>& names = VariantNames<V, I>::get();
    // The deallocator is set again: a class made from a spec without one gets the interpreter's generic deallocator
    // for subclasses, which is much slower.
    std::vector<PyType_Slot> slots{{Py_tp_doc, const_cast<char*>(names.doc.c_str())},
                                   {Py_tp_dealloc, slot_function(&object_dealloc<V>)},
                                   {Py_tp_free, slot_function(&object_free<V, I + 1>)},
                                   {Py_tp_new, slot_function(&variant_new<V, I>)},
                                   {Py_tp_getset, variant_getset<V, I>()},
                                   {Py_mp_length, slot_function(&variant_length<V, I>)},
                                   {Py_mp_subscript, slot_function(&variant_subscript<V, I>)}};
    PyRef type = build_class(names.qualified.c_str(), sizeof(Object<V>), Py_TPFLAGS_DEFAULT, std::move(slots), base);
    if (!type) return type;
    PyRef match_args = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(ast::arity<V, I>)));
    if (!match_args) return PyRef{};
    for (std::size_t k = 0; k < ast::arity<V, I>; ++k) {
        PyObject* field = PyUnicode_InternFromString(ast::kFieldNames[k].data());
        if (field == nullptr) return PyRef{};
        PyTuple_SET_ITEM(match_args.get(), static_cast<Py_ssize_t>(k), field);
    }
    if (set_class_attribute(type.get(), "__match_args__", match_args.get()) < 0) return PyRef{};
    if (set_class_attribute(reinterpret_cast<PyObject*>(base), ast::description_of<V>().names[I], type.get()) < 0)
        return PyRef{};
    return type;
}

// A class derived in Python from a sum type's base would make its instances through object.__new__, which gives
// them no value; only the variant classes derive from the base. Set after they are made.
template <class V>
PyObject* refuse_subclass(PyObject*, PyObject*, PyObject*) {
    PyErr_Format(PyExc_TypeError, "type '%s' is not an acceptable base type",
                 std::string{ast::description_of<V>().name}.c_str());
    return nullptr;
}

template <class V>
bool refuse_python_subclasses(PyObject* base) {
    static PyMethodDef definition{"__init_subclass__", method_function(&refuse_subclass<V>),
                                  METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
    PyRef method = PyRef::steal(PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject*>(base), &definition));
    return method && set_class_attribute(base, "__init_subclass__", method.get()) == 0;
}

// What kind() answers, made once for each variant of a union that answers it.
template <class V>
bool make_kind_texts() {
    constexpr auto& kinds = ast::description_of<V>().kinds;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i].empty() || VariantCache<V>::kinds[i] != nullptr) continue;
        PyObject* text = PyUnicode_InternFromString(std::string{kinds[i]}.c_str());
        if (text == nullptr) return false;
        VariantCache<V>::kinds[i] = text;
    }
    return true;
}

// Sets up a sum type as one unit: its base class, then each variant class in order, each set as a class attribute
// of the base as soon as it exists; the first use of any of them therefore makes all of them.
template <class V>
[[gnu::noinline]] bool set_up_sum_type() {
    constexpr std::size_t n = std::variant_size_v<V>;
    static const std::string name = qualified_name(ast::description_of<V>().name);
    if (!make_kind_texts<V>()) return false;
    std::vector<PyType_Slot> slots{{Py_tp_dealloc, slot_function(&object_dealloc<V>)},
                                   {Py_tp_free, slot_function(&object_free<V>)},
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
    if (PyTypeObject* cached = VariantCache<V>::types[index]) [[likely]]
        return cached;
    if (!set_up_sum_type<V>()) return nullptr;
    return VariantCache<V>::types[index];
}

// The interned text kind() answers for the variant an object holds: a new reference to the same str every time.
template <class V>
PyObject* kind_text(PyObject* self) noexcept {
    return Py_NewRef(VariantCache<V>::kinds[encoding::variant_of<V>(record_of(self))]);
}

template <class T>
PyTypeObject* class_of() {
    // Every object made asks for its class: the made one is answered here, and making it is out of line.
    if (PyTypeObject* cached = ClassCache<T>::type) [[likely]]
        return cached;
    if constexpr (std::is_enum_v<T>) {
        return enum_class<T>();
    } else if constexpr (is_sum_v<T>) {
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

template <class T>
requires std::is_enum_v<T> ||(Described<T>&& Describe<T>::kind == Kind::Record) PyObject* to_python(const T& value) {
    PyTypeObject* type = class_of<T>();
    if (type == nullptr) return nullptr;
    if constexpr (std::is_enum_v<T>)
        return new_enum_object(type, value);
    else
        return new_object<T>(type, [&value](void* memory) { return new (memory) ValueObject<T>{PyObject{}, value}; });
}

template <class T>
requires std::is_enum_v<T>
bool from_python(PyObject* obj, T& out) {
    PyTypeObject* type = class_of<T>();
    if (type == nullptr) return false;
    if (!Py_IS_TYPE(obj, type)) {
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
bool field_from_python(PyObject* obj, encoding::View<T>& out, std::vector<Byte>& scratch) {
    if constexpr (std::is_same_v<T, ast::PTXRegister>) {
        if (!is_variant_object<T>(obj)) return false;
        const Byte* p = record_of(obj);
        out = encoding::get_record<T>(p);
        return true;
    } else if constexpr (std::is_same_v<T, ast::PTXOperand> || std::is_same_v<T, ast::PTXStatement>) {
        if (!is_variant_object<T>(obj)) return false;
        out = reinterpret_cast<VariantObject*>(obj)->record.bytes();
        return true;
    } else if constexpr (std::is_same_v<T, std::vector<ast::PTXRegister>>) {
        if (!check_sequence(obj)) return false;
        Py_ssize_t size = PySequence_Size(obj);
        if (size < 0) {
            // A sequence without a length is read by iterating; any other failure of len() is the caller's to see.
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            size = 0;
        }
        scratch.clear();
        scratch.reserve(static_cast<std::size_t>(std::min(size, kMostReservedFromHint)) * 2);
        PyRef iterator = PyRef::steal(PyObject_GetIter(obj));
        if (!iterator) return false;
        std::size_t count = 0;
        while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
            if (!is_variant_object<ast::PTXRegister>(item.get())) return false;
            const Bytes record = reinterpret_cast<VariantObject*>(item.get())->record.bytes();
            scratch.insert(scratch.end(), record.begin(), record.end());
            ++count;
        }
        if (PyErr_Occurred() != nullptr) return false;
        out = encoding::RegisterList{count, scratch.data()};
        return true;
    } else if constexpr (std::is_same_v<T, ast::PackedInstruction>) {
        return instruction_from_python(obj, out);
    } else if constexpr (std::is_same_v<T, ast::Text> || std::is_same_v<T, std::string>) {
        std::string_view text;
        if (!borrow_text(obj, text)) return false;
        out = text;
        return true;
    } else {
        return from_python(obj, out);
    }
}

}  // namespace zorvane::module
