// Drawing: pixels read back from a real framebuffer under glOrtho(0, 512, 0, 512, -1, 1), the
// OpenGL state a draw leaves, and its exact call sequence.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "draw_calls.h"
#include "gl_recorder.h"
#include "gl_test_environment.h"
#include "texels.h"
#include "zelvan.h"

namespace zelvan_support {

// Colours compare by red, green and blue: the framebuffer's alpha depends on the blend.
bool operator==(const Rgba& a, const Rgba& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
std::ostream& operator<<(std::ostream& out, const Rgba& c) {
    return out << "(" << int{c.r} << ", " << int{c.g} << ", " << int{c.b} << ")";
}

}  // namespace zelvan_support

namespace {

using zelvan_support::boundTexture;
using zelvan_support::DrawnImage;
using zelvan_support::expectedDrawCalls;
using zelvan_support::GlRecorder;
using zelvan_support::readPixel;
using zelvan_support::Rgba;
using zelvan_test::GlTest;
using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;

constexpr Rgba kBackground{51, 102, 153, 255};  // the clear colour (0.2, 0.4, 0.6)
constexpr Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kWhite{255, 255, 255, 255};
constexpr Rgba kYellow{255, 255, 0, 255}, kMagenta{255, 0, 255, 255};

// Creates a width x height image whose pixel (x, y), y from the top, has colour(x, y), uploads
// every block and returns the handle.
ZelvanHandle makeImage(uint32_t width, uint32_t height,
                       const std::function<Rgba(uint32_t, uint32_t)>& colour) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Rgba c = colour(x, y);
            uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = c.a;
        }
    const ZelvanHandle h = ZelvanCreate(width, height);
    const auto pitch = static_cast<int32_t>(width * 4);
    for (uint32_t row = 0; row < ZelvanGetVBlocks(h); ++row)
        for (uint32_t col = 0; col < ZelvanGetHBlocks(h); ++col) {
            uint32_t x = 0, y = 0;
            ZelvanGetBlockDem(h, row, col, &x, &y, nullptr, nullptr);
            EXPECT_TRUE(ZelvanSetBlockPtr(h, row, col, &pixels[(static_cast<std::size_t>(y) * width + x) * 4],
                                          pitch));
        }
    return h;
}

ZelvanHandle makeSolid(uint32_t width, uint32_t height, Rgba colour) {
    return makeImage(width, height, [colour](uint32_t, uint32_t) { return colour; });
}

class Draw : public GlTest {
protected:
    void SetUp() override {
        GlTest::SetUp();
        zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 0.2f, 0.4f, 0.6f, 1.0f);
        glDisable(GL_BLEND);
    }
};

TEST_F(Draw, BlocksAppearUprightWithTheBottomLeftCornerAtTheTranslation) {
    // 3 x 2 blocks, one colour each, drawn at a quarter size: 325 x 175 units from (50, 60).
    const Rgba colours[2][3] = {{kRed, kGreen, kBlue}, {kWhite, kYellow, kMagenta}};
    const ZelvanHandle h =
        makeImage(1300, 700, [&](uint32_t x, uint32_t y) { return colours[y / 512][x / 512]; });
    ZelvanScale(h, 0.25f, 0.25f, false);
    ZelvanTranslate(h, 50, 60, 0);
    ZelvanDraw(h);

    const int centreX[3] = {50 + 64, 50 + 192, 50 + 290}, centreY[2] = {60 + 175 - 64, 60 + 175 - 151};
    for (int row = 0; row < 2; ++row)
        for (int col = 0; col < 3; ++col)
            EXPECT_EQ(readPixel(centreX[col], centreY[row]), colours[row][col])
                << "block " << row << ", " << col;
    EXPECT_EQ(readPixel(50, 60), kWhite);
    EXPECT_EQ(readPixel(49, 60), kBackground);
    EXPECT_EQ(readPixel(50, 59), kBackground);
    EXPECT_EQ(readPixel(374, 234), kBlue);
    EXPECT_EQ(readPixel(375, 234), kBackground);
    EXPECT_EQ(readPixel(374, 235), kBackground);
}

