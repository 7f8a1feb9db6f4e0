// zelvan.hpp: ownership, checked uploads, placement by the centre and the pyramid's levels, judged
// from frames read back under glOrtho(0, 512, 0, 512).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "gl_test_environment.h"
#include "zelvan_levels.hpp"
#include "zelvan_pyramid.hpp"

namespace {

using zelvan_test::GlTest;
using zelvan_test::kSurfaceHeight;
using zelvan_test::kSurfaceWidth;
using Rgba = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

constexpr Rgba kRed{255, 0, 0, 255}, kGreen{0, 255, 0, 255}, kBlue{0, 0, 255, 255},
    kWhite{255, 255, 255, 255};

// A width x height blue-green-red-alpha buffer, rows tightly packed, pixel (x, y) from colour(x, y).
Bytes picture(std::uint32_t width, std::uint32_t height,
              const std::function<Rgba(std::uint32_t, std::uint32_t)>& colour) {
    Bytes pixels(std::size_t{width} * height * 4);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgba c = colour(x, y);
            std::uint8_t* p = &pixels[(std::size_t{y} * width + x) * 4];
            p[0] = c[2], p[1] = c[1], p[2] = c[0], p[3] = c[3];
        }
    return pixels;
}

Rgba pixelAt(int x, int y) {
    const zelvan_support::Rgba p = zelvan_support::readPixel(x, y);
    return {p.r, p.g, p.b, 255};
}

// RGBA of the frame's lower-left width x height pixels, bottom row first.
Bytes readFrame(int width, int height) {
    Bytes frame(std::size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, frame.data());
    return frame;
}

// The image as drawn one to one over black, unturned, in RGBA rows from the top: its texels.
Bytes drawnTexels(const zelvan::Image& image) {
    const std::uint32_t width = image.width(), height = image.height();
    Bytes texels(std::size_t{width} * height * 4);
    for (std::uint32_t top = 0; top < height; top += kSurfaceHeight)
        for (std::uint32_t left = 0; left < width; left += kSurfaceWidth) {
            zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
            // Unturned at scale 1, with image pixel (left, top) at the frame's top-left pixel. Not
            // place(): the image may be a pyramid's level, placed by the pyramid.
            ZelvanScale(image.handle(), 1, 1, false);
            ZelvanRotate(image.handle(), 0, 0, 0);
            ZelvanTranslate(image.handle(), -float(left), float(kSurfaceHeight + top) - float(height), 0);
            image.draw();
            const Bytes frame = readFrame(kSurfaceWidth, kSurfaceHeight);
            for (std::uint32_t y = top; y < std::min(height, top + kSurfaceHeight); ++y)
                std::copy_n(&frame[((kSurfaceHeight - 1 - (y - top)) * std::size_t{kSurfaceWidth}) * 4],
                            std::min(width - left, std::uint32_t(kSurfaceWidth)) * 4,
                            &texels[(std::size_t{y} * width + left) * 4]);
        }
    return texels;
}

using CxxInterface = GlTest;

TEST_F(CxxInterface, HandlesAreDestroyedOnceWhereverTheirOwnerIsMoved) {
    zelvan::Image kept;
    {
        zelvan::Image first(8, 8);
        ASSERT_EQ(first.handle(), 1u);
        zelvan::Image second(std::move(first));
        kept = std::move(second);
        EXPECT_FALSE(first);
        EXPECT_FALSE(second);
    }  // the moved-from objects must leave handle 1 to `kept`
    zelvan::Image other(8, 8);
    EXPECT_EQ(other.handle(), 2u);
    kept = zelvan::Image();
    EXPECT_EQ(zelvan::Image(8, 8).handle(), 1u);
    {
        zelvan::Pyramid pyramid(5, 3);  // 5 x 3, 3 x 2, 2 x 1, 1 x 1: handles 1, 3, 4, 5
        EXPECT_EQ(pyramid.levels(), 4u);
        zelvan::Pyramid moved(std::move(pyramid));
        EXPECT_EQ(moved.level(3).handle(), 5u);
    }
    EXPECT_EQ(zelvan::Image(8, 8).handle(), 1u);
    EXPECT_EQ(zelvan::Image(8, 8).handle(), 1u);
    {
        zelvan::Library library;
        EXPECT_TRUE(library);
    }
    EXPECT_FALSE(zelvan::Image(8, 8)) << "the Library did not shut the library down";
}

