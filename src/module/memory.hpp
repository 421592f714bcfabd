// The memory of the module's objects: what a walk of a tree drops is kept for the next objects of the same size.
#pragma once

#include <Python.h>

#include <cstddef>

namespace zorvane::module {

// A walk makes and drops an object for nearly every value it reads, by the million. Each size of object keeps up to
// kKept blocks of the ones dropped, for the next ones made, instead of going back to the interpreter's allocator
// each time. The lists are plain memory, bounded, and touched only with the interpreter lock held (the module
// refuses subinterpreters, so one interpreter makes and frees all its objects); what they hold when the process
// ends is left to it. A sanitizer build keeps none, so that every object stays visible to AddressSanitizer, and
// neither does a build without the lock.
#if defined(ZORVANE_SANITIZE) || defined(Py_GIL_DISABLED)
inline constexpr bool kRecycles = false;
#else
inline constexpr bool kRecycles = true;
#endif

template <std::size_t Size>
class ObjectMemory {
public:
    static void* take() noexcept {
        if constexpr (kRecycles)
            if (count_ != 0) return kept_[--count_];
        return PyObject_Malloc(Size);
    }
    static void give(void* block) noexcept {
        if constexpr (kRecycles) {
            if (count_ < kKept) {
                kept_[count_++] = block;
                return;
            }
        }
        PyObject_Free(block);
    }

private:
    static constexpr std::size_t kKept = 1024;
    static inline void* kept_[kRecycles ? kKept : 1] = {};
    static inline std::size_t count_ = 0;
};

}  // namespace zorvane::module