TEST_F(Draw, FirstRowAtTheTopAtScaleOne) {
    // Quadrants of a 100 x 50 image: red top-left, green top-right, blue bottom-left, white bottom-right.
    const ZelvanHandle h = makeImage(100, 50, [](uint32_t x, uint32_t y) {
        return y < 25 ? (x < 50 ? kRed : kGreen) : (x < 50 ? kBlue : kWhite);
    });
    ZelvanTranslate(h, 20, 30, 0);
    ZelvanDraw(h);
    EXPECT_EQ(readPixel(20, 30), kBlue);
    EXPECT_EQ(readPixel(119, 30), kWhite);
    EXPECT_EQ(readPixel(20, 79), kRed);
    EXPECT_EQ(readPixel(119, 79), kGreen);
    EXPECT_EQ(readPixel(69, 54), kBlue);
    EXPECT_EQ(readPixel(70, 55), kGreen);
    for (const auto& outside : {std::array<int, 2>{19, 30}, {20, 29}, {120, 79}, {119, 80}})
        EXPECT_EQ(readPixel(outside[0], outside[1]), kBackground) << outside[0] << ", " << outside[1];
}

TEST_F(Draw, ScaleAsSizeGivesTheRequestedSize) {
    const ZelvanHandle h = makeSolid(400, 400, kGreen);
    ZelvanScale(h, 200, 100, true);
    ZelvanTranslate(h, 10, 10, 0);
    ZelvanDraw(h);
    EXPECT_EQ(readPixel(10, 10), kGreen);
    EXPECT_EQ(readPixel(209, 109), kGreen);
    EXPECT_EQ(readPixel(210, 50), kBackground);
    EXPECT_EQ(readPixel(100, 110), kBackground);
}

TEST_F(Draw, TranslationMovesAlongTheRotatedAxes) {
    // 40 x 20, top half red; turned a quarter counter-clockwise about (200, 200).
    const ZelvanHandle h = makeImage(40, 20, [](uint32_t, uint32_t y) { return y < 10 ? kRed : kBlue; });
    glTranslatef(200, 200, 0);
    ZelvanRotate(h, 0, 0, 90);
    ZelvanTranslate(h, 10, 0, 0);
    ZelvanDraw(h);
    // The image's x axis now points up the screen: it spans x 180..200 and y 210..250.
    EXPECT_EQ(readPixel(185, 230), kRed);
    EXPECT_EQ(readPixel(195, 230), kBlue);
    EXPECT_EQ(readPixel(195, 249), kBlue);
    EXPECT_EQ(readPixel(195, 205), kBackground);
    EXPECT_EQ(readPixel(205, 230), kBackground);
}

TEST_F(Draw, OpacityBlendsOverTheBackground) {
    const ZelvanHandle h = makeSolid(50, 50, kRed);
    ZelvanTranslate(h, 0, 0, 0);
    ZelvanAlpha(h, 128);
    ZelvanDraw(h);
    const Rgba half = readPixel(25, 25);
    const double a = 128.0 / 255.0;  // texel alpha 1 times the opacity
    EXPECT_NEAR(half.r, 255 * a + 51 * (1 - a), 2.0);
    EXPECT_NEAR(half.g, 102 * (1 - a), 2.0);
    EXPECT_NEAR(half.b, 153 * (1 - a), 2.0);

    ZelvanTranslate(h, 100, 0, 0);
    ZelvanAlpha(h, 0);
    ZelvanDraw(h);
    EXPECT_EQ(readPixel(125, 25), kBackground);

    // The texel's own alpha counts as well.
    const ZelvanHandle translucent = makeSolid(50, 50, Rgba{255, 255, 255, 64});
    ZelvanTranslate(translucent, 200, 0, 0);
    ZelvanDraw(translucent);
    const Rgba quarter = readPixel(225, 25);
    const double q = 64.0 / 255.0;
    EXPECT_NEAR(quarter.r, 255 * q + 51 * (1 - q), 2.0);
    EXPECT_NEAR(quarter.b, 255 * q + 153 * (1 - q), 2.0);
}

