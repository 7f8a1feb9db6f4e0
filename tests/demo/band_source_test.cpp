// Band decoding checked pixel by pixel: TIFFs of every supported layout and orientation written
// here with libtiff, PNGs and JPEGs in small bands against one read, and damaged files of every
// format, which must end in one clear line, never a crash.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "grid_image.h"
#include "image_decoders.h"
#include "picture_files.h"
#include "program.h"
#include "run_program.h"

using namespace demo_test;
using Bgra = std::array<std::uint8_t, 4>;

namespace {

struct Decoded {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> bgra;
};

// All rows, in bands of `band` rows (odd, so that bands and the file's strips or tiles disagree)
// into rows with padding after them, as a caller with a pitch of its own would ask.
Decoded decodeInBands(zelvan_demo::BandSource& source, std::uint32_t band) {
    Decoded out{source.width(), source.height(), {}};
    const std::size_t rowBytes = std::size_t{out.width} * 4, pitch = rowBytes + 12;
    std::vector<std::uint8_t> buffer(pitch * band);
    for (std::uint32_t done = 0; done < out.height;) {
        const std::uint32_t rows = source.readRows(buffer.data(), pitch, band);
        EXPECT_EQ(rows, std::min(band, out.height - done));
        if (rows == 0) break;
        for (std::uint32_t r = 0; r < rows; ++r)
            out.bgra.insert(out.bgra.end(), &buffer[r * pitch], &buffer[r * pitch + rowBytes]);
        done += rows;
    }
    EXPECT_EQ(source.readRows(buffer.data(), pitch, band), 0u);
    return out;
}

void expectPixels(const Decoded& decoded, const std::function<Bgra(std::uint32_t, std::uint32_t)>& expected,
                  int tolerance = 0) {
    std::size_t wrong = 0;
    for (std::uint32_t y = 0; y < decoded.height; ++y)
        for (std::uint32_t x = 0; x < decoded.width; ++x) {
            const Bgra want = expected(x, y);
            const std::uint8_t* got = &decoded.bgra[(std::size_t{y} * decoded.width + x) * 4];
            for (int c = 0; c < 4; ++c)
                if (std::abs(got[c] - want[c]) > tolerance && wrong++ == 0)
                    ADD_FAILURE() << "first wrong pixel (" << x << ", " << y << ") channel " << c << ": "
                                  << int(got[c]) << " instead of " << int(want[c]);
        }
    EXPECT_EQ(wrong, 0u) << "wrong channel values";
}

// Names each case of a parameterised suite by its `name` field.
const auto caseName = [](const auto& test) { return std::string(test.param.name); };

// ---- TIFF layouts, each written with libtiff and expected as the TIFF format defines it ----

constexpr std::uint32_t kWidth = 45, kHeight = 37;

unsigned colours(std::uint16_t photometric) {
    return photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ? 3
           : photometric == PHOTOMETRIC_SEPARATED                             ? 4
                                                                              : 1;
}

// Stored sample k of stored pixel (x, y): distinct along both axes; 16-bit samples carry noise in
// their low byte, which must be dropped; associated alpha is 51, a fifth, with colours below it.
std::uint16_t storedSample(const TiffLayout& layout, std::uint32_t x, std::uint32_t y, unsigned k) {
    const unsigned value = (x * 3 + y + k * 30) & 0xFF;
    if (layout.extraSample == EXTRASAMPLE_ASSOCALPHA)
        return std::uint16_t(k >= colours(layout.photometric) ? 51 : value % 52);
    if (layout.bits == 16) return std::uint16_t(value << 8 | ((x * 7 + y) & 0xFF));
    return std::uint16_t(value >> (8 - layout.bits));
}

Bgra expectedPixel(const TiffLayout& layout, std::uint32_t x, std::uint32_t y) {
    const auto eight = [&](unsigned k) -> unsigned {
        const unsigned s = storedSample(layout, x, y, k);
        return layout.bits == 16 ? s >> 8 : s * 255 / ((1u << layout.bits) - 1);
    };
    const std::size_t entries = std::size_t{1} << layout.bits;
    Bgra bgra{};
    switch (layout.photometric) {
        case PHOTOMETRIC_MINISBLACK:
            bgra = Bgra{std::uint8_t(eight(0)), std::uint8_t(eight(0)), std::uint8_t(eight(0))};
            break;
        case PHOTOMETRIC_MINISWHITE:
            bgra.fill(std::uint8_t(255 - eight(0)));
            break;
        case PHOTOMETRIC_PALETTE:
            for (int c = 0; c < 3; ++c)
                bgra[c] =
                    std::uint8_t(layout.colormap[(2 - c) * entries + storedSample(layout, x, y, 0)] >> 8);
            break;
        case PHOTOMETRIC_SEPARATED:
            for (int c = 0; c < 3; ++c) bgra[c] = std::uint8_t((255 - eight(2 - c)) * (255 - eight(3)) / 255);
            break;
        default:
            for (int c = 0; c < 3; ++c) bgra[c] = std::uint8_t(eight(2 - c));
    }
    bgra[3] = 255;
    if (layout.samples > colours(layout.photometric) && layout.extraSample != EXTRASAMPLE_UNSPECIFIED) {
        bgra[3] = std::uint8_t(eight(colours(layout.photometric)));
        if (layout.extraSample == EXTRASAMPLE_ASSOCALPHA)
            for (int c = 0; c < 3; ++c) bgra[c] = std::uint8_t(bgra[c] * 5);
    }
    return bgra;
}

// Tiled layouts are BigTIFFs, stripped ones classic TIFFs with strips of five rows.
TiffLayout layoutOf(std::uint16_t photometric, std::uint16_t samples, std::uint16_t bits,
                    std::uint32_t tileSize, int extraSample = -1,
                    std::uint16_t compression = COMPRESSION_NONE) {
    TiffLayout layout;
    layout.width = kWidth, layout.height = kHeight, layout.photometric = photometric,
    layout.samples = samples;
    layout.bits = bits, layout.tileSize = tileSize, layout.bigTiff = tileSize != 0, layout.rowsPerStrip = 5;
    layout.extraSample = extraSample, layout.compression = compression;
    for (int c = 0; c < 3 && photometric == PHOTOMETRIC_PALETTE; ++c)
        for (unsigned i = 0; i < (1u << bits); ++i)
            layout.colormap.push_back(std::uint16_t(((i * 53 + c * 90) & 255) * 257));
    return layout;
}

std::string writeTestTiff(const ScratchDir& dir, const TiffLayout& layout) {
    const std::string path = dir.file("in.tif");
    writeTiff(path, layout, [&](std::uint32_t y, std::uint16_t* samples) {
        for (std::uint32_t x = 0; x < layout.width; ++x)
            for (unsigned k = 0; k < layout.samples; ++k) *samples++ = storedSample(layout, x, y, k);
    });
    return path;
}

// Sized to whole tiles: JPEG would blur the zeros of the padding into the picture's edges.
TiffLayout wholeTiles(TiffLayout layout) {
    layout.width = 48, layout.height = 32;
    return layout;
}

struct TiffCase {
    const char* name;
    TiffLayout layout;
    int tolerance;
};

const TiffCase kTiffCases[] = {
    {"RgbStrips", layoutOf(PHOTOMETRIC_RGB, 3, 8, 0), 0},
    {"RgbTiles", layoutOf(PHOTOMETRIC_RGB, 3, 8, 16), 0},
    {"GreyLzw", layoutOf(PHOTOMETRIC_MINISBLACK, 1, 8, 0, -1, COMPRESSION_LZW), 0},
    {"MinIsWhite4Bit", layoutOf(PHOTOMETRIC_MINISWHITE, 1, 4, 16), 0},
    {"Bilevel", layoutOf(PHOTOMETRIC_MINISBLACK, 1, 1, 0), 0},
    {"GreyAlphaDeflate",
     layoutOf(PHOTOMETRIC_MINISBLACK, 2, 8, 16, EXTRASAMPLE_UNASSALPHA, COMPRESSION_ADOBE_DEFLATE), 0},
    {"Rgba", layoutOf(PHOTOMETRIC_RGB, 4, 8, 0, EXTRASAMPLE_UNASSALPHA), 0},
    {"RgbaAssociated", layoutOf(PHOTOMETRIC_RGB, 4, 8, 16, EXTRASAMPLE_ASSOCALPHA), 0},
    {"RgbWithAnUnspecifiedExtraSample", layoutOf(PHOTOMETRIC_RGB, 4, 8, 0, EXTRASAMPLE_UNSPECIFIED), 0},
    {"Palette8", layoutOf(PHOTOMETRIC_PALETTE, 1, 8, 16), 0},
    {"Palette4", layoutOf(PHOTOMETRIC_PALETTE, 1, 4, 0), 0},
    {"Grey16", layoutOf(PHOTOMETRIC_MINISBLACK, 1, 16, 0), 0},
    {"Rgba16", layoutOf(PHOTOMETRIC_RGB, 4, 16, 16, EXTRASAMPLE_UNASSALPHA), 0},
    {"Cmyk", layoutOf(PHOTOMETRIC_SEPARATED, 4, 8, 0), 0},
    {"JpegYCbCr", wholeTiles(layoutOf(PHOTOMETRIC_YCBCR, 3, 8, 16, -1, COMPRESSION_JPEG)), 10},
};

class TiffLayouts : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffLayouts, DecodeToTheExpectedPixels) {
    const TiffLayout& layout = GetParam().layout;
    ScratchDir dir;
    const Decoded decoded = decodeInBands(*zelvan_demo::openBandSource(writeTestTiff(dir, layout)), 7);
    ASSERT_EQ(decoded.width, layout.width);
    ASSERT_EQ(decoded.height, layout.height);
    expectPixels(
        decoded, [&](std::uint32_t x, std::uint32_t y) { return expectedPixel(layout, x, y); },
        GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(All, TiffLayouts, ::testing::ValuesIn(kTiffCases), caseName);

// Where output pixel (x, y) is stored, as (column, row), by the orientation tag's definition:
// 5 to 8 store the picture's columns as rows.
std::pair<std::uint32_t, std::uint32_t> storedAt(int orientation, std::uint32_t x, std::uint32_t y) {
    const std::uint32_t w = kWidth - 1, h = kHeight - 1;
    switch (orientation) {
        case 2:
            return {w - x, y};
        case 3:
            return {w - x, h - y};
        case 4:
            return {x, h - y};
        case 5:
            return {y, x};
        case 6:
            return {y, h - x};
        case 7:
            return {w - y, h - x};
        case 8:
            return {w - y, x};
        default:
            return {x, y};
    }
}

// Orientation, tiles or strips, and the window size (the smallest makes a window per strip, tile
// row or column).
class TiffOrientations : public ::testing::TestWithParam<std::tuple<int, bool, std::uint64_t>> {};

TEST_P(TiffOrientations, TurnThePictureUpright) {
    const auto [orientation, tiled, windowBytes] = GetParam();
    TiffLayout layout = layoutOf(PHOTOMETRIC_RGB, 3, 8, tiled ? 16 : 0);
    layout.orientation = std::uint16_t(orientation);
    ScratchDir dir;
    const Decoded decoded =
        decodeInBands(*zelvan_demo::openTiffBands(writeTestTiff(dir, layout), windowBytes), 7);
    ASSERT_EQ(decoded.width, orientation >= 5 ? kHeight : kWidth);
    ASSERT_EQ(decoded.height, orientation >= 5 ? kWidth : kHeight);
    expectPixels(decoded, [&](std::uint32_t x, std::uint32_t y) {
        const auto [column, row] = storedAt(orientation, x, y);
        return expectedPixel(layout, column, row);
    });
}

INSTANTIATE_TEST_SUITE_P(All, TiffOrientations,
                         ::testing::Combine(::testing::Range(1, 9), ::testing::Bool(),
                                            ::testing::Values(zelvan_demo::kTiffWindowBytes,
                                                              std::uint64_t{1})));

// ---- PNG and JPEG: small bands with a pitch of their own equal one read of the whole picture ----

Picture varied() {
    Picture picture(61, 43);
    for (std::uint32_t y = 0; y < picture.height; ++y)
        for (std::uint32_t x = 0; x < picture.width; ++x)
            picture.at(x, y) = {std::uint8_t(x * 4), std::uint8_t(y * 5), std::uint8_t(x * y),
                                std::uint8_t(x + y * 3)};
    return picture;
}

struct FileCase {
    const char* name;
    std::function<void(const std::string&)> write;
};

const FileCase kWholeImageCases[] = {
    {"PngRgba", [](const std::string& path) { writePng(path, varied(), PngKind::Rgba); }},
    {"PngGrey", [](const std::string& path) { writePng(path, varied(), PngKind::Grey); }},
    {"PngInterlaced", [](const std::string& path) { writeGridPng(path, 1203, 37, true); }},
    {"JpegColour", [](const std::string& path) { writeJpeg(path, varied(), JpegKind::Colour); }},
    {"JpegGrey", [](const std::string& path) { writeJpeg(path, varied(), JpegKind::Grey); }},
    {"JpegCmyk", [](const std::string& path) { writeJpeg(path, varied(), JpegKind::Cmyk); }},
};

class PngAndJpeg : public ::testing::TestWithParam<FileCase> {};

TEST_P(PngAndJpeg, BandsEqualOneReadOfTheWholePicture) {
    ScratchDir dir;
    const std::string path = dir.file("picture");
    GetParam().write(path);
    const auto once = zelvan_demo::openBandSource(path);
    const Decoded whole = decodeInBands(*once, once->height());
    const Decoded decoded = decodeInBands(*zelvan_demo::openBandSource(path), 7);
    ASSERT_EQ(decoded.width, whole.width);
    ASSERT_EQ(decoded.height, whole.height);
    expectPixels(decoded, [&](std::uint32_t x, std::uint32_t y) {
        Bgra pixel;
        std::memcpy(pixel.data(), &whole.bgra[(std::size_t{y} * whole.width + x) * 4], 4);
        return pixel;
    });
}

INSTANTIATE_TEST_SUITE_P(All, PngAndJpeg, ::testing::ValuesIn(kWholeImageCases), caseName);

// ---- Damaged, hostile and unsupported files ----

// A classic little-endian TIFF whose one directory holds `tags`, each a single LONG, followed by
// 256 bytes of pixels; a strip or tile offset given as 0 is set to those pixels.
void writeRawTiff(const std::string& path, std::map<std::uint16_t, std::uint32_t> tags) {
    std::vector<std::uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i) bytes.push_back(std::uint8_t(value >> (8 * i)));
    };
    const auto dataStart = std::uint32_t(8 + 2 + 12 * tags.size() + 4);
    put(std::uint32_t(tags.size()), 2);
    for (auto& [tag, value] : tags) {
        if ((tag == TIFFTAG_STRIPOFFSETS || tag == TIFFTAG_TILEOFFSETS) && value == 0) value = dataStart;
        put(tag, 2), put(TIFF_LONG, 2), put(1, 4), put(value, 4);
    }
    put(0, 4);
    bytes.resize(bytes.size() + 256, 0x80);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// 8-bit grey, 16 x 16, in one strip or one tile, with `changes` applied.
void writeGreyTiff(const std::string& path, bool tiled,
                   const std::map<std::uint16_t, std::uint32_t>& changes) {
    std::map<std::uint16_t, std::uint32_t> tags = {{TIFFTAG_IMAGEWIDTH, 16},
                                                   {TIFFTAG_IMAGELENGTH, 16},
                                                   {TIFFTAG_BITSPERSAMPLE, 8},
                                                   {TIFFTAG_COMPRESSION, 1},
                                                   {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                                                   {TIFFTAG_SAMPLESPERPIXEL, 1}};
    if (tiled)
        tags.insert({{TIFFTAG_TILEWIDTH, 16},
                     {TIFFTAG_TILELENGTH, 16},
                     {TIFFTAG_TILEOFFSETS, 0},
                     {TIFFTAG_TILEBYTECOUNTS, 256}});
    else
        tags.insert({{TIFFTAG_STRIPOFFSETS, 0}, {TIFFTAG_ROWSPERSTRIP, 16}, {TIFFTAG_STRIPBYTECOUNTS, 256}});
    for (const auto& [tag, value] : changes) tags[tag] = value;
    writeRawTiff(path, tags);
}

void overwriteMiddle(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(16);
    for (int i = 0; i < 200; ++i) file.put(char(i * 37));
}

struct BadCase {
    const char* name;
    std::function<void(const std::string&)> write;
    const char* mentions;
};

const BadCase kBadCases[] = {
    {"NotAnImage", [](const std::string& p) { std::ofstream(p) << "II*"; }, "not a PNG, JPEG or TIFF"},
    {"TruncatedTiledTiff",
     [](const std::string& p) {
         writeTiff(p, layoutOf(PHOTOMETRIC_RGB, 3, 8, 16),
                   [](std::uint32_t, std::uint16_t* s) { std::fill_n(s, kWidth * 3, 9); });
         truncateFile(p, 0.5);
     },
     "truncated"},
    {"TruncatedStrippedTiff",
     [](const std::string& p) {
         writeTiff(p, layoutOf(PHOTOMETRIC_MINISBLACK, 1, 8, 0),
                   [](std::uint32_t, std::uint16_t* s) { std::fill_n(s, kWidth, 9); });
         truncateFile(p, 0.7);
     },
     "truncated"},
    {"TileOffsetPastTheEnd",
     [](const std::string& p) {
         writeGreyTiff(p, true, {{TIFFTAG_TILEOFFSETS, 1u << 30}});
     },
     "tile 0 lies past the end"},
    {"StripLongerThanTheFile",
     [](const std::string& p) {
         // Compressed, so that libtiff does not cut the strip into rows of the size it computes.
         writeGreyTiff(p, false,
                       {{TIFFTAG_STRIPBYTECOUNTS, 1u << 30}, {TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS}});
     },
     "strip 0 lies past the end"},
    {"CorruptDeflateTiles",
     [](const std::string& p) {
         writeTiff(p, layoutOf(PHOTOMETRIC_RGB, 3, 8, 16, -1, COMPRESSION_ADOBE_DEFLATE),
                   [](std::uint32_t y, std::uint16_t* s) { std::fill_n(s, kWidth * 3, y); });
         overwriteMiddle(p);
     },
     "cannot decode this TIFF file"},
    {"WidthAndHeightOfFourBillion",
     [](const std::string& p) {
         writeGreyTiff(p, false,
                       {{TIFFTAG_IMAGEWIDTH, 0xffffffffu},
                        {TIFFTAG_IMAGELENGTH, 0xffffffffu},
                        {TIFFTAG_ROWSPERSTRIP, 0xffffffffu}});
     },
     "too large"},
    {"TiffTooWide",
     [](const std::string& p) {
         writeGreyTiff(p, false, {{TIFFTAG_IMAGEWIDTH, 600000000}});
     },
     "too wide"},
    {"QuadrillionTiles",
     [](const std::string& p) {
         writeGreyTiff(p, true, {{TIFFTAG_IMAGEWIDTH, 500000000}, {TIFFTAG_IMAGELENGTH, 500000000}});
     },
     "too large"},
    {"FloatSamples",
     [](const std::string& p) {
         writeGreyTiff(p, false, {{TIFFTAG_BITSPERSAMPLE, 32}, {TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP}});
     },
     "floating-point samples are not supported"},
    {"TwelveBitJpegInTiff",
     [](const std::string& p) {
         writeGreyTiff(p, false, {{TIFFTAG_BITSPERSAMPLE, 12}, {TIFFTAG_COMPRESSION, COMPRESSION_JPEG}});
     },
     "12-bit JPEG-in-TIFF is not supported"},
    {"TruncatedPng",
     [](const std::string& p) {
         writePng(p, varied());
         truncateFile(p, 0.5);
     },
     "truncated"},
    {"PngWithoutItsEndChunk",
     [](const std::string& p) {
         writePng(p, varied());
         std::filesystem::resize_file(p, std::filesystem::file_size(p) - 12);
     },
     "truncated"},
    {"TruncatedJpeg",
     [](const std::string& p) {
         writeJpeg(p, varied());
         truncateFile(p, 0.5);
     },
     "truncated"},
    {"PngClaimingATrillionPixels", [](const std::string& p) { writePngClaimingSize(p, 1000000, 1000000); },
     "cannot decode this PNG file"},
    {"PngTooWide", [](const std::string& p) { writePngClaimingSize(p, 600000000, 2); }, "too wide"},
};

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, EndInOneClearLine) {
    ScratchDir dir;
    const std::string path = dir.file("bad");
    GetParam().write(path);
    try {
        const auto source = zelvan_demo::openBandSource(path);
        std::vector<std::uint8_t> band(std::size_t{source->width()} * 4 * 5);
        while (source->readRows(band.data(), std::size_t{source->width()} * 4, 5) > 0) {
        }
        ADD_FAILURE() << "decoded without an error";
    } catch (const zelvan_demo::DemoError& error) {
        const std::string message = error.what();
        EXPECT_EQ(message.rfind(path + " ", 0) == 0 || message.rfind(path + ":", 0) == 0, true) << message;
        EXPECT_NE(message.find(GetParam().mentions), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(All, BadFiles, ::testing::ValuesIn(kBadCases), caseName);

}  // namespace
