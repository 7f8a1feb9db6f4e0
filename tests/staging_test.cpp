// The one-pass staging buffer against the plain three-step algorithm, 64-bit row offsets, and an
// upload whose staging buffer cannot be allocated.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <climits>
#include <cstring>
#include <vector>

#include "blocks/block_image.h"
#include "blocks/upload.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"

namespace {

using zelvan::Block;

Block blockOf(std::uint32_t width, std::uint32_t height) {
    Block block;
    block.width = width;
    block.height = height;
    block.textureWidth = zelvan::nextPowerOfTwo(width);
    block.textureHeight = zelvan::nextPowerOfTwo(height);
    return block;
}

// The obvious way: fill everything with 0x40, copy the rows, then exchange bytes 0 and 2 of every
// texel of the whole buffer.
std::vector<std::uint8_t> referenceStaging(const Block& block, const std::uint8_t* pixels,
                                           std::int64_t pitch) {
    const std::size_t rowBytes = std::size_t{block.textureWidth} * 4;
    std::vector<std::uint8_t> staging(rowBytes * block.textureHeight, 0x40);
    for (std::uint32_t r = 0; r < block.height; ++r)
        std::memcpy(&staging[r * rowBytes], pixels + r * pitch, std::size_t{block.width} * 4);
    for (std::size_t i = 0; i < staging.size(); i += 4) std::swap(staging[i], staging[i + 2]);
    return staging;
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

std::vector<std::uint8_t> oddBytes(std::size_t count, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(count);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

TEST(PrepareStaging, MatchesTheThreeStepAlgorithm) {
    for (std::uint32_t width : {1u, 3u, 17u, 100u, 511u, 512u})
        for (std::uint32_t height : {1u, 5u, 188u}) {
            const std::int32_t row = static_cast<std::int32_t>(width) * 4;
            for (std::int32_t pitch : {row, row + 1, row + 4, row + 60, row - 1, row - 4, 3, 1}) {
                if (pitch < 1) continue;
                SCOPED_TRACE(testing::Message() << width << " x " << height << ", pitch " << pitch);
                const Block block = blockOf(width, height);
                // Exactly as many source bytes as the block may read, so any over-read is caught.
                const std::vector<std::uint8_t> source = oddBytes(
                    std::size_t{height - 1} * static_cast<std::size_t>(pitch) + width * 4, width ^ height);
                std::vector<std::uint8_t> staging(std::size_t{block.textureWidth} * block.textureHeight * 4,
                                                  0xA5);
                zelvan::prepareStaging(staging.data(), block, source.data(), pitch);
                ASSERT_EQ(staging, referenceStaging(block, source.data(), pitch));
            }
        }
}

// Rows more than 2 GiB apart: the offsets must not wrap in 32 bits. Only the pages the block
// reads are mapped; the rest of the range is reserved and inaccessible.
TEST(PrepareStaging, ReachesRowsBeyondTwoGigabytes) {
    const std::int32_t pitch = INT32_MAX;
    const Block block = blockOf(2, 3);
    const std::size_t page = 4096, span = 2 * std::size_t{INT32_MAX} + 3 * page;
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

    zelvan_test::GlRecorder recorder;
    EXPECT_FALSE(zelvan::uploadBlock(image, 0, 0, &pixel, 4));
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_EQ(image.blocks[0].texture, 77u);
}

}  // namespace