TEST_F(Draw, NeighbouringBlocksMeetWithoutSeams) {
    // 700 x 530 at scale 1: both block boundaries fall inside the surface, at x = 212 and y = 118.
    const Rgba colour{200, 30, 90, 255};
    const ZelvanHandle h = makeSolid(700, 530, colour);
    ZelvanTranslate(h, -300, 100, 0);
    ZelvanDraw(h);

    const int width = 400, top = kSurfaceHeight, bottom = 100;
    std::vector<Rgba> pixels(static_cast<std::size_t>(width) * (top - bottom));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, bottom, width, top - bottom, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    int wrong = 0;
    for (std::size_t i = 0; i < pixels.size() && wrong < 5; ++i)
        if (!(pixels[i] == colour)) {
            ADD_FAILURE() << "pixel (" << i % width << ", " << bottom + i / width << ") is " << pixels[i];
            ++wrong;
        }
    EXPECT_EQ(readPixel(400, 300), kBackground);
    EXPECT_EQ(readPixel(200, 99), kBackground);
}

// Every pixel of a 1100 x 1100 image encodes its own coordinates: red and green the low bytes of x
// and y, blue a flag (0x80) with their high bits. Turned and scaled, neighbouring frame pixels must
// come from neighbouring source pixels, block seams included: a texture that repeats shows the
// texel from the block's far side where sampling lands a hair past an edge.
TEST_F(Draw, TurnedAndScaledSeamsShowNeighbouringPixels) {
    const uint32_t side = 1100;
    const ZelvanHandle h = makeImage(side, side, [](uint32_t x, uint32_t y) {
        return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                    static_cast<uint8_t>(0x80 | (x >> 8) | ((y >> 8) << 3)), 255};
    });
    const struct {
        float degrees, scale;
    } views[] = {{-17, 0.41f}, {7, 0.37f}, {30, 0.4f}, {45, 0.33f}, {90, 0.45f}, {30, 2.9f}, {-17, 0.61f}};
    for (const auto& view : views) {
        SCOPED_TRACE(testing::Message() << view.degrees << " degrees at scale " << view.scale);
        zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
        // The image's centre at the frame's centre: the translation applies in the turned frame.
        const double a = view.degrees * 3.14159265358979 / 180, centre = kSurfaceWidth / 2.0;
        const double half = side * view.scale / 2.0;
        ZelvanScale(h, view.scale, view.scale, false);
        ZelvanRotate(h, 0, 0, view.degrees);
        ZelvanTranslate(h, static_cast<float>(centre * (std::cos(a) + std::sin(a)) - half),
                        static_cast<float>(centre * (std::cos(a) - std::sin(a)) - half), 0);
        ZelvanDraw(h);

        std::vector<Rgba> frame(static_cast<std::size_t>(kSurfaceWidth) * kSurfaceHeight);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kSurfaceWidth, kSurfaceHeight, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
        const auto source = [](const Rgba& c, int& x, int& y) {
            if ((c.b & 0x80) == 0) return false;
            x = c.r | (c.b & 7) << 8;
            y = c.g | (c.b >> 3 & 7) << 8;
            return true;
        };
        // Frame neighbours lie 1 / scale source pixels apart, plus one for rounding to a texel.
        const int reach = static_cast<int>(std::ceil(1 / view.scale)) + 1;
        int inside = 0, broken = 0;
        for (int y = 0; y < kSurfaceHeight; ++y)
            for (int x = 0; x < kSurfaceWidth; ++x) {
                int sx = 0, sy = 0, nx = 0, ny = 0;
                if (!source(frame[static_cast<std::size_t>(y) * kSurfaceWidth + x], sx, sy)) continue;
                ++inside;
                const int neighbours[2][2] = {{x + 1, y}, {x, y + 1}};
                for (const auto& n : neighbours) {
                    if (n[0] >= kSurfaceWidth || n[1] >= kSurfaceHeight) continue;
                    if (!source(frame[static_cast<std::size_t>(n[1]) * kSurfaceWidth + n[0]], nx, ny))
                        continue;
                    if (std::abs(nx - sx) <= reach && std::abs(ny - sy) <= reach) continue;
                    if (++broken <= 3)
                        ADD_FAILURE() << "frame (" << x << ", " << y << ") shows source (" << sx << ", " << sy
                                      << "), its neighbour (" << n[0] << ", " << n[1] << ") source (" << nx
                                      << ", " << ny << ")";
                }
            }
        EXPECT_GT(inside, kSurfaceWidth * kSurfaceHeight / 8);
        EXPECT_EQ(broken, 0);
    }
}

