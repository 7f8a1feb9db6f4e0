// zelvan-render on pictures far larger than a band, made here a row at a time: a 20000 x 20000 PNG
// and a 30000 x 20000 tiled, deflated BigTIFF of the grid picture (grid_image.h). The frame must
// show the picture box-filtered, as the two pyramid levels drawn average it (the coarser one with the
// finer over it, blended), and beyond the textures the
// program may hold a few bands, never the picture. Under AddressSanitizer the pictures are smaller
// (still several bands) and the memory goes unchecked: the sanitizer's own memory would swamp it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "grid_image.h"
#include "picture_files.h"
#include "run_program.h"
#include "sanitizers.h"

using namespace demo_test;

namespace {

double linear(double srgb) {
    const double c = srgb / 255;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int encoded(double linearValue) {
    const double c =
        linearValue <= 0.0031308 ? linearValue * 12.92 : 1.055 * std::pow(linearValue, 1 / 2.4) - 0.055;
    return int(std::lround(c * 255));
}

// The grid picture's mean colour over any box, in linear light, from running sums along each side:
// a pixel is white where its column or its row is a line, and otherwise red by column, green by row.
class BoxFilter {
public:
    explicit BoxFilter(const GridImage& grid)
        : columns_(sums(grid.width, [&](std::uint32_t x) { return grid.red(x); })),
          rows_(sums(grid.height, [&](std::uint32_t y) { return grid.green(y); })) {}

    Rgba mean(std::uint32_t x0, std::uint32_t x1, std::uint32_t y0, std::uint32_t y1) const {
        const double plainColumns = columns_[x1].plain - columns_[x0].plain;
        const double plainRows = rows_[y1].plain - rows_[y0].plain;
        const double area = double(x1 - x0) * (y1 - y0), plain = plainColumns * plainRows,
                     white = area - plain;
        const double red = (columns_[x1].colour - columns_[x0].colour) * plainRows + white;
        const double green = (rows_[y1].colour - rows_[y0].colour) * plainColumns + white;
        const double blue = plain * linear(GridImage::kBlue) + white;
        return {std::uint8_t(encoded(red / area)), std::uint8_t(encoded(green / area)),
                std::uint8_t(encoded(blue / area)), 255};
    }

private:
    struct Sum {
        double plain = 0, colour = 0;  // columns (or rows) off the lines so far, their colour in linear light
    };
    template <typename Colour>
    static std::vector<Sum> sums(std::uint32_t count, Colour colour) {
        std::vector<Sum> out(count + 1);
        for (std::uint32_t v = 0; v < count; ++v) {
            const bool line = GridImage::onLine(v);
            out[v + 1] = {out[v].plain + (line ? 0 : 1), out[v].colour + (line ? 0 : linear(colour(v)))};
        }
        return out;
    }
    std::vector<Sum> columns_, rows_;
};

// One side of the level drawn: `size` pixels of the picture in `cells` texels of 2^level pixels
// each, stretched to cover the picture exactly.
struct LevelSide {
    std::uint32_t size, cells, level;
    // The texels a point `at` picture pixels from the edge may fall in: the one it lies in, and
    // the neighbour when it lies within a hair of their border.
    std::vector<std::uint32_t> cellsAt(double at) const {
        const double cell = at * cells / size, nearest = std::round(cell);
        if (std::fabs(cell - nearest) < 0.01 && nearest > 0 && nearest < cells)
            return {std::uint32_t(nearest) - 1, std::uint32_t(nearest)};
        return {std::uint32_t(cell)};
    }
    std::uint32_t first(std::uint32_t cell) const { return cell << level; }
    std::uint32_t end(std::uint32_t cell) const { return std::min(size, (cell + 1) << level); }
};

// The textures of every level of a width x height pyramid: blocks of 512, the last in each row and
// column in a power-of-two texture.
std::uint64_t textureBytes(std::uint32_t width, std::uint32_t height) {
    const auto padded = [](std::uint64_t side) {
        std::uint64_t last = side % 512 == 0 ? 0 : 1;
        while (last < side % 512) last *= 2;
        return side / 512 * 512 + last;
    };
    std::uint64_t bytes = 0;
    for (bool more = true; more; width = (width + 1) / 2, height = (height + 1) / 2) {
        bytes += padded(width) * padded(height) * 4;
        more = width > 1 || height > 1;
    }
    return bytes;
}

struct ScaleCase {
    const char* name;
    std::uint32_t width, height;
    bool tiff;
    std::uint32_t frameWidth, frameHeight;
};

// Sizes divisible by the level's texel, so that every texel averages a whole box.
#if ZT_ADDRESS_SANITIZER
constexpr bool kSanitized = true;
const ScaleCase kCases[] = {{"Png", 3000, 2048, false, 750, 512},
                            {"TiledBigTiff", 4096, 2560, true, 800, 500}};
#else
constexpr bool kSanitized = false;
const ScaleCase kCases[] = {{"Png", 20000, 20000, false, 1000, 1000},
                            {"TiledBigTiff", 30000, 20000, true, 1500, 1000}};
#endif

void PrintTo(const ScaleCase& c, std::ostream* out) { *out << c.name; }

class Scale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(Scale, FrameIsTheBoxFilteredPictureAndMemoryHoldsAFewBands) {
    const ScaleCase& c = GetParam();
    ScratchDir scratch;
    const std::string input = scratch.file(c.tiff ? "in.tif" : "in.png");
    if (c.tiff) {
        TiffLayout layout;
        layout.width = c.width, layout.height = c.height, layout.tileSize = 512;
        layout.compression = COMPRESSION_ADOBE_DEFLATE;
        writeGridTiff(input, layout, GridKind::Rgb);
    } else {
        writeGridPng(input, c.width, c.height);
    }
    const std::string size = std::to_string(c.frameWidth) + "x" + std::to_string(c.frameHeight);
    const ProgramRun run = runProgram(
        {ZELVAN_RENDER_PATH, input, "--size", size, "-o", scratch.file("out.png")}, scratch.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Three band buffers, the pyramid's rows waiting to form bands, the TIFF reader's window (a row
    // of tiles) and one to spare, over what the process holds with a small picture.
    const std::uint64_t band = std::uint64_t{c.width} * 4 * 512, textures = textureBytes(c.width, c.height);
    if (!kSanitized) {
        EXPECT_LE(run.peakResidentBytes, textures + (128u << 20) + 6 * band)
            << "textures " << (textures >> 20) << " MiB, peak " << (run.peakResidentBytes >> 20) << " MiB";
    }

    // The coarser level drawn is the finest whose texels cover a screen pixel; the finer one, one
    // level down, is blended over it, sampled up to half a screen pixel off the pixel's centre.
    const double scale = std::min(double(c.frameWidth) / c.width, double(c.frameHeight) / c.height);
    LevelSide across{c.width, c.width, 0}, down{c.height, c.height, 0};
    LevelSide finerAcross = across, finerDown = down;
    while (std::min(scale * c.width / across.cells, scale * c.height / down.cells) < 1) {
        finerAcross = across, finerDown = down;
        ++across.level, ++down.level;
        across.cells = (across.cells + 1) / 2, down.cells = (down.cells + 1) / 2;
    }
    const BoxFilter filter(GridImage{c.width, c.height});
    const Picture out = readPng(scratch.file("out.png"));
    ASSERT_EQ(out.width, c.frameWidth);
    const double left = (c.frameWidth - c.width * scale) / 2, top = (c.frameHeight - c.height * scale) / 2;
    const double reach = 0.5 / scale;  // half a screen pixel, in picture pixels
    int worst = 0;
    for (std::uint32_t py = 0; py < out.height; ++py)
        for (std::uint32_t px = 0; px < out.width; ++px) {
            const double x = (px + 0.5 - left) / scale, y = (py + 0.5 - top) / scale;
            if (x < reach || y < reach || x > c.width - reach || y > c.height - reach)
                continue;  // frame edges
            // Each channel must lie between the lowest and the highest of the texels blended there.
            int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
            const auto blend = [&](const LevelSide& a, const LevelSide& d, std::uint32_t i, std::uint32_t j) {
                const Rgba m = filter.mean(a.first(j), a.end(j), d.first(i), d.end(i));
                const int v[3] = {m.r, m.g, m.b};
                for (int k = 0; k < 3; ++k)
                    low[k] = std::min(low[k], v[k]), high[k] = std::max(high[k], v[k]);
            };
            for (const std::uint32_t i : down.cellsAt(y))
                for (const std::uint32_t j : across.cellsAt(x)) blend(across, down, i, j);
            if (finerAcross.level != across.level) {
                const auto span = [](const LevelSide& side, double at, double by) {
                    return std::pair<std::uint32_t, std::uint32_t>(side.cellsAt(at - by).front(),
                                                                   side.cellsAt(at + by).back());
                };
                const auto rows = span(finerDown, y, reach), columns = span(finerAcross, x, reach);
                for (std::uint32_t i = rows.first; i <= rows.second; ++i)
                    for (std::uint32_t j = columns.first; j <= columns.second; ++j)
                        blend(finerAcross, finerDown, i, j);
            }
            const Rgba o = out.at(px, py);
            const int got[3] = {o.r, o.g, o.b};
            int off = 0;
            for (int k = 0; k < 3; ++k) off = std::max({off, low[k] - got[k], got[k] - high[k]});
            worst = std::max(worst, off);
            if (off > 2) {
                ADD_FAILURE() << "pixel (" << px << ", " << py << ") of levels " << finerAcross.level
                              << " and " << across.level << " is off by " << off;
                return;
            }
        }
    RecordProperty("worst", worst);
}

INSTANTIATE_TEST_SUITE_P(Giant, Scale, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
