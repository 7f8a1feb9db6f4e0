// Uploading a block: texels read back from the texture the call leaves bound, the rejected calls,
// the caller's unpack state and pending errors, and texture ownership.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gl_context.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "texels.h"
#include "upload_calls.h"
#include "zelvan.h"

namespace {

using zelvan_support::boundTexture;
using zelvan_support::GlRecorder;
using zelvan_support::patternBytes;
using zelvan_support::readBoundTexture;
using zelvan_test::GlTest;

// Checks the bound texture: texel (x, y) for x < width, y < height is source pixel (x, y) of
// rows pitch bytes apart, as red-green-blue-alpha; every other texel is 0x40 in each byte.
void expectTexels(const uint8_t* source, int width, int height, int pitch, int textureWidth,
                  int textureHeight) {
    int tw = 0, th = 0;
    const std::vector<uint8_t> texels = readBoundTexture(&tw, &th);
    ASSERT_EQ(tw, textureWidth);
    ASSERT_EQ(th, textureHeight);
    int wrong = 0;
    for (int y = 0; y < th && wrong < 5; ++y)
        for (int x = 0; x < tw && wrong < 5; ++x) {
            const uint8_t* t = &texels[(static_cast<std::size_t>(y) * tw + x) * 4];
            uint8_t expected[4] = {0x40, 0x40, 0x40, 0x40};
            if (x < width && y < height) {
                const uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * pitch + x * 4;
                expected[0] = s[2];
                expected[1] = s[1];
                expected[2] = s[0];
                expected[3] = s[3];
            }
            for (int c = 0; c < 4; ++c)
                if (t[c] != expected[c]) {
                    ADD_FAILURE() << "texel (" << x << ", " << y << ") byte " << c << ": " << int{t[c]}
                                  << " instead of " << int{expected[c]};
                    ++wrong;
                    break;
                }
        }
}

using Upload = GlTest;

TEST_F(Upload, SwapsRedAndBlueAndPadsWithTheFillValue) {
    const ZelvanHandle h = ZelvanCreate(100, 50);
    const std::vector<uint8_t> pixels = patternBytes(400 * 50, 1);
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), 400));
    EXPECT_NE(boundTexture(), 0u);
    expectTexels(pixels.data(), 100, 50, 400, 128, 64);

    GLint mag = 0, min = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    EXPECT_EQ(mag, GL_NEAREST);
    EXPECT_EQ(min, GL_NEAREST);

    const uint8_t one[4] = {0x10, 0x20, 0x30, 0x40};
    const ZelvanHandle single = ZelvanCreate(1, 1);
    ASSERT_TRUE(ZelvanSetBlockPtr(single, 0, 0, one, 1));
    EXPECT_EQ(readBoundTexture(), (std::vector<uint8_t>{0x30, 0x20, 0x10, 0x40}));
}

TEST_F(Upload, FollowsAnyPositivePitch) {
    const int width = 100, height = 50;
    // Larger than a row (bytes skipped), smaller (rows overlap in the source), odd, and 1.
    for (int pitch : {412, 401, 396, 4, 3, 1}) {
        SCOPED_TRACE("pitch " + std::to_string(pitch));
        const ZelvanHandle h = ZelvanCreate(width, height);
        const std::vector<uint8_t> pixels = patternBytes(
            static_cast<std::size_t>(height - 1) * pitch + width * 4, static_cast<unsigned>(pitch));
        ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), pitch));
        expectTexels(pixels.data(), width, height, pitch, 128, 64);
    }
}

TEST_F(Upload, TakesEdgeBlocksOutOfAWholeImage) {
    const uint32_t width = 1300, height = 700;
    const int pitch = 1304 * 4;  // rows padded beyond the image
    const std::vector<uint8_t> image = patternBytes(static_cast<std::size_t>(pitch) * height, 9);
    const ZelvanHandle h = ZelvanCreate(width, height);
    const struct {
        uint32_t row, col;
        int textureWidth, textureHeight;
    } blocks[] = {{1, 2, 512, 256}, {0, 2, 512, 512}, {1, 1, 512, 256}};
    for (const auto& b : blocks) {
        SCOPED_TRACE(testing::Message() << "block " << b.row << ", " << b.col);
        uint32_t x = 0, y = 0, w = 0, hgt = 0;
        ASSERT_TRUE(ZelvanGetBlockDem(h, b.row, b.col, &x, &y, &w, &hgt));
        const uint8_t* corner = image.data() + static_cast<std::size_t>(y) * pitch + x * 4;
        ASSERT_TRUE(ZelvanSetBlockPtr(h, b.row, b.col, corner, pitch));
        expectTexels(corner, static_cast<int>(w), static_cast<int>(hgt), pitch, b.textureWidth,
                     b.textureHeight);
    }
}

