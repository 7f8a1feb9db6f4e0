// The red/blue exchange kernels and the staging pass against a plain byte-by-byte reference, over
// many sizes, pitches and alignments; every kernel this processor can run must give identical bytes.
#include "blocks/swizzle.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/block_image.h"
#include "blocks/upload.h"
#include "gl_context.h"
#include "gl_test_environment.h"
#include "reference_staging.h"
#include "texels.h"
#include "zelvan.h"

namespace {

using zelvan::SwapKernel;
using zelvan_support::patternBytes;
using zelvan_test::referenceStaging;
using Bytes = std::vector<std::uint8_t>;

const SwapKernel kKernels[] = {SwapKernel::Portable, SwapKernel::Ssse3, SwapKernel::Avx2};

std::string nameOf(SwapKernel kernel) {
    return kernel == SwapKernel::Avx2 ? "avx2" : kernel == SwapKernel::Ssse3 ? "ssse3" : "portable";
}

Bytes referenceSwap(const std::uint8_t* src, std::size_t count) {
    Bytes out(src, src + count * 4);
    for (std::size_t i = 0; i < count; ++i) std::swap(out[i * 4], out[i * 4 + 2]);
    return out;
}

TEST(SwapKernels, WidestAvailableKernelIsSelected) {
    EXPECT_TRUE(zelvan::swapKernelAvailable(SwapKernel::Portable));
    const SwapKernel selected = zelvan::selectedSwapKernel();
    EXPECT_TRUE(zelvan::swapKernelAvailable(selected));
    if (zelvan::swapKernelAvailable(SwapKernel::Avx2)) {
        EXPECT_EQ(selected, SwapKernel::Avx2);
    }
    std::printf("kernels here:");
    for (SwapKernel kernel : kKernels)
        if (zelvan::swapKernelAvailable(kernel)) std::printf(" %s", nameOf(kernel).c_str());
    std::printf("; selected: %s\n", nameOf(selected).c_str());
}

// Every count from 0 to 80 covers each vector width's tail; the larger ones the unrolled loops.
// Source and destination start at every byte offset, and the bytes around the destination stay.
TEST(SwapKernels, CopiesMatchReferenceAtEveryLengthAndAlignment) {
    std::vector<std::size_t> counts;
    for (std::size_t n = 0; n <= 80; ++n) counts.push_back(n);
    for (std::size_t n : {127u, 128u, 129u, 511u, 512u, 513u, 1000u}) counts.push_back(n);
    constexpr std::size_t kGuard = 64;
    for (SwapKernel kernel : kKernels) {
        if (!zelvan::swapKernelAvailable(kernel)) continue;
        for (std::size_t count : counts)
            for (std::size_t srcOffset = 0; srcOffset < 4; ++srcOffset)
                for (std::size_t dstOffset = 0; dstOffset < 4; ++dstOffset) {
                    SCOPED_TRACE(nameOf(kernel) + " count " + std::to_string(count) + " offsets " +
                                 std::to_string(srcOffset) + "/" + std::to_string(dstOffset));
                    const Bytes src = patternBytes(count * 4 + srcOffset, static_cast<unsigned>(count));
                    Bytes dst(kGuard + dstOffset + count * 4 + kGuard, 0xA5);
                    zelvan::swapFunction(kernel)(dst.data() + kGuard + dstOffset, src.data() + srcOffset,
                                                 count);
                    const Bytes expected = referenceSwap(src.data() + srcOffset, count);
                    ASSERT_TRUE(
                        std::equal(expected.begin(), expected.end(), dst.begin() + kGuard + dstOffset));
                    for (std::size_t i = 0; i < kGuard + dstOffset; ++i)
                        ASSERT_EQ(dst[i], 0xA5) << "before, " << i;
                    for (std::size_t i = kGuard + dstOffset + count * 4; i < dst.size(); ++i)
                        ASSERT_EQ(dst[i], 0xA5) << "after, " << i;
                }
    }
}

TEST(SwapKernels, InPlaceMatchesReference) {
    for (SwapKernel kernel : kKernels) {
        if (!zelvan::swapKernelAvailable(kernel)) continue;
        for (std::size_t count : {1u, 3u, 7u, 8u, 15u, 16u, 17u, 31u, 33u, 300u}) {
            SCOPED_TRACE(nameOf(kernel) + " count " + std::to_string(count));
            Bytes pixels = patternBytes(count * 4 + 1, 3);
            const Bytes expected = referenceSwap(pixels.data() + 1, count);
            zelvan::swapFunction(kernel)(pixels.data() + 1, pixels.data() + 1, count);
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), pixels.begin() + 1));
        }
    }
    Bytes pixels = patternBytes(64 * 4, 9);
    const Bytes expected = referenceSwap(pixels.data(), 64);
    zelvan::copySwapRedBlue(pixels.data(), pixels.data(), 64);
    EXPECT_EQ(pixels, expected);
}