TEST_F(Draw, QuadsAreWoundClockwise) {
    const ZelvanHandle h = makeSolid(20, 20, kRed);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);  // counter-clockwise front faces: the image is a back face
    ZelvanDraw(h);
    EXPECT_EQ(readPixel(10, 10), kBackground);
    glCullFace(GL_FRONT);
    ZelvanDraw(h);
    EXPECT_EQ(readPixel(10, 10), kRed);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
}

std::array<GLfloat, 16> matrix(GLenum which) {
    std::array<GLfloat, 16> m{};
    glGetFloatv(which, m.data());
    return m;
}

GLint integer(GLenum which) {
    GLint value = -1;
    glGetIntegerv(which, &value);
    return value;
}

TEST_F(Draw, LeavesTheDocumentedStateAndTouchesNothingElse) {
    const ZelvanHandle h = makeSolid(600, 530, kGreen);  // 2 x 2 blocks, the last 88 x 18 in 128 x 32
    // Re-upload the first block in black, which also leaves its texture bound before the draw.
    ASSERT_TRUE(ZelvanSetBlockPtr(h, 0, 0, std::vector<uint8_t>(4096).data(), 1));
    ZelvanAlpha(h, 200);
    ZelvanRotate(h, 10, 20, 30);
    ZelvanTranslate(h, 5, 6, 7);

    glTranslatef(3, 4, 0);
    const auto modelView = matrix(GL_MODELVIEW_MATRIX), projection = matrix(GL_PROJECTION_MATRIX);
    const GLint depth = integer(GL_MODELVIEW_STACK_DEPTH);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_ONE, GL_ZERO);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glColor4f(0.1f, 0.2f, 0.3f, 0.4f);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT_AND_BACK);
    glEnable(0x1234);  // a pending error, which a draw does not read

    ZelvanDraw(h);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_ENUM));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_EQ(integer(GL_BLEND_SRC), GL_SRC_ALPHA);
    EXPECT_EQ(integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
    GLint mode = 0;
    glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(mode, GL_MODULATE);
    GLfloat colour[4], normal[3], texCoord[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    glGetFloatv(GL_CURRENT_NORMAL, normal);
    glGetFloatv(GL_CURRENT_TEXTURE_COORDS, texCoord);
    const GLfloat white[4] = {1, 1, 1, 200.0f / 255.0f}, up[3] = {0, 0, 1};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(colour[i], white[i], 1e-6) << "colour " << i;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(normal[i], up[i]) << "normal " << i;
    EXPECT_EQ(texCoord[0], 0.0f);
    EXPECT_EQ(texCoord[1], 18.0f / 32.0f);

    // The last block's texture is bound: it holds the image's bottom-right pixels.
    int tw = 0, th = 0;
    const std::vector<uint8_t> texels = zelvan_support::readBoundTexture(&tw, &th);
    EXPECT_EQ(tw, 128);
    EXPECT_EQ(th, 32);
    ASSERT_FALSE(texels.empty());
    EXPECT_EQ(texels[1], 255);  // green, where the first block is now black

    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), modelView);
    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(integer(GL_MODELVIEW_STACK_DEPTH), depth);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_MODELVIEW);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_EQ(integer(GL_CULL_FACE_MODE), GL_FRONT_AND_BACK);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);

    // Drawn while the projection matrix is current: that one is pushed and popped, the mode stays.
    glMatrixMode(GL_PROJECTION);
    ZelvanDraw(h);
    EXPECT_EQ(integer(GL_MATRIX_MODE), GL_PROJECTION);
    EXPECT_EQ(matrix(GL_PROJECTION_MATRIX), projection);
    EXPECT_EQ(matrix(GL_MODELVIEW_MATRIX), modelView);
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(Draw, DrawingNothingChangesNothing) {
    const ZelvanHandle none = ZelvanCreate(0, 0), tall = ZelvanCreate(0, 700), wide = ZelvanCreate(700, 0);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    ZelvanScale(tall, 10, 10, true);  // +infinity across: still never drawn

    GlRecorder recorder;
    for (ZelvanHandle h : {none, tall, wide, ZelvanHandle{99}, ZelvanHandle{0}}) ZelvanDraw(h);
    EXPECT_TRUE(recorder.calls().empty());
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(boundTexture(), texture);
    EXPECT_EQ(readPixel(0, 0), kBackground);
    glDeleteTextures(1, &texture);
}

