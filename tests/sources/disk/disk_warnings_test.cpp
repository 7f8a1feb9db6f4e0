// A warning refuses no picture that decodes: files damaged in their metadata, or with damage the
// decoder goes past, open and give their pixels, and the warning is told once, naming the file; pixels
// that cannot be decoded still fail, and in a tiled file only the tiles they are in.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vips/vips8>

#include "damaged_pictures.h"
#include "run_program.h"
#include "zelvan_sources_bands.hpp"

using demo_test::ScratchDir;
using vips::VImage;

namespace {

constexpr int kWidth = 64, kHeight = 48;

std::uint8_t sample(int x, int y, int band) {
    return std::uint8_t(band == 0 ? x * 4 : band == 1 ? y * 5 : 128);
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

using damaged_pictures::bigEndian;
using damaged_pictures::pngChunk;

// An 8-bit RGB PNG of the test pattern with `before` (chunks) ahead of its pixels, whose compressed
// stream holds `extraRows` rows more than the picture has.
std::string png(const std::string& before, int extraRows = 0) {
    std::string raw;
    for (int y = 0; y < kHeight + extraRows; ++y) {
        raw += '\0';  // no filter
        for (int x = 0; x < kWidth; ++x)
            for (int b = 0; b < 3; ++b) raw += char(sample(x, y % kHeight, b));
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    packed.resize(size);
    const std::string header =
        bigEndian(kWidth) + bigEndian(kHeight) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + before +
           pngChunk("IDAT", packed) + pngChunk("IEND", "");
}

VImage pattern() {
    std::vector<std::uint8_t> data;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int b = 0; b < 3; ++b) data.push_back(sample(x, y, b));
    return VImage(
        vips_image_new_from_memory_copy(data.data(), data.size(), kWidth, kHeight, 3, VIPS_FORMAT_UCHAR));
}

// The offsets of a little-endian classic TIFF's directories, and of the fields of the first.
std::uint32_t word(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
std::uint16_t half(const std::string& b, std::size_t at) {
    std::uint16_t v = 0;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
std::vector<std::uint32_t> directories(const std::string& tiff) {
    std::vector<std::uint32_t> found;
    for (std::uint32_t at = word(tiff, 4); at != 0 && found.size() < 64;
         at = word(tiff, at + 2 + 12 * half(tiff, at)))
        found.push_back(at);
    return found;
}
void setWord(std::string& b, std::size_t at, std::uint32_t v) { std::memcpy(&b[at], &v, 4); }

class DiskWarnings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
        options.warning = [this](const std::string& line) {
            const std::lock_guard<std::mutex> lock(mutex);
            told.push_back(line);
        };
    }

    // Opens `path` both ways, as tiles and in bands, and checks every pixel against the pattern.
    void expectPattern(const std::string& path, int tolerance = 0) {
        zelvan::sources::Opened tiles = zelvan::sources::open(path, options);
        ASSERT_TRUE(tiles) << tiles.error;
        std::vector<std::uint8_t> fromTiles(kWidth * kHeight * 4), fromBands(kWidth * kHeight * 4);
        ASSERT_TRUE(tiles.source->read(0, 0, 0, kWidth, kHeight, fromTiles.data(), kWidth * 4))
            << tiles.source->lastError();
        zelvan::sources::OpenedBands bands = zelvan::sources::openBands(path, options);
        ASSERT_TRUE(bands) << bands.error;
        ASSERT_EQ(bands.reader->readRows(fromBands.data(), kWidth * 4, kHeight), std::uint32_t(kHeight))
            << bands.reader->error();
        std::size_t wrong = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int b = 0; b < 3; ++b)
                    for (const auto* pixels : {&fromTiles, &fromBands})
                        wrong += std::abs((*pixels)[std::size_t(y * kWidth + x) * 4 + 2 - b] -
                                          sample(x, y, b)) > tolerance;
        EXPECT_EQ(wrong, 0u) << path;
    }

    // The lines told for `path`: exactly one, which says `mentions`.
    void expectToldOnce(const std::string& path, const std::string& mentions) {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> lines;
        for (const std::string& line : told)
            if (line.rfind(path + ": ", 0) == 0) lines.push_back(line);
        ASSERT_EQ(lines.size(), 1u) << path << ": " << ::testing::PrintToString(told);
        EXPECT_NE(lines[0].find(mentions), std::string::npos) << lines[0];
        EXPECT_EQ(lines[0].find('\n'), std::string::npos) << lines[0];
    }

    ScratchDir scratch;
    zelvan::sources::OpenOptions options;
    std::mutex mutex;
    std::vector<std::string> told;
};

TEST_F(DiskWarnings, DamageThatLeavesThePixelsReadableIsToldNotRefused) {
    std::vector<std::pair<std::string, std::string>> cases;  // file, what its warning says
    const auto add = [&](const std::string& name, const std::string& bytes, const std::string& mentions) {
        writeBytes(scratch.file(name), bytes);
        cases.emplace_back(scratch.file(name), mentions);
    };
    add("iccp.png", png(pngChunk("iCCP", std::string("profile\0\0\x78\x9c", 10) + "not deflated at all")),
        "iCCP");
    add("trns.png", png(pngChunk("tRNS", std::string("\0\1\2", 3))), "tRNS");
    add("extra.png", png("", 3), "IDAT");

    const std::string jpeg = scratch.file("clean.jpg");
    pattern().jpegsave(jpeg.c_str(),
                       VImage::option()->set("Q", 100)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));
    std::string junk = bytesOf(jpeg);
    junk.insert(junk.find("\xff\xda"), "junk!");
    add("junk.jpg", junk, "extraneous bytes before marker");

