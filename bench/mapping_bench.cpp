// The display mapping of typed pictures:
// - mapping_pass: MappingTables::apply against the plain scalar loop of the same mapping in double, a
//   pow and a log per sample (the tests' reference, tests/mapping/reference_mapping.h), on the same
//   samples: 512 x 512 pixels of 8 16-bit channels, and 1024 x 1024 of one float channel through a
//   colormap. Counters: gsamples_s, samples a second in billions, for both.
// - mapping_change: a 1200 x 800 view of a 50000 x 50000 picture of 8 16-bit channels, fitted, every
//   tile of the frame resident: from a change of one channel's limits to the first complete frame of the
//   new mapping (made from the raw tiles; reads counts the source's reads meanwhile, which must stay 0),
//   against a new view with that mapping reaching its first complete frame (reading every tile); with
//   the default upload share of 4 MiB a draw, and with 32 MiB.
#include <GL/gl.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "contest.h"
#include "gl_pixels.h"
#include "reference_mapping.h"
#include "suites.h"
#include "summary_reporter.h"
#include "typed_tiles.h"
#include "view_frames.h"
#include "zelvan_mapping_tables.hpp"
#include "zelvan_tiles.hpp"

namespace zelvan_bench {

namespace {

constexpr int kViewWidth = 1200, kViewHeight = 800;

// Eight channels as a fluorescence picture's: a colour each, limits within the camera's 12 bits, every
// curve, gammas around 1.
zelvan::DisplayMapping eightChannels(double thirdMax) {
    static const char* const kChannels[] = {"0:#0000FF:100:4000",         "1:#00FF00:200:3900:sqrt",
                                            "2:#FF0000:50:3000:log:0.8",  "3:#FF00FF:0:0:asinh",
                                            "4:#00FFFF:300:4095:-linear", "5:#FFFF00:0:2500:sqrt:1.5",
                                            "6:#FF8000:400:3500:log",     "7:#8080FF:0:4095"};
    zelvan::DisplayMapping m;
    m.channels.resize(8);
    std::string error;
    for (int i = 0; i < 8; ++i) zelvan::parseChannel(kChannels[i], m.channels[std::size_t(i)], error);
    m.channels[3].max = thirdMax;
    return m;
}

// Samples of `source`'s level 0 from (0, 0), width x height, as the view reads them.
std::vector<unsigned char> samplesOf(zelvan_test::TypedTiles& source, std::uint32_t width,
                                     std::uint32_t height) {
    const std::size_t pitch = std::size_t{width} * zelvan::pixelBytes(source.sampleLayout());
    std::vector<unsigned char> samples(pitch * height);
    zelvan::TileReadControl control;
    source.readSamples(0, 0, 0, width, height, samples.data(), pitch, control);
    return samples;
}

// The scalar loop: every pixel through the reference, a pow and a log per sample, in double.
double scalarPass(const zelvan::SampleLayout& layout, const std::vector<unsigned char>& raw,
                  const zelvan::DisplayMapping& m, std::vector<unsigned char>& texels) {
    std::vector<double> pixel(layout.channels);
    const std::size_t size = zelvan::sampleBytes(layout.type);
    const double start = now();
    for (std::size_t p = 0; p < texels.size() / 4; ++p) {
        for (unsigned c = 0; c < layout.channels; ++c) {
            const unsigned char* s = raw.data() + (p * layout.channels + c) * size;
            if (layout.type == zelvan::SampleType::Float32) {
                float v;
                std::memcpy(&v, s, 4);
                pixel[c] = v;
            } else {
                std::uint16_t v;
                std::memcpy(&v, s, 2);
                pixel[c] = v;
            }
        }
        double rgb[3];
        const bool finite = zelvan_test::referencePixel(m, pixel, rgb);
        for (std::size_t k = 0; k < 3; ++k)
            texels[p * 4 + k] =
                static_cast<unsigned char>(finite ? zelvan_test::referenceByte(rgb[2 - k]) : 0);
        texels[p * 4 + 3] = 255;
    }
    return now() - start;
}

void mappingPass(benchmark::State& state, zelvan::SampleLayout layout, std::uint32_t width,
                 std::uint32_t height) {
    zelvan_test::TypedTiles source(width, height, layout);
    zelvan::DisplayMapping m = eightChannels(3000);
    if (layout.channels == 1) {
        m.channels.assign(1, {0, {255, 255, 255}, true, -80, 95, zelvan::Curve::Log, 0.8, false});
        m.colormap = zelvan::Colormap::Viridis;
    }
    zelvan::MappingTables tables;
    const double buildStart = now();
    tables.build(m, layout, nullptr);
    const double buildSeconds = now() - buildStart;
    const std::vector<unsigned char> samples = samplesOf(source, width, height);
    std::vector<unsigned char> texels(std::size_t{width} * height * 4), scalar(texels.size());
    const double count = double(width) * height * layout.channels;
    double fast = 0, slow = 0;
    const Entrant candidate{"tables", [&] {
                                const double start = now();
                                tables.apply(samples.data(), std::size_t{width} * zelvan::pixelBytes(layout),
                                             width, height, texels.data(), std::size_t{width} * 4);
                                const double seconds = now() - start;
                                fast += seconds;
                                return seconds;
                            }};
    const Entrant baseline{"scalar", [&] {
                               const double seconds = scalarPass(layout, samples, m, scalar);
                               slow += seconds;
                               return seconds;
                           }};
    compete(state, candidate, {baseline});
    const double runs = double(state.iterations());
    state.counters["gsamples_s"] = fast > 0 ? count * runs / fast / 1e9 : 0;
    state.counters["scalar_gsamples_s"] = slow > 0 ? count * runs / slow / 1e9 : 0;
    state.counters["build_ms"] = buildSeconds * 1e3;
    int differ = 0;
    for (std::size_t i = 0; i < texels.size(); ++i) differ += std::abs(texels[i] - scalar[i]) > 1;
    if (differ != 0) state.SkipWithError("the tables and the scalar loop differ by more than a level");
}

zelvan::Frame viewFrame() {
    zelvan::Frame frame;
    frame.right = kViewWidth;
    frame.top = kViewHeight;
    return frame;
}

void mappingChange(benchmark::State& state, std::size_t uploadBytesPerFrame) {
    zelvan_test::TypedTiles source(50000, 50000, {zelvan::SampleType::UInt16, 8});
    zelvan::Library library;
    zelvan_support::setUpOrtho(kViewWidth, kViewHeight);
    const zelvan::Placement placement = zelvan::fit(source.width(), source.height(), kViewWidth, kViewHeight);
    zelvan::TileViewOptions options;
    options.uploadBytesPerFrame = uploadBytesPerFrame;
    zelvan::TileView view(source, options);
    view.place(placement);
    bool ok = view.setMapping(eightChannels(3000)) && drawUntilComplete(view, viewFrame());
    double reads = 0, limit = 3000;
    const Entrant change{"change", [&] {
                             limit = limit == 3000 ? 1500 : 3000;
                             const std::uint64_t before = source.reads();
                             const double start = now();
                             ok = view.setMapping(eightChannels(limit)) &&
                                  drawUntilComplete(view, viewFrame()) && ok;
                             const double seconds = now() - start;
                             reads += double(source.reads() - before);
                             return seconds;
                         }};
    const Entrant reread{"reread", [&] {
                             const double start = now();
                             auto fresh = std::make_unique<zelvan::TileView>(source, options);
                             fresh->place(placement);
                             ok = fresh->setMapping(eightChannels(limit)) &&
                                  drawUntilComplete(*fresh, viewFrame()) && ok;
                             return now() - start;  // the view's clean-up is not timed
                         }};
    compete(state, change, {reread});
    state.counters["reads"] = reads / double(state.iterations());
    state.counters["tiles"] = double(view.stats().tilesResident);
    state.counters["raw_mib"] = double(view.stats().rawBytes) / (1 << 20);
    if (!ok) state.SkipWithError("no complete frame");
}

}  // namespace

void registerMappingBenchmarks(const Pace& pace) {
    pace.apply(benchmark::RegisterBenchmark("mapping_pass/uint16_8ch_512x512", mappingPass,
                                            zelvan::SampleLayout{zelvan::SampleType::UInt16, 8}, 512u, 512u),
               2.0);
    pace.apply(
        benchmark::RegisterBenchmark("mapping_pass/float_1ch_1024x1024", mappingPass,
                                     zelvan::SampleLayout{zelvan::SampleType::Float32, 1}, 1024u, 1024u),
        2.0);
    setGoal("mapping_pass/", "scalar", 0.1);
    // The default upload share (4 MiB a draw), and one that takes the whole frame's tiles at once: the
    // frames drawn meanwhile cost most of the time on a software renderer.
    pace.apply(benchmark::RegisterBenchmark("mapping_change/1200x800_of_50000x50000_8ch", mappingChange,
                                            std::size_t{4} << 20),
               3.0);
    pace.apply(benchmark::RegisterBenchmark("mapping_change/1200x800_of_50000x50000_8ch_32MiB_a_draw",
                                            mappingChange, std::size_t{32} << 20),
               3.0);
    setGoal("mapping_change/", "reread", 1.0);
}

}  // namespace zelvan_bench