TEST_F(Draw, SettersMakeNoOpenGlCall) {
    const ZelvanHandle h = ZelvanCreate(10, 10);
    GlRecorder recorder;
    ZelvanAlpha(h, 3);
    ZelvanScale(h, 2, 3, false);
    ZelvanScale(h, 20, 30, true);
    ZelvanRotate(h, 1, 2, 3);
    ZelvanTranslate(h, 4, 5, 6);
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(Draw, MakesTheExactCallSequence) {
    // 600 x 530: blocks 512 x 512, 88 x 512, 512 x 18, 88 x 18 in textures 512, 128 wide, 512, 32 high.
    const ZelvanHandle h = ZelvanCreate(600, 530);
    GLuint names[2][2];
    const std::vector<uint8_t> pixels(4096);
    for (uint32_t row = 0; row < 2; ++row)
        for (uint32_t col = 0; col < 2; ++col) {
            ASSERT_TRUE(ZelvanSetBlockPtr(h, row, col, pixels.data(), 1));
            names[row][col] = boundTexture();
        }
    const float sy = 0.1f, ty = 5.1f;
    ZelvanAlpha(h, 200);
    ZelvanRotate(h, 10, 20, 30);
    ZelvanScale(h, 0.5f, sy, false);
    ZelvanTranslate(h, 5, ty, 7);
    // The top edge is computed in double and rounded once; in float it would come out otherwise.
    const float top = static_cast<float>(530.0 * static_cast<double>(sy) + static_cast<double>(ty));
    ASSERT_NE(top, 530.0f * sy + ty);

    GlRecorder recorder;
    ZelvanDraw(h);

    DrawnImage expected;
    expected.width = 600;
    expected.height = 530;
    expected.hBlocks = expected.vBlocks = 2;
    expected.blocks = {{512, 512, 512, 512, names[0][0]},
                       {88, 512, 128, 512, names[0][1]},
                       {512, 18, 512, 32, names[1][0]},
                       {88, 18, 128, 32, names[1][1]}};
    expected.translation[0] = 5;
    expected.translation[1] = ty;
    expected.translation[2] = 7;
    expected.rotation[0] = 10;
    expected.rotation[1] = 20;
    expected.rotation[2] = 30;
    expected.scaleX = 0.5f;
    expected.scaleY = sy;
    expected.alpha = 200;
    const std::vector<std::string> calls = expectedDrawCalls(expected);
    EXPECT_EQ(recorder.calls(), calls);
}

TEST_F(Draw, BlocksNeverUploadedAreDrawnWithTextureZero) {
    const ZelvanHandle h = ZelvanCreate(10, 10);
    ZelvanDestroy(h);  // a stale record is drawn the same way
    GlRecorder recorder;
    ZelvanDraw(h);
    const auto& calls = recorder.calls();
    ASSERT_EQ(calls.size(), 28u);
    EXPECT_EQ(calls[11], "glBindTexture(GL_TEXTURE_2D, 0)");
    EXPECT_EQ(calls[16], "glTexCoord2f(0.625, 0)");  // 10 of 16 texels
}

TEST_F(Draw, BlocksNeverUploadedDrawWhiteAtTheImagesOpacityWhateverTheCurrentColour) {
    const ZelvanHandle h = ZelvanCreate(100, 50);
    ZelvanTranslate(h, 20, 30, 0);
    ZelvanAlpha(h, 128);
    glColor4ub(255, 0, 0, 255);  // the caller's colour, which the draw replaces
    ZelvanDraw(h);
    const Rgba half = readPixel(70, 55);
    const double a = 128.0 / 255.0;
    EXPECT_NEAR(half.r, 255 * a + 51 * (1 - a), 2.0);
    EXPECT_NEAR(half.g, 255 * a + 102 * (1 - a), 2.0);
    EXPECT_NEAR(half.b, 255 * a + 153 * (1 - a), 2.0);
    EXPECT_EQ(readPixel(19, 55), kBackground);
}

}  // namespace