TEST_F(CxxInterface, UploadsRefuseWhatDoesNotHoldTheImageAndUploadNothing) {
    const std::uint32_t width = 600, height = 700;  // 2 x 2 blocks
    const Bytes red = picture(width, height, [](std::uint32_t, std::uint32_t) { return kRed; });
    const std::size_t pitch = width * 4;
    zelvan::Image image(width, height);
    EXPECT_FALSE(image.upload(red.data(), pitch - 4, red.size()));
    EXPECT_FALSE(image.upload(red.data(), pitch, red.size() - 1));
    EXPECT_FALSE(image.upload(red.data(), (std::size_t{1} << 32) + pitch, SIZE_MAX));  // int32 pitch
    EXPECT_FALSE(image.upload(nullptr, pitch, red.size()));
    EXPECT_FALSE(image.uploadRows(256, 264, red.data(), pitch, red.size()));  // not on a block row
    EXPECT_FALSE(
        image.uploadRows(0, 500, red.data(), pitch, red.size()));  // neither a band of 512 nor the bottom
    EXPECT_FALSE(image.uploadRows(512, 512, red.data(), pitch, red.size()));  // past the bottom
    // A band of the bottom 188 rows from a buffer one byte short of them.
    const std::size_t bottomBand = 187 * pitch + width * 4;
    EXPECT_FALSE(image.uploadRows(512, 188, &red[512 * pitch], pitch, bottomBand - 1));
    zelvan::Pyramid pyramid(width, height);
    ASSERT_TRUE(pyramid.uploadRows(0, 512, red.data(), pitch, 512 * pitch));
    EXPECT_FALSE(pyramid.uploadRows(512, 188, &red[512 * pitch], pitch, bottomBand - 1));

    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    zelvan::Placement placement = zelvan::fit(width, height, kSurfaceWidth, kSurfaceHeight);
    image.place(placement);
    const std::array<std::array<int, 2>, 4> blockCentres{{{100, 400}, {450, 400}, {100, 60}, {450, 60}}};
    image.draw();
    for (auto [x, y] : blockCentres) EXPECT_EQ(pixelAt(x, y), kWhite) << "a block got a texture";
    ASSERT_TRUE(image.upload(red.data(), pitch, red.size()));
    image.draw();
    for (auto [x, y] : blockCentres) EXPECT_EQ(pixelAt(x, y), kRed);
}

