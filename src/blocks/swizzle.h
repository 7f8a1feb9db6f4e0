#pragma once
#include <cstddef>
#include <cstdint>

namespace zelvan {

// Copies count pixels from blue-green-red-alpha src to red-green-blue-alpha dst (bytes 0 and 2
// exchanged, 1 and 3 kept). src and dst must either be the same address or not overlap; neither
// needs any alignment. Runs the fastest kernel this processor supports.
void copySwapRedBlue(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;

// The kernels behind copySwapRedBlue. All give identical bytes; the SIMD ones exist only where the
// compiler targets x86 and run only where the processor has the instructions.
enum class SwapKernel { Portable, Ssse3, Avx2 };

// True when kernel can run on this processor (Portable always can).
bool swapKernelAvailable(SwapKernel kernel) noexcept;

// The kernel copySwapRedBlue uses: the widest available one.
SwapKernel selectedSwapKernel() noexcept;

// The function that runs kernel, with copySwapRedBlue's arguments and rules; callable only when
// swapKernelAvailable(kernel).
using SwapFunction = void (*)(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;
SwapFunction swapFunction(SwapKernel kernel) noexcept;

}  // namespace zelvan
