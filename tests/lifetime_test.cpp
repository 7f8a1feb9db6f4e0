// The library instance, image lifetime, the lookup rule, stale records and the grid queries, as
// a caller of libzelvan sees them.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "sanitizers.h"
#include "texels.h"
#include "zelvan.h"

namespace {

using zelvan_support::boundTexture;
using zelvan_support::GlRecorder;
using zelvan_test::GlTest;

struct Dem {
    uint32_t x = 7, y = 7, width = 7, height = 7;  // 7: "not written"
    bool operator==(const Dem& o) const {
        return x == o.x && y == o.y && width == o.width && height == o.height;
    }
};
Dem dem(uint32_t x, uint32_t y, uint32_t w, uint32_t h) { return Dem{x, y, w, h}; }
std::ostream& operator<<(std::ostream& out, const Dem& d) {
    return out << "(" << d.x << ", " << d.y << ", " << d.width << " x " << d.height << ")";
}

bool query(ZelvanHandle handle, uint32_t row, uint32_t col, Dem& out) {
    return ZelvanGetBlockDem(handle, row, col, &out.x, &out.y, &out.width, &out.height);
}

// Uploads one opaque grey pixel per row into block (row, col) and returns the new texture.
GLuint uploadGrey(ZelvanHandle handle, uint32_t row, uint32_t col) {
    static const std::vector<uint8_t> pixels(1024 * 4, 0x80);  // 511 rows of pitch 4, then 512 pixels
    if (!ZelvanSetBlockPtr(handle, row, col, pixels.data(), 4)) return 0;  // pitch 4: rows overlap
    return boundTexture();
}

using Lifetime = GlTest;

TEST_F(Lifetime, EveryFunctionGivesItsNullResultWithoutAnInstance) {
    const ZelvanHandle kept = ZelvanCreate(1300, 700);
    ASSERT_EQ(kept, 1u);
    ASSERT_EQ(ZelvanShutdown(), 1);
    EXPECT_EQ(ZelvanShutdown(), 1);  // no instance: still 1

    const uint32_t pixel = 0xFF00FF00u;
    GlRecorder recorder;
    for (ZelvanHandle h : {ZelvanHandle{0}, kept, ZelvanHandle{2}}) {
        EXPECT_EQ(ZelvanGetHBlocks(h), 0u);
        EXPECT_EQ(ZelvanGetVBlocks(h), 0u);
        Dem d;
        EXPECT_FALSE(query(h, 0, 0, d));
        EXPECT_EQ(d, Dem{});
        EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, &pixel, 4));
        ZelvanAlpha(h, 1);
        ZelvanScale(h, 2, 2, false);
        ZelvanRotate(h, 1, 2, 3);
        ZelvanTranslate(h, 1, 2, 3);
        ZelvanDraw(h);
        ZelvanDestroy(h);
    }
    EXPECT_EQ(ZelvanCreate(10, 10), 0u);
    EXPECT_EQ(ZelvanZeroHandle(), 0u);
    EXPECT_TRUE(recorder.calls().empty());

    // A new instance starts afresh: no images, handles from 1 again.
    ASSERT_EQ(ZelvanInit(), 1);
    EXPECT_EQ(ZelvanGetHBlocks(kept), 0u);
    EXPECT_EQ(ZelvanCreate(100, 50), 1u);
    EXPECT_EQ(ZelvanGetHBlocks(1), 1u);
    EXPECT_EQ(ZelvanZeroHandle(), 0u);
}

TEST_F(Lifetime, SecondInitKeepsTheImages) {
    EXPECT_EQ(ZelvanCreate(1300, 700), 1u);
    EXPECT_EQ(ZelvanInit(), 1);
    EXPECT_EQ(ZelvanGetHBlocks(1), 3u);
    EXPECT_EQ(ZelvanGetVBlocks(1), 2u);
    EXPECT_EQ(ZelvanCreate(1, 1), 2u);
}

TEST_F(Lifetime, HandlesAreTheLowestFreeValues) {
    EXPECT_EQ(ZelvanCreate(1, 1), 1u);
    EXPECT_EQ(ZelvanCreate(1, 1), 2u);
    EXPECT_EQ(ZelvanCreate(1, 1), 3u);
    ZelvanDestroy(2);
    ZelvanDestroy(2);    // released twice: the pool ignores the second
    ZelvanDestroy(0);    // never issued: nothing happens
    ZelvanDestroy(999);  // never issued: nothing happens
    EXPECT_EQ(ZelvanCreate(1, 1), 2u);
    EXPECT_EQ(ZelvanCreate(1, 1), 4u);
}