TEST_F(CxxInterface, ImagesThatOutliveTheirLibraryNameNothingAndLeaveLaterImagesAlone) {
    zelvan::Image raw(600, 40);  // made in the fixture's instance, which ends without a Library
    ASSERT_TRUE(raw);
    ZelvanShutdown();
    EXPECT_FALSE(raw);
    const Bytes blue = picture(600, 40, [](std::uint32_t, std::uint32_t) { return kBlue; });
    const std::size_t pitch = 600 * 4;
    zelvan::Image image, flat;
    zelvan::Pyramid pyramid;
    {
        zelvan::Library library;
        image = zelvan::Image(600, 40);
        flat = zelvan::Image(0, 7);  // no blocks: the library's answers cannot tell it is gone
        pyramid = zelvan::Pyramid(600, 40);
        ASSERT_TRUE(image && flat && pyramid);
    }
    EXPECT_FALSE(image);
    EXPECT_FALSE(flat);
    EXPECT_FALSE(pyramid);
    EXPECT_FALSE(image.upload(blue.data(), pitch, blue.size()));
    EXPECT_FALSE(image.uploadRows(0, 40, blue.data(), pitch, blue.size()));
    EXPECT_FALSE(flat.upload(blue.data(), pitch, blue.size()));
    EXPECT_FALSE(pyramid.upload(blue.data(), pitch, blue.size()));
    EXPECT_FALSE(pyramid.uploadRows(0, 40, blue.data(), pitch, blue.size()));

    // A new instance gives the same handle numbers to new images of the same size.
    zelvan::Library library;
    zelvan::Image later(600, 40);
    ASSERT_EQ(later.handle(), image.handle());
    ASSERT_TRUE(later.upload(blue.data(), pitch, blue.size()));
    EXPECT_FALSE(image.upload(blue.data(), pitch, blue.size())) << "uploaded into a later image";
    zelvan::Placement away;
    away.centreX = -1000;
    image.place(away);
    later.place(zelvan::fit(600, 40, kSurfaceWidth, kSurfaceHeight));
    image = zelvan::Image();  // must not destroy `later`
    pyramid = zelvan::Pyramid();
    EXPECT_NE(zelvan::Image(8, 8).handle(), later.handle()) << "a later image's handle was given back";
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    later.draw();
    EXPECT_EQ(pixelAt(256, 256), kBlue) << "a later image was moved";
}

TEST_F(CxxInterface, PyramidDrawnWhileStreamingShowsOnlyTheRowsUploaded) {
    // 600 x 5120 fitted at 1/10 into 60 x 512: levels 3 and 4 for the scale. After 5 of 10 bands
    // only level 2 holds rows (512 of them, the picture's top 2048 rows): the top 204 rows of the
    // frame. Nothing else may show, least of all the white of blocks without pixels.
    const std::uint32_t width = 600, height = 5120;
    const Bytes pixels = picture(width, height, [](std::uint32_t, std::uint32_t) { return kBlue; });
    const std::size_t pitch = width * 4;
    constexpr Rgba kBlack{0, 0, 0, 255};
    zelvan::Pyramid pyramid(width, height);
    pyramid.place(zelvan::fit(width, height, kSurfaceWidth, kSurfaceHeight));
    for (std::uint32_t row = 0; row < 5 * 512; row += 512)
        ASSERT_TRUE(pyramid.uploadRows(row, 512, &pixels[row * pitch], pitch, pixels.size() - row * pitch));
    EXPECT_EQ(pyramid.rowsUploaded(0), 2560u);
    EXPECT_EQ(pyramid.rowsUploaded(2), 512u);
    EXPECT_EQ(pyramid.rowsUploaded(3), 0u);
    const auto expectColumn = [&](int shownFrom, const char* when) {
        for (int y = 0; y < kSurfaceHeight; y += 3)
            for (const int x : {230, 256, 282})
                ASSERT_EQ(pixelAt(x, y), y >= shownFrom ? kBlue : kBlack)
                    << "(" << x << ", " << y << ") " << when;
    };
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    pyramid.draw();
    expectColumn(512 - 204, "while streaming");
    for (std::uint32_t row = 5 * 512; row < height; row += 512)
        ASSERT_TRUE(pyramid.uploadRows(row, 512, &pixels[row * pitch], pitch, pixels.size() - row * pitch));
    EXPECT_TRUE(pyramid.complete());
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    pyramid.draw();
    expectColumn(0, "complete");
}

// Opaque squares of 64 x 64 pixels, each its own colour: every level down to 1/64 holds the same
// squares, halved, so level k's pixel (x, y) is the image's pixel (x << k, y << k).
Rgba squareColour(std::uint32_t x, std::uint32_t y) {
    const std::uint32_t i = (x / 64) * 7 + (y / 64) * 13;
    return {std::uint8_t(i * 37), std::uint8_t(i * 91 + 50), std::uint8_t(255 - i * 23), 255};
}

