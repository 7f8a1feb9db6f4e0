// The placement a record stores, where drawImage puts each block, and what it refuses to draw.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "blocks/block_image.h"
#include "blocks/draw.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"

namespace {

using zelvan::BlockImage;
using zelvan::layoutBlocks;

TEST(SetScale, StoresFactorsAsGiven) {
    BlockImage image = layoutBlocks(400, 400, 512, 512);
    zelvan::setScale(image, 0.5f, -3.0f, false);
    EXPECT_EQ(image.scale.x, 0.5f);
    EXPECT_EQ(image.scale.y, -3.0f);
    zelvan::setScale(image, 0.0f, 1e30f, false);
    EXPECT_EQ(image.scale.x, 0.0f);
    EXPECT_EQ(image.scale.y, 1e30f);
    EXPECT_EQ(image.scale.z, 1.0f);
}

TEST(SetScale, TurnsASizeIntoUnitsPerPixel) {
    BlockImage image = layoutBlocks(400, 400, 512, 512);
    zelvan::setScale(image, 200.0f, 100.0f, true);
    EXPECT_EQ(image.scale.x, 0.5f);
    EXPECT_EQ(image.scale.y, 0.25f);

    // Sizes below 1 become 1.
    zelvan::setScale(image, 0.5f, -3.0f, true);
    EXPECT_EQ(image.scale.x, 1.0f / 400.0f);
    EXPECT_EQ(image.scale.y, 1.0f / 400.0f);

    // The quotient is rounded once: 1000 / 3 in double, then to float.
    BlockImage odd = layoutBlocks(3, 7, 512, 512);
    zelvan::setScale(odd, 1000.0f, 1000.0f, true);
    EXPECT_EQ(odd.scale.x, static_cast<float>(1000.0 / 3.0));
    EXPECT_EQ(odd.scale.y, static_cast<float>(1000.0 / 7.0));

    const float nan = std::numeric_limits<float>::quiet_NaN();
    zelvan::setScale(image, nan, 50.0f, true);
    EXPECT_TRUE(std::isnan(image.scale.x));
    EXPECT_EQ(image.scale.y, 0.125f);
    EXPECT_EQ(image.scale.z, 1.0f);
}

TEST(SetScale, GivesInfinityForAnEmptySide) {
    BlockImage image = layoutBlocks(0, 700, 512, 512);
    zelvan::setScale(image, 10.0f, 70.0f, true);
    EXPECT_EQ(image.scale.x, std::numeric_limits<float>::infinity());
    EXPECT_EQ(image.scale.y, 0.1f);
    zelvan::setScale(image, std::numeric_limits<float>::quiet_NaN(), 0.0f, true);
    EXPECT_TRUE(std::isnan(image.scale.x));
    EXPECT_EQ(image.scale.y, 1.0f / 700.0f);
}

TEST(Placement, SettersStoreTheirValues) {
    BlockImage image = layoutBlocks(10, 10, 512, 512);
    zelvan::setAlpha(image, 17);
    zelvan::setTranslation(image, 1.5f, -2.5f, 3.0f);
    zelvan::setRotation(image, 90.0f, -45.0f, 720.0f);
    EXPECT_EQ(image.alpha, 17);
    EXPECT_EQ(image.translation.x, 1.5f);
    EXPECT_EQ(image.translation.y, -2.5f);
    EXPECT_EQ(image.translation.z, 3.0f);
    EXPECT_EQ(image.rotation.x, 90.0f);
    EXPECT_EQ(image.rotation.y, -45.0f);
    EXPECT_EQ(image.rotation.z, 720.0f);
}

class DrawImage : public zelvan_test::GlTest {};

TEST_F(DrawImage, MakesNoCallForABlockListThatDoesNotMatchTheGrid) {
    BlockImage shorter = layoutBlocks(1300, 700, 512, 512);
    shorter.blocks.pop_back();
    BlockImage longer = layoutBlocks(100, 100, 512, 512);
    longer.blocks.push_back(longer.blocks.back());
    BlockImage empty = layoutBlocks(0, 700, 512, 512);

    zelvan_support::GlRecorder recorder;
    zelvan::drawImage(shorter);
    zelvan::drawImage(longer);
    zelvan::drawImage(empty);
    EXPECT_TRUE(recorder.calls().empty());

    zelvan::drawImage(layoutBlocks(100, 100, 512, 512));
    EXPECT_FALSE(recorder.calls().empty());
}

// Quads are placed by the widths to their left and the heights of the rows' first blocks alone.
TEST_F(DrawImage, StepsDownByTheFirstBlockOfEachRow) {
    BlockImage image = layoutBlocks(600, 530, 512, 512);
    image.blockAt(0, 1).height = 300;  // never produced by the layout: tells the two blocks apart
    for (zelvan::Block& block : image.blocks) block.x = block.y = 12345;

    zelvan_support::GlRecorder recorder;
    zelvan::drawImage(image);
    std::vector<std::string> translations;
    for (const std::string& call : recorder.calls())
        if (call.rfind("glTranslatef", 0) == 0) translations.push_back(call);
    EXPECT_EQ(translations, (std::vector<std::string>{"glTranslatef(0, 530, 0)", "glTranslatef(512, 0, 0)",
                                                      "glTranslatef(88, 0, 0)", "glTranslatef(0, -512, 0)",
                                                      "glTranslatef(512, 0, 0)", "glTranslatef(88, 0, 0)",
                                                      "glTranslatef(0, -18, 0)"}));
}

}  // namespace