// Partial and full blocks; pitches tight, padded, odd, overlapping (below width * 4) and wide
// enough for the prefetching path; the caller's pointer at every byte offset. The source buffer
// ends right after the last byte the block may read, so the sanitizer build catches any overread.
TEST(PrepareStaging, MatchesReferenceOverSizesPitchesAndAlignments) {
    const std::uint32_t widths[] = {1, 2, 3, 5, 8, 15, 16, 17, 33, 100, 257, 440, 512};
    const std::uint32_t heights[] = {1, 2, 3, 50, 257, 512};
    for (std::uint32_t width : widths)
        for (std::uint32_t height : heights) {
            const std::int64_t rowBytes = std::int64_t{width} * 4;
            for (std::int64_t pitch : {rowBytes, rowBytes + 4, rowBytes + 3, rowBytes > 8 ? rowBytes - 8 : 1,
                                       std::int64_t{32768 + 12}}) {
                if (height > 50 && width < 100 && pitch != rowBytes) continue;  // keeps the run short
                for (std::size_t offset = 0; offset < 4; ++offset) {
                    const std::uint64_t reach = static_cast<std::uint64_t>(height - 1) * pitch + rowBytes;
                    const Bytes source = patternBytes(offset + reach, width + height);
                    const zelvan::Block block{0,
                                              0,
                                              0,
                                              width,
                                              height,
                                              zelvan::nextPowerOfTwo(width),
                                              zelvan::nextPowerOfTwo(height)};
                    const auto p = static_cast<std::int32_t>(pitch);
                    Bytes staging(std::size_t{block.textureWidth} * block.textureHeight * 4, 0xEE);
                    zelvan::prepareStaging(staging.data(), block, source.data() + offset, p);
                    ASSERT_EQ(staging, referenceStaging(block, source.data() + offset, p))
                        << width << " x " << height << ", pitch " << pitch << ", offset " << offset;
                }
            }
        }
}

using UploadTexels = zelvan_test::GlTest;

// Through OpenGL: a partial block cut from a wide image at an odd address reads back as the
// reference staging buffer.
TEST_F(UploadTexels, WidePitchBlockReadsBackAsReference) {
    constexpr std::uint32_t kWidth = 300, kHeight = 200;
    constexpr std::int32_t kPitch = 9000 * 4;
    const Bytes image = patternBytes(1 + std::size_t{kHeight} * kPitch, 5);
    const ZelvanHandle handle = ZelvanCreate(kWidth, kHeight);
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(ZelvanSetBlockPtr(handle, 0, 0, image.data() + 1, kPitch));
    int width = 0, height = 0;
    const Bytes texels = zelvan_support::readBoundTexture(&width, &height);
    ASSERT_EQ(width, 512);
    ASSERT_EQ(height, 256);
    const zelvan::Block block{0, 0, 0, kWidth, kHeight, 512, 256};
    EXPECT_EQ(texels, referenceStaging(block, image.data() + 1, kPitch));
}

}  // namespace