TEST_F(CxxInterface, BandsOfRowsGiveTheTexelsOfOneUpload) {
    const std::uint32_t width = 1301, height = 1100;  // odd, three bands: 512, 512 and 76 rows
    const Bytes pixels = picture(width, height, squareColour);
    const std::size_t pitch = width * 4;
    zelvan::Image whole(width, height), banded(width, height);
    zelvan::Pyramid wholePyramid(width, height), bandedPyramid(width, height);
    ASSERT_TRUE(whole.upload(pixels.data(), pitch, pixels.size()));
    ASSERT_TRUE(wholePyramid.upload(pixels.data(), pitch, pixels.size()));
    for (std::uint32_t row = 0; row < height; row += 512) {
        const std::uint32_t rows = std::min(512u, height - row);
        const std::size_t bytes = pixels.size() - row * pitch;
        ASSERT_TRUE(banded.uploadRows(row, rows, &pixels[row * pitch], pitch, bytes));
        ASSERT_TRUE(bandedPyramid.uploadRows(row, rows, &pixels[row * pitch], pitch, bytes));
        if (row > 0) {  // row 0 starts the building again; any other band must follow the one before
            EXPECT_FALSE(bandedPyramid.uploadRows(row, rows, &pixels[row * pitch], pitch, bytes))
                << "band out of turn";
        }
    }
    EXPECT_EQ(drawnTexels(banded), drawnTexels(whole));
    ASSERT_EQ(bandedPyramid.levels(), 12u);  // 1301 x 1100 down to 1 x 1
    for (std::size_t k = 0; k <= 6; ++k) {
        const zelvan::Image& level = bandedPyramid.level(k);
        Bytes expected = picture(level.width(), level.height(), [k](std::uint32_t x, std::uint32_t y) {
            return squareColour(x << k, y << k);
        });
        for (std::size_t i = 0; i < expected.size(); i += 4) std::swap(expected[i], expected[i + 2]);  // RGBA
        EXPECT_TRUE(drawnTexels(level) == expected) << "level " << k << " built in bands";
        EXPECT_TRUE(drawnTexels(wholePyramid.level(k)) == expected) << "level " << k << " built at once";
    }
}

TEST_F(CxxInterface, PlacementPutsTheCentrePixelAtTheRequestedPoint) {
    // 41 x 31 at 6 units per pixel: a red centre pixel, a green one 10 pixels to its right, blue around.
    const std::uint32_t width = 41, height = 31;
    const Bytes pixels = picture(width, height, [](std::uint32_t x, std::uint32_t y) {
        return y != 15 ? kBlue : x == 20 ? kRed : x == 30 ? kGreen : kBlue;
    });
    zelvan::Image image(width, height);
    ASSERT_TRUE(image.upload(pixels.data(), width * 4, pixels.size()));
    const double r = std::sqrt(0.5);
    struct Turn {
        double x, y, z;         // degrees
        double greenX, greenY;  // where the green pixel's centre goes, relative to the centre
    };
    const Turn turns[] = {{0, 0, 0, 60, 0},  {0, 0, 30, 60 * std::sqrt(0.75), 30},
                          {0, 0, 90, 0, 60}, {0, 0, -135, -60 * r, -60 * r},
                          {0, 60, 0, 30, 0}, {45, 0, 90, 0, 60 * r},
                          {180, 0, 0, 60, 0}};
    for (const Turn& turn : turns) {
        zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kSurfaceWidth, 0, kSurfaceHeight, -1000, 1000);  // room for the tilted image
        glMatrixMode(GL_MODELVIEW);
        zelvan::Placement placement;
        placement.centreX = 250.5;
        placement.centreY = 260.5;
        placement.scaleX = placement.scaleY = 6;
        placement.rotateX = turn.x, placement.rotateY = turn.y, placement.rotateZ = turn.z;
        image.place(placement);
        image.draw();
        EXPECT_EQ(pixelAt(250, 260), kRed) << turn.x << ", " << turn.y << ", " << turn.z;
        EXPECT_EQ(pixelAt(int(std::floor(250.5 + turn.greenX)), int(std::floor(260.5 + turn.greenY))), kGreen)
            << turn.x << ", " << turn.y << ", " << turn.z;
    }
    const zelvan::Placement fitted = zelvan::fit(1000, 700, 800, 600);
    EXPECT_DOUBLE_EQ(fitted.scaleX * 1000, 800);
    EXPECT_DOUBLE_EQ(fitted.scaleY * 700, 560);
    EXPECT_EQ(fitted.centreX, 400);
    EXPECT_EQ(fitted.centreY, 300);
    EXPECT_DOUBLE_EQ(zelvan::fit(700, 1000, 800, 600).scaleX * 1000, 600);
}

