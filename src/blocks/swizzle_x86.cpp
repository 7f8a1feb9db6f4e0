// SSSE3 and AVX2 red/blue exchange: one byte shuffle per 4 or 8 pixels. Compiled with target
// attributes so the rest of the library keeps the baseline instruction set; swizzle.cpp calls
// these only after asking the processor.
#include "swizzle_kernels.h"

#ifdef ZELVAN_HAS_X86_KERNELS

#include <immintrin.h>

// Per 4-byte pixel: take byte 2, 1, 0, 3.
#define ZELVAN_SWAP_ORDER 2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15

namespace zelvan {

__attribute__((target("ssse3"))) void copySwapRedBlueSsse3(std::uint8_t* dst, const std::uint8_t* src,
                                                           std::size_t count) noexcept {
    const __m128i order = _mm_setr_epi8(ZELVAN_SWAP_ORDER);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        // Both loads come before both stores, so dst == src works as well.
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4 + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4), _mm_shuffle_epi8(a, order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4 + 16), _mm_shuffle_epi8(b, order));
    }
    if (i + 4 <= count) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4), _mm_shuffle_epi8(a, order));
        i += 4;
    }
    copySwapRedBluePortable(dst + i * 4, src + i * 4, count - i);
}

__attribute__((target("avx2"))) void copySwapRedBlueAvx2(std::uint8_t* dst, const std::uint8_t* src,
                                                         std::size_t count) noexcept {
    // vpshufb shuffles within each 128-bit lane, so the 16-byte order is repeated in both lanes.
    const __m256i order = _mm256_setr_epi8(ZELVAN_SWAP_ORDER, ZELVAN_SWAP_ORDER);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4 + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4), _mm256_shuffle_epi8(a, order));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4 + 32), _mm256_shuffle_epi8(b, order));
    }
    if (i + 8 <= count) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4), _mm256_shuffle_epi8(a, order));
        i += 8;
    }
    if (i + 4 <= count) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4),
                         _mm_shuffle_epi8(a, _mm256_castsi256_si128(order)));
        i += 4;
    }
    copySwapRedBluePortable(dst + i * 4, src + i * 4, count - i);
}

}  // namespace zelvan

#undef ZELVAN_SWAP_ORDER

#endif
