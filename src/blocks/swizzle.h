#pragma once
#include <cstddef>
#include <cstdint>

namespace zelvan {

// Copies count pixels from blue-green-red-alpha src to red-green-blue-alpha dst (bytes 0 and 2
// exchanged, 1 and 3 kept). src and dst must not overlap; neither needs any alignment.
void copySwapRedBlue(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept;

// The same exchange in place over count pixels.
void swapRedBlue(std::uint8_t* pixels, std::size_t count) noexcept;

}  // namespace zelvan
