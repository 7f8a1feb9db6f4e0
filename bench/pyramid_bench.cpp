// zelvan::Pyramid's upload (the image, then every half-size level made from it in linear light)
// against zelvan::Image's upload of the same pixels: what zooming out without moire costs.
// The ratio depends on where llvmpipe's texture memory comes from. Fresh pages (as after the upload
// suite, about 14000 faults per 4096 x 4096 image) make both uploads slow and the ratio about 1.6;
// recycled pages (this suite run alone) leave the Image almost nothing but a copy, and the levels'
// averaging and their extra third of texture memory then make the ratio 7 to 8.
#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "contest.h"
#include "hand_uploaders.h"
#include "suites.h"
#include "zelvan_pyramid.hpp"

namespace zelvan_bench {

namespace {

// bandRows 0: one upload of the whole buffer; otherwise bands of that many rows, top down.
bool uploadPyramid(zelvan::Pyramid& pyramid, const SourceImage& image, std::uint32_t bandRows) {
    if (bandRows == 0) return pyramid.upload(image.bytes.data(), image.pitch, image.bytes.size());
    bool ok = true;
    for (std::uint32_t row = 0; row < image.height && ok; row += bandRows)
        ok = pyramid.uploadRows(row, std::min(bandRows, image.height - row), image.at(0, row), image.pitch,
                                image.bytes.size() - std::size_t{row} * image.pitch);
    return ok;
}

// opaque: every alpha 255, as in most pictures; otherwise alpha varies from pixel to pixel and every
// average is weighted by it.
void pyramidUpload(benchmark::State& state, std::uint32_t width, std::uint32_t height, std::uint32_t bandRows,
                   bool opaque) {
    SourceImage image(width, height);
    for (std::size_t i = 3; opaque && i < image.bytes.size(); i += 4) image.bytes[i] = 255;
    ZelvanInit();
    bool ok = true;
    std::size_t levels = 0;
    const Entrant pyramid{"pyramid", [&] {
                              zelvan::Pyramid target(width, height);
                              levels = target.levels();
                              return timedGl([&] { ok = uploadPyramid(target, image, bandRows) && ok; });
                          }};
    const Entrant single{"image", [&] {
                             zelvan::Image target(width, height);
                             return timedGl([&] {
                                 ok =
                                     target.upload(image.bytes.data(), image.pitch, image.bytes.size()) && ok;
                             });
                         }};
    compete(state, pyramid, {single});
    state.counters["levels"] = static_cast<double>(levels);
    ZelvanShutdown();
    if (!ok) state.SkipWithError("an upload failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * height * 4);
}

constexpr std::uint32_t kBand = ZELVAN_BLOCK_SIZE;  // rows per band: one block row
constexpr double kFrame = 512;                      // the side of the frame drawn, in pixels

// A frame of the pyramid fitted into kFrame x kFrame, one unit per pixel.
void drawFitted(zelvan::Pyramid& pyramid) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, kFrame, 0, kFrame, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT);
    pyramid.place(zelvan::fit(pyramid.width(), pyramid.height(), kFrame, kFrame));
    pyramid.draw();
}

// What drawing while streaming in costs: bands of kBand rows with a fitted frame after each, whose
// first one gives the blocks still without pixels of the levels drawn a transparent texture, against
// the same bands uploaded without a frame, and against those frames drawn once the upload is done.
void pyramidDrawnWhileLoading(benchmark::State& state, std::uint32_t width, std::uint32_t height) {
    SourceImage image(width, height);
    ZelvanInit();
    bool ok = true;
    const auto bands = [&](zelvan::Pyramid& target, bool drawEach) {
        for (std::uint32_t row = 0; row < height && ok; row += kBand) {
            ok = target.uploadRows(row, std::min(kBand, height - row), image.at(0, row), image.pitch,
                                   image.bytes.size() - std::size_t{row} * image.pitch);
            if (drawEach) drawFitted(target);
        }
    };
    const Entrant drawn{"drawn", [&] {
                            zelvan::Pyramid target(width, height);
                            return timedGl([&] { bands(target, true); });
                        }};
    const Entrant undrawn{"bands", [&] {
                              zelvan::Pyramid target(width, height);
                              return timedGl([&] { bands(target, false); });
                          }};
    const Entrant after{"bands_then_frames", [&] {
                            zelvan::Pyramid target(width, height);
                            return timedGl([&] {
                                bands(target, false);
                                for (std::uint32_t row = 0; row < height; row += kBand) drawFitted(target);
                            });
                        }};
    compete(state, drawn, {undrawn, after});
    ZelvanShutdown();
    if (!ok) state.SkipWithError("an upload failed");
}

}  // namespace

void registerPyramidBenchmarks(const Pace& pace) {
    struct Case {
        const char* name;
        std::uint32_t bandRows;
        bool opaque;
    };
    for (const Case& c :
         {Case{"pyramid_upload/4096x4096", 0, false}, Case{"pyramid_bands/4096x4096", kBand, false},
          Case{"pyramid_opaque/4096x4096", 0, true}})
        pace.apply(benchmark::RegisterBenchmark(c.name, pyramidUpload, 4096u, 4096u, c.bandRows, c.opaque),
                   3.0);
    pace.apply(benchmark::RegisterBenchmark("pyramid_drawn_while_loading/4096x4096", pyramidDrawnWhileLoading,
                                            4096u, 4096u),
               3.0);
}

}  // namespace zelvan_bench