TEST_F(Upload, RejectsBadCallsWithoutTouchingOpenGl) {
    const ZelvanHandle h = ZelvanCreate(1300, 700);
    const std::vector<uint8_t> pixels(1300 * 4 * 512);
    GLuint before = 0;
    glGenTextures(1, &before);
    glBindTexture(GL_TEXTURE_2D, before);

    GlRecorder recorder;
    EXPECT_FALSE(ZelvanSetBlockPtr(0, 0, 0, pixels.data(), 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h + 1, 0, 0, pixels.data(), 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 2, 0, pixels.data(), 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 3, pixels.data(), 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, UINT32_MAX, UINT32_MAX, pixels.data(), 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, nullptr, 5200));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), 0));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), -4));
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), INT32_MIN));
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_EQ(boundTexture(), before);
    glDeleteTextures(1, &before);
}

TEST_F(Upload, DrainsErrorsTheCallerLeftPending) {
    glEnable(0x1234);  // GL_INVALID_ENUM, left unread
    glBindTexture(0x5678, 0);
    const ZelvanHandle h = ZelvanCreate(3, 3);
    const uint32_t pixels[9] = {};
    EXPECT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels, 12));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Upload, ReuploadDeletesThePreviousTexture) {
    const ZelvanHandle h = ZelvanCreate(2, 2);
    const std::vector<uint8_t> first = patternBytes(16, 1), second = patternBytes(16, 2);
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, first.data(), 8));
    const GLuint old = boundTexture();
    ASSERT_TRUE(glIsTexture(old));
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, second.data(), 8));
    const GLuint fresh = boundTexture();
    EXPECT_NE(fresh, old);
    EXPECT_TRUE(glIsTexture(fresh));
    EXPECT_FALSE(glIsTexture(old));
    expectTexels(second.data(), 2, 2, 8, 2, 2);

    ZelvanDestroy(h);
    EXPECT_FALSE(glIsTexture(fresh));
}

// Unpack state that would make OpenGL read the staging buffer from the wrong rows or beyond it.
TEST_F(Upload, IgnoresAndRestoresTheCallersUnpackState) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 2);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 1);

    const struct {
        int width, height, textureWidth, textureHeight;
    } sizes[] = {{1, 5, 1, 8}, {3, 5, 4, 8}, {9, 2, 16, 2}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        const ZelvanHandle h = ZelvanCreate(static_cast<uint32_t>(s.width), static_cast<uint32_t>(s.height));
        const std::vector<uint8_t> pixels = patternBytes(static_cast<std::size_t>(s.width) * s.height * 4, 3);
        ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), s.width * 4));
        expectTexels(pixels.data(), s.width, s.height, s.width * 4, s.textureWidth, s.textureHeight);
    }

    const GLenum names[] = {GL_UNPACK_ALIGNMENT, GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS,
                            GL_UNPACK_SKIP_PIXELS};
    const GLint expected[] = {8, 7, 2, 1};
    for (int i = 0; i < 4; ++i) {
        GLint value = -1;
        glGetIntegerv(names[i], &value);
        EXPECT_EQ(value, expected[i]) << "unpack parameter " << names[i];
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
}

