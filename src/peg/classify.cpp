// The choice, made once per process, of how blocks of text are classified.
#include "peg/classify.hpp"

namespace zorvane::peg {

ClassifyWith classify_with() noexcept {
#if defined(ZORVANE_VECTOR_CLASSES) && defined(ZORVANE_SSE2_CLASSES)
    return ClassifyWith::Sse2;
#elif defined(ZORVANE_VECTOR_CLASSES)
    // Every x86-64 processor has SSE2; AVX2 classifies a block in half the instructions where it is there.
    static const ClassifyWith with = __builtin_cpu_supports("avx2") ? ClassifyWith::Avx2 : ClassifyWith::Sse2;
    return with;
#else
    return ClassifyWith::Scalar;
#endif
}

}  // namespace zorvane::peg
