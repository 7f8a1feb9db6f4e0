// The one-pass staging buffer against the plain three-step algorithm, 64-bit row offsets, and an
// upload whose staging buffer cannot be allocated.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <climits>
#include <vector>

#include "blocks/block_image.h"
#include "blocks/upload.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "reference_staging.h"
#include "texels.h"

namespace {

using zelvan::Block;
using zelvan_support::patternBytes;
using zelvan_test::referenceStaging;

Block blockOf(std::uint32_t width, std::uint32_t height) {
    Block block;
    block.width = width;
    block.height = height;
    block.textureWidth = zelvan::nextPowerOfTwo(width);
    block.textureHeight = zelvan::nextPowerOfTwo(height);
    return block;
}

// Address space that faults on access until parts of it are made writable.
#ifdef _WIN32
void* reserve(std::size_t span) { return VirtualAlloc(nullptr, span, MEM_RESERVE, PAGE_NOACCESS); }
bool makeWritable(void* start, std::size_t size) {
    return VirtualAlloc(start, size, MEM_COMMIT, PAGE_READWRITE) != nullptr;
}
void release(void* start, std::size_t) { VirtualFree(start, 0, MEM_RELEASE); }
#else
void* reserve(std::size_t span) {
    void* start = mmap(nullptr, span, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return start == MAP_FAILED ? nullptr : start;
}
bool makeWritable(void* start, std::size_t size) {
    return mprotect(start, size, PROT_READ | PROT_WRITE) == 0;
}
void release(void* start, std::size_t span) { munmap(start, span); }
#endif

TEST(PrepareStaging, MatchesTheThreeStepAlgorithm) {
    for (std::uint32_t width : {1u, 3u, 17u, 100u, 511u, 512u})
        for (std::uint32_t height : {1u, 5u, 188u}) {
            const std::int32_t row = static_cast<std::int32_t>(width) * 4;
            for (std::int32_t pitch : {row, row + 1, row + 4, row + 60, row - 1, row - 4, 3, 1}) {
                if (pitch < 1) continue;
                SCOPED_TRACE(testing::Message() << width << " x " << height << ", pitch " << pitch);
                const Block block = blockOf(width, height);
                // Exactly as many source bytes as the block may read, so any over-read is caught.
                const std::vector<std::uint8_t> source = patternBytes(
                    std::size_t{height - 1} * static_cast<std::size_t>(pitch) + width * 4, width ^ height);
                std::vector<std::uint8_t> staging(std::size_t{block.textureWidth} * block.textureHeight * 4,
                                                  0xA5);
                zelvan::prepareStaging(staging.data(), block, source.data(), pitch);
                ASSERT_EQ(staging, referenceStaging(block, source.data(), pitch));
            }
        }
}

// Rows more than 2 GiB apart, the last beyond 4 GiB: the offsets must wrap neither in a signed nor
// in an unsigned 32-bit product. Only the pages the block reads are mapped; the rest of the range
// is reserved and inaccessible.
TEST(PrepareStaging, ReachesRowsBeyondTwoGigabytes) {
    const std::int32_t pitch = INT32_MAX;
    const Block block = blockOf(2, 4);
    const std::size_t page = 4096, span = 3 * std::size_t{INT32_MAX} + 3 * page;
    void* reserved = reserve(span);
    ASSERT_NE(reserved, nullptr);
    auto* base = static_cast<std::uint8_t*>(reserved);
    for (std::size_t r = 0; r < block.height; ++r) {
        const std::size_t offset = r * std::size_t{INT32_MAX};
        ASSERT_TRUE(makeWritable(base + offset / page * page, 2 * page));
        for (std::size_t i = 0; i < 8; ++i) base[offset + i] = static_cast<std::uint8_t>(r * 16 + i);
    }
    std::vector<std::uint8_t> staging(std::size_t{block.textureWidth} * block.textureHeight * 4);
    zelvan::prepareStaging(staging.data(), block, base, pitch);
    EXPECT_EQ(staging, referenceStaging(block, base, pitch));
    EXPECT_EQ(staging[2 * 8 + 2], 32);  // row 2, pixel 0, red: the source's byte 0 of row 2
    EXPECT_EQ(staging[3 * 8 + 2], 48);  // row 3, more than 4 GiB from row 0
    release(reserved, span);
}

class UploadWithoutMemory : public zelvan_test::GlTest {};

TEST_F(UploadWithoutMemory, ReturnsFalseAndChangesNothing) {
    // A block whose texture would need 2^48 bytes of staging: more than the address space.
    zelvan::BlockImage image = zelvan::layoutBlocks(1, 1, 512, 512);
    image.blocks[0].textureWidth = 1u << 23;
    image.blocks[0].textureHeight = 1u << 23;
    image.blocks[0].texture = 77;
    const std::uint32_t pixel = 0;

    zelvan_support::GlRecorder recorder;
    EXPECT_FALSE(zelvan::uploadBlock(image, 0, 0, &pixel, 4));
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_EQ(image.blocks[0].texture, 77u);
}

}  // namespace
