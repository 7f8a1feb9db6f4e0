// zelvan-render with --channel and --colormap: a two-channel 16-bit picture against the mapping
// computed here from its definition, and the bad mappings that end in one line and status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vips/vips8>

#include "picture_files.h"
#include "run_program.h"

using namespace demo_test;

namespace {

constexpr int kWidth = 96, kHeight = 64;

std::uint16_t nucleus(int x, int y) { return std::uint16_t(x * 400 + y * 37); }
std::uint16_t membrane(int x, int y) { return std::uint16_t(60000 - y * 900 + (x % 5) * 100); }

class RenderMapping : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
        std::vector<std::uint16_t> samples;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) samples.insert(samples.end(), {nucleus(x, y), membrane(x, y)});
        vips::VImage(vips_image_new_from_memory_copy(samples.data(), samples.size() * 2, kWidth, kHeight, 2,
                                                     VIPS_FORMAT_USHORT))
            .tiffsave(input.c_str());
    }
    ProgramRun render(std::vector<std::string> args) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, input, "--size", "96x64", "-o", output});
        return runProgram(args, scratch.path());
    }

    ScratchDir scratch;
    const std::string input = scratch.file("two-channels.tif"), output = scratch.file("out.png");
};

// A channel's share of a component, from the definition: limits, curve, gamma, colour.
double share(double v, double min, double max, bool squareRoot, double gamma, double colour) {
    double t = std::clamp((v - min) / (max - min), 0.0, 1.0);
    if (squareRoot) t = std::sqrt(t);
    return std::pow(t, gamma) * colour;
}

TEST_F(RenderMapping, TwoChannelsAddUpAsMapped) {
    const ProgramRun run =
        render({"--channel", "0:#0080FF:1000:30000", "--channel", "1:#FFA000:20000:60000:sqrt:0.8"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Picture out = readPng(output);
    ASSERT_EQ(out.width, unsigned(kWidth));
    std::size_t wrong = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double a = share(nucleus(x, y), 1000, 30000, false, 1, 1),
                         b = share(membrane(x, y), 20000, 60000, true, 0.8, 1);
            const double want[3] = {std::min(255.0, b * 255), std::min(255.0, a * 128 + b * 160),
                                    std::min(255.0, a * 255)};
            const Rgba have = out.at(unsigned(x), unsigned(y));
            const int got[3] = {have.r, have.g, have.b};
            for (int c = 0; c < 3; ++c)
                if (std::fabs(got[c] - want[c]) > 1 && wrong++ == 0)
                    ADD_FAILURE() << "(" << x << ", " << y << ") component " << c << ": " << got[c] << " not "
                                  << want[c];
        }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(RenderMapping, BadMappingsEndInOneLineAndStatusOne) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--channel", "0:#FF0000:500:500"}, "min equals max"},
        {{"--channel", "2:#FF0000:0:100"}, "only 2 channels"},
        {{"--channel", "0:#FF00GG:0:100"}, "no colour"},
        {{"--channel", "0:#FF0000:0:100:cubic"}, "unknown curve"},
        {{"--colormap", "jet"}, "unknown colormap"},
    };
    for (const auto& [args, mentions] : cases) {
        SCOPED_TRACE(args.back());
        const ProgramRun run = render(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(mentions), std::string::npos) << run.err;
    }
}

}  // namespace