TEST_F(Lifetime, QueriesDescribeTheBlockGrid) {
    const ZelvanHandle h = ZelvanCreate(1300, 700);
    EXPECT_EQ(ZelvanGetHBlocks(h), 3u);
    EXPECT_EQ(ZelvanGetVBlocks(h), 2u);
    const Dem expected[2][3] = {{dem(0, 0, 512, 512), dem(512, 0, 512, 512), dem(1024, 0, 276, 512)},
                                {dem(0, 512, 512, 188), dem(512, 512, 512, 188), dem(1024, 512, 276, 188)}};
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t col = 0; col < 3; ++col) {
            Dem d;
            EXPECT_TRUE(query(h, row, col, d));
            EXPECT_EQ(d, expected[row][col]) << row << ", " << col;
        }

    // Outside the grid or an unknown handle: false, nothing written.
    const uint32_t outside[][2] = {{2, 0}, {0, 3}, {2, 3}, {UINT32_MAX, 0}, {0, UINT32_MAX}};
    for (const auto& rc : outside) {
        Dem d;
        EXPECT_FALSE(query(h, rc[0], rc[1], d)) << rc[0] << ", " << rc[1];
        EXPECT_EQ(d, Dem{});
    }
    Dem d;
    EXPECT_FALSE(query(h + 1, 0, 0, d));
    EXPECT_FALSE(query(0, 0, 0, d));
    EXPECT_EQ(d, Dem{});
    EXPECT_EQ(ZelvanGetHBlocks(h + 1), 0u);
    EXPECT_EQ(ZelvanGetVBlocks(0), 0u);
}