// How many of the frame's lower-left side x side pixels have red, green and blue all within
// `tolerance` of `grey`.
std::size_t greyPixels(int side, int grey, int tolerance) {
    const Bytes frame = readFrame(side, side);
    std::size_t count = 0;
    for (std::size_t i = 0; i < frame.size(); i += 4)
        count += std::abs(frame[i] - grey) <= tolerance && std::abs(frame[i + 1] - grey) <= tolerance &&
                 std::abs(frame[i + 2] - grey) <= tolerance;
    return count;
}

TEST_F(CxxInterface, PyramidDrawsAFineCheckerboardAtOneEighthAsEvenGrey) {
    // Black and white averaged in linear light: half the light, sRGB 188.
    const std::uint32_t side = 2048;
    const Bytes checkers = picture(side, side, [](std::uint32_t x, std::uint32_t y) {
        return (x + y) % 2 ? kWhite : Rgba{0, 0, 0, 255};
    });
    zelvan::Image image(side, side);
    zelvan::Pyramid pyramid(side, side);
    ASSERT_TRUE(image.upload(checkers.data(), side * 4, checkers.size()));
    ASSERT_TRUE(pyramid.upload(checkers.data(), side * 4, checkers.size()));
    const zelvan::Placement placement = zelvan::fit(side, side, 256, 256);  // 1/8
    image.place(placement);
    pyramid.place(placement);
    EXPECT_EQ(pyramid.levelFor(1.0), 3u);

    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    pyramid.draw();
    EXPECT_EQ(greyPixels(256, 188, 1), 256u * 256u);
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    image.draw();
    EXPECT_LT(greyPixels(256, 188, 40), 256u * 256u / 2) << "the image alone should show no grey";
}

TEST_F(CxxInterface, PyramidAtOneToOneOrLargerIsPixelIdenticalToTheImage) {
    const std::uint32_t width = 700, height = 600;
    const Bytes pixels = picture(width, height, [](std::uint32_t x, std::uint32_t y) {
        return Rgba{std::uint8_t(x * 7 + y), std::uint8_t(x ^ y), std::uint8_t(y * 3),
                    std::uint8_t(x * y + 100)};
    });
    zelvan::Image image(width, height);
    zelvan::Pyramid pyramid(width, height);
    ASSERT_TRUE(image.upload(pixels.data(), width * 4, pixels.size()));
    ASSERT_TRUE(pyramid.upload(pixels.data(), width * 4, pixels.size()));
    for (const double scale : {1.0, 1.7}) {
        zelvan::Placement placement;
        placement.centreX = 250, placement.centreY = 270;
        placement.scaleX = placement.scaleY = scale;
        placement.rotateZ = 10 * scale;
        placement.alpha = 200;
        image.place(placement);
        pyramid.place(placement);
        zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 0.2f, 0.4f, 0.6f);
        image.draw();
        const Bytes imageFrame = readFrame(kSurfaceWidth, kSurfaceHeight);
        zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 0.2f, 0.4f, 0.6f);
        pyramid.draw();
        EXPECT_TRUE(readFrame(kSurfaceWidth, kSurfaceHeight) == imageFrame) << "scale " << scale;
    }
}