TEST_F(Upload, DestroyAndShutdownDeleteTheTextures) {
    const ZelvanHandle a = ZelvanCreate(600, 600), b = ZelvanCreate(1, 1);
    const std::vector<uint8_t> pixels(4096);  // pitch 1: 511 rows, then 512 pixels
    std::vector<GLuint> ofA, ofB;
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t col = 0; col < 2; ++col) {
            ASSERT_TRUE(ZelvanSetBlockPtr(a, row, col, pixels.data(), 1));
            ofA.push_back(boundTexture());
        }
    ASSERT_TRUE(ZelvanSetBlockPtr(b, 0, 0, pixels.data(), 4));
    ofB.push_back(boundTexture());

    ZelvanDestroy(a);
    for (GLuint name : ofA) EXPECT_FALSE(glIsTexture(name)) << name;
    EXPECT_TRUE(glIsTexture(ofB[0]));
    ZelvanShutdown();
    EXPECT_FALSE(glIsTexture(ofB[0]));
}

TEST_F(Upload, MakesTheCallsInOrder) {
    const ZelvanHandle h = ZelvanCreate(3, 5);
    const std::vector<uint8_t> pixels = patternBytes(3 * 5 * 4, 4);
    glEnable(0x1234);  // one pending error: one more glGetError in the first drain

    GlRecorder recorder;
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), 12));
    zelvan_support::UploadCalls upload;
    upload.pendingErrors = 1;
    upload.texture = boundTexture();
    upload.textureWidth = 4;
    upload.textureHeight = 8;
    EXPECT_EQ(recorder.calls(), zelvan_support::expectedUploadCalls(upload));

    recorder.clear();
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), 12));
    upload.pendingErrors = 0;  // nothing pending this time
    upload.replaced = upload.texture;
    upload.texture = boundTexture();
    EXPECT_EQ(recorder.calls(), zelvan_support::expectedUploadCalls(upload));
}

TEST_F(Upload, AContextThatReportsErrorsForeverFailsTheUploadWithoutHanging) {
    const ZelvanHandle h = ZelvanCreate(2, 2);
    const std::vector<uint8_t> pixels = patternBytes(2 * 2 * 4, 5);

    GlRecorder recorder;
    recorder.forceGetError(GL_OUT_OF_MEMORY);
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, pixels.data(), 8));
    recorder.forceGetError(0);
    const auto reads = std::count(recorder.calls().begin(), recorder.calls().end(), "glGetError()");
    EXPECT_EQ(reads, static_cast<long>(recorder.calls().size())) << "only errors read, no texture made";
    EXPECT_LE(reads, 64);
}

// An upload OpenGL never carried out reports false, and the block keeps drawing what it had.
TEST_F(Upload, ReportsFailureWithoutAContextOrWhenOpenGlRefusesTheTexture) {
    const ZelvanHandle h = ZelvanCreate(2, 1);
    const uint8_t red[8] = {0, 0, 255, 255, 0, 0, 255, 255}, blue[8] = {255, 0, 0, 255, 255, 0, 0, 255};
    {
        const zelvan_support::NoCurrentContext none;
        ASSERT_TRUE(none.released());
        EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, red, 8));
    }
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, red, 8));
    const GLuint kept = boundTexture();

    GlRecorder recorder;
    recorder.failAfter("glTexImage2D", GL_OUT_OF_MEMORY);
    EXPECT_FALSE(ZelvanSetBlockPtr(h, 0, 0, blue, 8));
    recorder.pause();
    const std::vector<std::string>& calls = recorder.calls();
    const auto bind = std::find_if(calls.begin(), calls.end(),
                                   [](const std::string& c) { return c.rfind("glBindTexture", 0) == 0; });
    ASSERT_NE(bind, calls.end());
    const GLuint refused = static_cast<GLuint>(std::stoul(bind->substr(bind->find(", ") + 2)));
    EXPECT_NE(refused, kept);
    EXPECT_FALSE(glIsTexture(refused)) << "the refused texture is deleted";
    EXPECT_TRUE(glIsTexture(kept));

    zelvan_support::setUpOrtho(zelvan_test::kSurfaceWidth, zelvan_test::kSurfaceHeight);
    ZelvanDraw(h);
    const zelvan_support::Rgba left = zelvan_support::readPixel(0, 0),
                               right = zelvan_support::readPixel(1, 0);
    EXPECT_EQ(std::vector<int>({left.r, left.b, right.r, right.b}), std::vector<int>({255, 0, 255, 0}))
        << "the block still draws its earlier picture";
}

}  // namespace