TEST_F(Lifetime, BlockDemSkipsNullOutPointers) {
    const ZelvanHandle h = ZelvanCreate(1300, 700);
    for (int skipped = 0; skipped < 4; ++skipped) {
        Dem d;
        uint32_t* out[4] = {&d.x, &d.y, &d.width, &d.height};
        out[skipped] = nullptr;
        EXPECT_TRUE(ZelvanGetBlockDem(h, 1, 2, out[0], out[1], out[2], out[3]));
        Dem expected = dem(1024, 512, 276, 188);
        uint32_t* kept[4] = {&expected.x, &expected.y, &expected.width, &expected.height};
        *kept[skipped] = 7;
        EXPECT_EQ(d, expected) << "pointer " << skipped << " null";
    }
    EXPECT_TRUE(ZelvanGetBlockDem(h, 0, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(ZelvanGetBlockDem(h, 2, 0, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Lifetime, EmptyImagesGetHandlesButNoBlocks) {
    const ZelvanHandle none = ZelvanCreate(0, 0), tall = ZelvanCreate(0, 700), wide = ZelvanCreate(513, 0);
    EXPECT_EQ(none, 1u);
    EXPECT_EQ(tall, 2u);
    EXPECT_EQ(wide, 3u);
    EXPECT_EQ(ZelvanGetHBlocks(none), 0u);
    EXPECT_EQ(ZelvanGetVBlocks(none), 0u);
    EXPECT_EQ(ZelvanGetHBlocks(tall), 0u);
    EXPECT_EQ(ZelvanGetVBlocks(tall), 2u);
    EXPECT_EQ(ZelvanGetHBlocks(wide), 2u);
    EXPECT_EQ(ZelvanGetVBlocks(wide), 0u);
    Dem d;
    for (ZelvanHandle h : {none, tall, wide}) EXPECT_FALSE(query(h, 0, 0, d));
    EXPECT_EQ(d, Dem{});
}

TEST_F(Lifetime, DestroyedRecordAnswersUntilItsHandleIsReissued) {
    const ZelvanHandle h = ZelvanCreate(1300, 700);
    ZelvanCreate(1, 1);
    ZelvanDestroy(h);
    EXPECT_EQ(ZelvanGetHBlocks(h), 3u);
    EXPECT_EQ(ZelvanGetVBlocks(h), 2u);
    Dem d;
    EXPECT_TRUE(query(h, 1, 2, d));
    EXPECT_EQ(d, dem(1024, 512, 276, 188));

    EXPECT_EQ(ZelvanCreate(100, 50), h);  // the stale record is replaced
    EXPECT_EQ(ZelvanGetHBlocks(h), 1u);
    EXPECT_TRUE(query(h, 0, 0, d));
    EXPECT_EQ(d, dem(0, 0, 100, 50));
}

TEST_F(Lifetime, ReissuedHandleStartsWithTheDefaultPlacement) {
    const ZelvanHandle h = ZelvanCreate(10, 10);
    ZelvanAlpha(h, 3);
    ZelvanScale(h, 2, 3, false);
    ZelvanRotate(h, 4, 5, 6);
    ZelvanTranslate(h, 7, 8, 9);
    ZelvanDestroy(h);
    ASSERT_EQ(ZelvanCreate(10, 10), h);

    GlRecorder recorder;
    ZelvanDraw(h);
    const auto& calls = recorder.calls();
    ASSERT_GE(calls.size(), 10u);
    EXPECT_EQ(calls[4], "glColor4ub(255, 255, 255, 255)");
    EXPECT_EQ(calls[6], "glRotatef(0, 1, 0, 0)");
    EXPECT_EQ(calls[7], "glRotatef(0, 0, 1, 0)");
    EXPECT_EQ(calls[8], "glRotatef(0, 0, 0, 1)");
    EXPECT_EQ(calls[9], "glTranslatef(0, 10, 0)");
}

TEST_F(Lifetime, ImpossibleSizeFailsAndChangesNothing) {
#ifdef ZT_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer aborts on a failed operator new instead of throwing std::bad_alloc";
#endif
    ASSERT_EQ(ZelvanCreate(1300, 700), 1u);
    ASSERT_EQ(ZelvanCreate(1, 1), 2u);
    ZelvanDestroy(1);

    GlRecorder recorder;
    EXPECT_EQ(ZelvanCreate(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    EXPECT_EQ(ZelvanCreate(0xFFFFFFFFu, 0xFFFFFFFFu), 0u);
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_EQ(ZelvanGetHBlocks(1), 3u);  // the stale record under the lowest free handle is intact
    EXPECT_EQ(ZelvanGetHBlocks(3), 0u);  // and no partial record appeared
    EXPECT_EQ(ZelvanCreate(5, 5), 1u);   // handle 1 was not taken
    EXPECT_EQ(ZelvanCreate(5, 5), 3u);
}

// Textures uploaded to a destroyed image's record are freed by whoever ends that record.
TEST_F(Lifetime, StaleRecordTexturesAreDeleted) {
    const ZelvanHandle h = ZelvanCreate(600, 10);
    const GLuint live = uploadGrey(h, 0, 0);
    ASSERT_NE(live, 0u);

    GlRecorder recorder;
    ZelvanDestroy(h);
    EXPECT_EQ(recorder.calls(),
              std::vector<std::string>{"glDeleteTextures(1, " + std::to_string(live) + ")"});
    EXPECT_FALSE(glIsTexture(live));
    recorder.clear();
    ZelvanDestroy(h);  // nothing uploaded since: no call
    EXPECT_TRUE(recorder.calls().empty());
    recorder.pause();

    // Uploads into the stale record work as usual; a second destroy deletes them.
    const GLuint stale1 = uploadGrey(h, 0, 1);
    ASSERT_NE(stale1, 0u);
    ZelvanDestroy(h);
    EXPECT_FALSE(glIsTexture(stale1));

    // A create that reuses the handle deletes them before replacing the record, and that is its
    // only OpenGL call.
    const GLuint stale2 = uploadGrey(h, 0, 0), stale3 = uploadGrey(h, 0, 1);
    ASSERT_TRUE(glIsTexture(stale2) && glIsTexture(stale3));
    recorder.resume();
    EXPECT_EQ(ZelvanCreate(100, 100), h);
    EXPECT_EQ(recorder.calls(),
              (std::vector<std::string>{"glDeleteTextures(1, " + std::to_string(stale2) + ")",
                                        "glDeleteTextures(1, " + std::to_string(stale3) + ")"}));
    EXPECT_FALSE(glIsTexture(stale2));
    EXPECT_FALSE(glIsTexture(stale3));

    // Without such uploads, create calls no OpenGL function.
    ZelvanDestroy(h);
    recorder.clear();
    EXPECT_EQ(ZelvanCreate(100, 100), h);
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(Lifetime, ShutdownDeletesTexturesOfLiveAndStaleRecords) {
    const ZelvanHandle live = ZelvanCreate(600, 10), stale = ZelvanCreate(1, 1);
    const GLuint a = uploadGrey(live, 0, 0), b = uploadGrey(live, 0, 1);
    ZelvanDestroy(stale);
    const GLuint c = uploadGrey(stale, 0, 0);
    ASSERT_TRUE(glIsTexture(a) && glIsTexture(b) && glIsTexture(c));
    EXPECT_EQ(ZelvanShutdown(), 1);
    EXPECT_FALSE(glIsTexture(a));
    EXPECT_FALSE(glIsTexture(b));
    EXPECT_FALSE(glIsTexture(c));
}

}  // namespace