TEST_F(CxxInterface, PyramidLevelsTakeNoColourFromTransparentPixels) {
    // Columns of opaque white between transparent black: half-transparent white one level down, so
    // drawn over white the picture stays white.
    const std::uint32_t side = 64;
    const Bytes stripes = picture(side, side, [](std::uint32_t x, std::uint32_t) {
        return x % 2 ? Rgba{0, 0, 0, 0} : kWhite;
    });
    zelvan::Pyramid pyramid(side, side);
    ASSERT_TRUE(pyramid.upload(stripes.data(), side * 4, stripes.size()));
    pyramid.place(zelvan::fit(side, side, side / 2, side / 2));  // level 1, one to one
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight, 1, 1, 1);
    pyramid.draw();
    EXPECT_EQ(greyPixels(side / 2, 255, 1), std::size_t{side / 2} * (side / 2));
    zelvan_support::setUpOrtho(kSurfaceWidth, kSurfaceHeight);
    pyramid.draw();
    EXPECT_EQ(greyPixels(side / 2, 128, 1), std::size_t{side / 2} * (side / 2)) << "alpha should be one half";
}

}  // namespace

// zelvan_levels.hpp's halving rule is the one a Pyramid's levels follow: each level ceil(side / 2^k), the
// next one always a halving of it, down to 1 x 1 at levelCount - 1, and nothing past that.
TEST_F(CxxInterface, PyramidLevelsFollowTheHalvingRuleOfZelvanLevels) {
    for (const auto size : {std::array<std::uint32_t, 2>{1, 1}, {2, 1}, {7, 3}, {513, 1025}, {1000, 9}}) {
        const zelvan::Pyramid pyramid(size[0], size[1]);
        ASSERT_TRUE(pyramid);
        ASSERT_EQ(pyramid.levels(), zelvan::levelCount(size[0], size[1]));
        for (std::size_t k = 0; k < pyramid.levels(); ++k) {
            const zelvan::Image& level = pyramid.level(k);
            for (int axis = 0; axis < 2; ++axis) {
                const std::uint32_t side = axis == 0 ? level.width() : level.height();
                EXPECT_EQ(side, (size[axis] + (std::uint64_t{1} << k) - 1) >> k) << size[axis] << " at " << k;
                EXPECT_EQ(zelvan::levelSide(size[axis], k), side);
                if (k > 0) {
                    const zelvan::Image& finer = pyramid.level(k - 1);
                    EXPECT_TRUE(zelvan::isHalving(axis == 0 ? finer.width() : finer.height(), side));
                }
            }
        }
        const zelvan::Image& last = pyramid.level(pyramid.levels() - 1);
        EXPECT_EQ(std::max(last.width(), last.height()), 1u);
    }
    EXPECT_EQ(zelvan::levelCount(0xFFFFFFFFu, 1), 33u);
    EXPECT_LE(zelvan::levelCount(0xFFFFFFFFu, 1), zelvan::kMaxLevels);
    EXPECT_EQ(zelvan::levelSide(0xFFFFFFFFu, 32), 1u);
    // Either rounding is a halving; one pixel off either is not, unless allowed as slack.
    EXPECT_TRUE(zelvan::isHalving(7, 3) && zelvan::isHalving(7, 4) && zelvan::isHalving(8, 4));
    EXPECT_FALSE(zelvan::isHalving(7, 2) || zelvan::isHalving(7, 5) || zelvan::isHalving(8, 5));
    EXPECT_TRUE(zelvan::isHalving(7, 2, 1) && zelvan::isHalving(7, 5, 1) && zelvan::isHalving(0, 1, 1));
    EXPECT_FALSE(zelvan::isHalving(7, 6, 1) || zelvan::isHalving(0xFFFFFFFFu, 0xFFFFFFFFu, 1));
}
