// Cutting an image into blocks, and deleting an image's textures.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <vector>

#include "blocks/block_image.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "sanitizers.h"

namespace {

using zelvan::Block;
using zelvan::BlockImage;
using zelvan::layoutBlocks;

// texture, x, y, width, height, textureWidth, textureHeight
using Geometry = std::vector<std::uint32_t>;
Geometry geometry(const Block& b) {
    return {b.texture, b.x, b.y, b.width, b.height, b.textureWidth, b.textureHeight};
}

TEST(NextPowerOfTwo, RoundsUp) {
    const std::uint32_t in[] = {0, 1, 2, 3, 5, 188, 256, 257, 276, 511, 512};
    const std::uint32_t out[] = {1, 1, 2, 4, 8, 256, 256, 512, 512, 512, 512};
    for (std::size_t i = 0; i < sizeof in / sizeof in[0]; ++i)
        EXPECT_EQ(zelvan::nextPowerOfTwo(in[i]), out[i]) << "n = " << in[i];
}

TEST(LayoutBlocks, CutsTheWorkedExampleRowByRow) {
    const BlockImage image = layoutBlocks(1300, 700, 512, 512);
    EXPECT_EQ(image.width, 1300u);
    EXPECT_EQ(image.height, 700u);
    EXPECT_EQ(image.hBlocks, 3u);
    EXPECT_EQ(image.vBlocks, 2u);
    EXPECT_TRUE(image.hasPartialColumn);
    EXPECT_TRUE(image.hasPartialRow);
    const std::vector<Geometry> expected = {
        {0, 0, 0, 512, 512, 512, 512},     {0, 512, 0, 512, 512, 512, 512},
        {0, 1024, 0, 276, 512, 512, 512},  {0, 0, 512, 512, 188, 512, 256},
        {0, 512, 512, 512, 188, 512, 256}, {0, 1024, 512, 276, 188, 512, 256}};
    ASSERT_EQ(image.blocks.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(geometry(image.blocks[i]), expected[i]) << i;
    EXPECT_EQ(geometry(image.blockAt(1, 2)), expected[5]);
    EXPECT_EQ(geometry(image.blockAt(0, 2)), expected[2]);

    EXPECT_EQ(image.alpha, 255);
    EXPECT_EQ(image.scale.x, 1.0f);
    EXPECT_EQ(image.scale.y, 1.0f);
    EXPECT_EQ(image.scale.z, 1.0f);
    EXPECT_EQ(image.rotation.z, 0.0f);
    EXPECT_EQ(image.translation.y, 0.0f);
}

struct OddSize {
    std::uint32_t width, height, hBlocks, vBlocks;
    bool partialColumn, partialRow;
    std::vector<Geometry> blocks;
};

TEST(LayoutBlocks, HandlesOddAndEmptySizes) {
    const OddSize cases[] = {
        {1024, 512, 2, 1, false, false, {{0, 0, 0, 512, 512, 512, 512}, {0, 512, 0, 512, 512, 512, 512}}},
        {100, 50, 1, 1, true, true, {{0, 0, 0, 100, 50, 128, 64}}},
        {513, 1, 2, 1, true, true, {{0, 0, 0, 512, 1, 512, 1}, {0, 512, 0, 1, 1, 1, 1}}},
        {1,
         1025,
         1,
         3,
         true,
         true,
         {{0, 0, 0, 1, 512, 1, 512}, {0, 0, 512, 1, 512, 1, 512}, {0, 0, 1024, 1, 1, 1, 1}}},
        {0, 0, 0, 0, false, false, {}},
        {0, 700, 0, 2, false, true, {}},
        {700, 0, 2, 0, true, false, {}},
    };
    for (const OddSize& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const BlockImage image = layoutBlocks(c.width, c.height, 512, 512);
        EXPECT_EQ(image.hBlocks, c.hBlocks);
        EXPECT_EQ(image.vBlocks, c.vBlocks);
        EXPECT_EQ(image.hasPartialColumn, c.partialColumn);
        EXPECT_EQ(image.hasPartialRow, c.partialRow);
        std::vector<Geometry> blocks;
        for (const Block& b : image.blocks) blocks.push_back(geometry(b));
        EXPECT_EQ(blocks, c.blocks);
    }
}

TEST(LayoutBlocks, KeepsBlockWidthAndHeightApart) {
    const BlockImage image = layoutBlocks(10, 7, 4, 3);
    EXPECT_EQ(image.hBlocks, 3u);
    EXPECT_EQ(image.vBlocks, 3u);
    ASSERT_EQ(image.blocks.size(), 9u);
    EXPECT_EQ(geometry(image.blockAt(0, 1)), (Geometry{0, 4, 0, 4, 3, 4, 3}));
    EXPECT_EQ(geometry(image.blockAt(1, 2)), (Geometry{0, 8, 3, 2, 3, 2, 3}));
    EXPECT_EQ(geometry(image.blockAt(2, 0)), (Geometry{0, 0, 6, 4, 1, 4, 1}));
}

TEST(LayoutBlocks, FailsAtOnceForAnImpossibleSize) {
#ifdef ZT_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer aborts on a failed operator new instead of throwing std::bad_alloc";
#endif
    // 2^46 blocks: the reservation fails before a single block is appended.
    EXPECT_THROW(layoutBlocks(0xFFFFFFFFu, 0xFFFFFFFFu, 512, 512), std::bad_alloc);
}

class ReleaseTextures : public zelvan_test::GlTest {};

TEST_F(ReleaseTextures, DeletesEveryTextureAndKeepsGeometry) {
    BlockImage image = layoutBlocks(600, 10, 512, 512);
    GLuint names[2] = {0, 0};
    glGenTextures(2, names);
    for (GLuint name : names) {
        glBindTexture(GL_TEXTURE_2D, name);  // a name becomes a texture once bound
        ASSERT_TRUE(glIsTexture(name));
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    image.blocks[0].texture = names[0];
    image.blocks[1].texture = names[1];

    zelvan_support::GlRecorder recorder;
    zelvan::releaseTextures(image);
    EXPECT_EQ(recorder.calls(),
              (std::vector<std::string>{"glDeleteTextures(1, " + std::to_string(names[0]) + ")",
                                        "glDeleteTextures(1, " + std::to_string(names[1]) + ")"}));
    EXPECT_FALSE(glIsTexture(names[0]));
    EXPECT_FALSE(glIsTexture(names[1]));
    EXPECT_EQ(geometry(image.blocks[1]), (Geometry{0, 512, 0, 88, 10, 128, 16}));

    recorder.clear();
    zelvan::releaseTextures(image);  // nothing left: no OpenGL call
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(ReleaseTextures, MakesNoCallForAnImageNeverUploaded) {
    BlockImage image = layoutBlocks(1300, 700, 512, 512);
    zelvan_support::GlRecorder recorder;
    zelvan::releaseTextures(image);
    EXPECT_TRUE(recorder.calls().empty());
}

}  // namespace
