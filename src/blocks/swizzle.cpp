#include "swizzle.h"

#include <cstring>

#include "swizzle_kernels.h"

namespace zelvan {

namespace {

inline std::uint32_t exchange(std::uint32_t v) {
    // Little- and big-endian alike: the byte at offset 0 and the one at offset 2 trade places.
    std::uint8_t b[4];
    std::memcpy(b, &v, 4);
    const std::uint8_t t = b[0];
    b[0] = b[2];
    b[2] = t;
    std::memcpy(&v, b, 4);
    return v;
}

SwapKernel widestKernel() noexcept {
    if (swapKernelAvailable(SwapKernel::Avx2)) return SwapKernel::Avx2;
    if (swapKernelAvailable(SwapKernel::Ssse3)) return SwapKernel::Ssse3;
    return SwapKernel::Portable;
}

}  // namespace

void copySwapRedBluePortable(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, src + i * 4, 4);
        v = exchange(v);
        std::memcpy(dst + i * 4, &v, 4);
    }
}

bool swapKernelAvailable(SwapKernel kernel) noexcept {
    switch (kernel) {
        case SwapKernel::Portable:
            return true;
#ifdef ZELVAN_HAS_X86_KERNELS
        case SwapKernel::Ssse3:
            return __builtin_cpu_supports("ssse3");
        case SwapKernel::Avx2:
            return __builtin_cpu_supports("avx2");
#endif
        default:
            return false;
    }
}

SwapKernel selectedSwapKernel() noexcept {
    // Probed once: the processor does not change while the library is loaded.
    static const SwapKernel selected = widestKernel();
    return selected;
}

SwapFunction swapFunction(SwapKernel kernel) noexcept {
    switch (kernel) {
#ifdef ZELVAN_HAS_X86_KERNELS
        case SwapKernel::Avx2:
            return copySwapRedBlueAvx2;
        case SwapKernel::Ssse3:
            return copySwapRedBlueSsse3;
#endif
        default:
            return copySwapRedBluePortable;
    }
}

void copySwapRedBlue(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept {
    static const SwapFunction kernel = swapFunction(selectedSwapKernel());
    kernel(dst, src, count);
}

}  // namespace zelvan
