#pragma once
// The individual red/blue exchange kernels; swizzle.cpp chooses among them at run time.
#include <cstddef>
#include <cstdint>

namespace zelvan {

void copySwapRedBluePortable(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define ZELVAN_HAS_X86_KERNELS 1
// Callable only when the processor reports SSSE3, respectively AVX2.
void copySwapRedBlueSsse3(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;
void copySwapRedBlueAvx2(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;
#endif

}  // namespace zelvan