    const std::string pyramid = scratch.file("clean.tif");
    pattern().tiffsave(pyramid.c_str(), VImage::option()
                                            ->set("tile", true)
                                            ->set("pyramid", true)
                                            ->set("tile_width", 16)
                                            ->set("tile_height", 16));
    std::string looping = bytesOf(pyramid);
    const std::vector<std::uint32_t> pages = directories(looping);
    ASSERT_GE(pages.size(), 2u);
    setWord(looping, pages.back() + 2 + 12 * half(looping, pages.back()),
            pages.front());  // the last leads back
    add("loop.tif", looping, "looping");

    std::string counted = bytesOf(pyramid);
    for (std::uint32_t at = pages.front() + 2, n = 0; n < half(counted, pages.front()); ++n, at += 12)
        if (half(counted, at) == 296) setWord(counted, at + 4, 2);  // ResolutionUnit, one value, said two
    add("count.tif", counted, "ResolutionUnit");

    for (const auto& [path, mentions] : cases) {
        SCOPED_TRACE(path);
        expectPattern(path, path.find(".jpg") != std::string::npos ? 3 : 0);
        expectToldOnce(path, mentions);
    }
}

// libvips' own AVIF writer leaves a colour description its reader does not use, and says so.
TEST_F(DiskWarnings, AvifWithAColourDescriptionItIgnoresIsShown) {
    const std::string avif = scratch.file("pattern.avif");
    try {
        pattern().heifsave(
            avif.c_str(),
            VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)->set("lossless", true));
    } catch (const vips::VError&) {
        GTEST_SKIP() << "this libvips writes no AVIF";
    }
    expectPattern(avif, 8);
    expectToldOnce(avif, "nclx");
}

TEST_F(DiskWarnings, PixelsThatCannotBeDecodedStillFailOnlyWhereTheyAre) {
    // A PNG cut short: read whole, the rows above the cut are shown (truncated_view_test.cpp looks at
    // them) and it is said once; read in sequence, where libvips would go on to the last row its header
    // claims, the cut fails.
    const std::string cut = scratch.file("cut.png");
    std::string bytes = png("");
    writeBytes(cut, bytes.substr(0, bytes.size() / 2));
    zelvan::sources::OpenedBands bands = zelvan::sources::openBands(cut, options);
    ASSERT_TRUE(bands) << bands.error;
    std::vector<std::uint8_t> pixels(kWidth * kHeight * 4);
    EXPECT_EQ(bands.reader->readRows(pixels.data(), kWidth * 4, kHeight), 0u);
    EXPECT_EQ(bands.reader->error().rfind(cut + ": ", 0), 0u) << bands.reader->error();
    zelvan::sources::Opened tiles = zelvan::sources::open(cut, options);
    ASSERT_TRUE(tiles) << tiles.error;
    EXPECT_TRUE(tiles.source->read(0, 0, 0, kWidth, kHeight, pixels.data(), kWidth * 4))
        << tiles.source->lastError();
    expectToldOnce(cut, "");
    told.clear();

    // The first tile's compressed data overwritten: that tile fails, the one beside it is read.
    const std::string tiled = scratch.file("tiled.tif");
    pattern().tiffsave(tiled.c_str(), VImage::option()
                                          ->set("tile", true)
                                          ->set("tile_width", 32)
                                          ->set("tile_height", 32)
                                          ->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE));
    std::string damaged = bytesOf(tiled);
    for (std::size_t i = 16; i < 80; ++i) damaged[i] = char(i * 37);
    writeBytes(tiled, damaged);
    tiles = zelvan::sources::open(tiled, options);
    ASSERT_TRUE(tiles) << tiles.error;
    EXPECT_FALSE(tiles.source->read(0, 0, 0, 32, 32, pixels.data(), 32 * 4));
    EXPECT_NE(tiles.source->lastError().find("Decoding error"), std::string::npos)
        << tiles.source->lastError();
    ASSERT_TRUE(tiles.source->read(0, 32, 0, 32, 32, pixels.data(), 32 * 4)) << tiles.source->lastError();
    EXPECT_EQ(pixels[2], sample(32, 0, 0));
    EXPECT_EQ(pixels[(31 * 32 + 31) * 4 + 1], sample(63, 31, 1));
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(told.empty()) << ::testing::PrintToString(told);  // a failure is no warning
}

// Two pyramids written at once: one waits at its first step, its collector of libvips' workers open,
// while the other is written whole; what the second's workers log as they decode its pixels (too
// much image data) is still its own, and the first's is its own.
TEST_F(DiskWarnings, PyramidsWrittenAtOnceAreEachToldTheirOwn) {
    // A JPEG's notes would do for the first but for libvips' one error buffer, where they wait for
    // whichever picture looks next (vips_session.h): a bad tRNS chunk, then, after the header.
    const std::string first = scratch.file("large-trns.png"), second = scratch.file("overlong.png");
    pattern().zoom(16, 16).pngsave(first.c_str());
    std::string damaged = bytesOf(first);
    damaged.insert(33, pngChunk("tRNS", std::string("\0\1\2", 3)));
    writeBytes(first, damaged);
    writeBytes(second, png("", 3));

    damaged_pictures::Told toldFirst, toldSecond;
    damaged_pictures::PausedPyramid paused(first, scratch.file("first.tif"), toldFirst);
    zelvan::sources::OpenOptions secondOptions;
    secondOptions.warning = toldSecond.handler();
    std::string secondError;
    EXPECT_TRUE(zelvan::sources::writePyramid(second, scratch.file("second.tif"), secondOptions, secondError))
        << secondError;
    paused.finish();
    toldFirst.expectOwn(first, "tRNS");
    toldSecond.expectOwn(second, "IDAT");
}

}  // namespace
