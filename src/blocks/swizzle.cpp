#include "swizzle.h"

#include <cstring>

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

}  // namespace

void copySwapRedBlue(std::uint8_t* dst, const std::uint8_t* src, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, src + i * 4, 4);
        v = exchange(v);
        std::memcpy(dst + i * 4, &v, 4);
    }
}

void swapRedBlue(std::uint8_t* pixels, std::size_t count) noexcept { copySwapRedBlue(pixels, pixels, count); }

}  // namespace zelvan
