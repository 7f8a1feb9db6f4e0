// zelvan-render on bad input: a non-zero exit, one line on stderr, and no output file, partial or
// not (an existing one is left as it was).
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "grid_image.h"
#include "picture_files.h"
#include "run_program.h"

using namespace demo_test;

namespace {

struct BadInput {
    const char* name;
    // Prepares files in the scratch directory and returns the arguments (output path excluded).
    std::function<std::vector<std::string>(const ScratchDir&)> arguments;
    const char* messageMentions;
};

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::vector<std::string> withPng(const ScratchDir& dir, double keep) {
    writePng(dir.file("in.png"), quadrants(300, 200));
    if (keep < 1) truncateFile(dir.file("in.png"), keep);
    return {dir.file("in.png")};
}

const BadInput kBadInputs[] = {
    {"MissingFile", [](const ScratchDir& d) { return std::vector<std::string>{d.file("nowhere.png")}; },
     "No such file"},
    {"Directory", [](const ScratchDir& d) { return std::vector<std::string>{d.path()}; }, "directory"},
    {"TextFile",
     [](const ScratchDir& d) {
         writeText(d.file("notes.png"), "not a picture\n");
         return std::vector<std::string>{d.file("notes.png")};
     },
     "not a picture format libvips reads"},
    {"EmptyFile",
     [](const ScratchDir& d) {
         writeText(d.file("empty.jpg"), "");
         return std::vector<std::string>{d.file("empty.jpg")};
     },
     "not a picture format libvips reads"},
    {"TruncatedPng", [](const ScratchDir& d) { return withPng(d, 0.5); }, "not enough data"},
    {"PngCutInItsHeader", [](const ScratchDir& d) { return withPng(d, 0.02); }, "not enough data"},
    {"TruncatedJpeg",
     [](const ScratchDir& d) {
         writeJpeg(d.file("in.jpg"), quadrants(300, 200));
         truncateFile(d.file("in.jpg"), 0.5);
         return std::vector<std::string>{d.file("in.jpg")};
     },
     "Premature end"},
    {"TiledTiffWithDamagedTiles",
     [](const ScratchDir& d) {
         TiffLayout layout;  // its header is fine: the damage shows on the decoding thread
         layout.width = 1500, layout.height = 1100, layout.tileSize = 512;
         layout.compression = COMPRESSION_ADOBE_DEFLATE;
         writeGridTiff(d.file("in.tif"), layout, GridKind::Rgb);
         std::fstream file(d.file("in.tif"), std::ios::in | std::ios::out | std::ios::binary);
         file.seekp(16);  // into the first tile's compressed data
         for (int i = 0; i < 200; ++i) file.put(char(i * 37));
         return std::vector<std::string>{d.file("in.tif")};
     },
     "Decoding error"},
    {"PngClaimingATrillionPixels",  // drawn into 64 x 64, it needs no more memory than that: its data runs
                                    // out
     [](const ScratchDir& d) {
         writePngClaimingSize(d.file("huge.png"), 1000000, 1000000);  // 4 TB of pixels
         return std::vector<std::string>{d.file("huge.png")};
     },
     "Not enough image data"},
    {"GoodFileThenBadOne",
     [](const ScratchDir& d) {
         auto args = withPng(d, 1);
         writeText(d.file("notes.txt"), "text");
         args.push_back(d.file("notes.txt"));
         return args;
     },
     "not a picture format libvips reads"},
};

class RenderBadInput : public ::testing::TestWithParam<BadInput> {
protected:
    ScratchDir scratch;
};

TEST_P(RenderBadInput, FailsWithOneLineAndLeavesNoOutput) {
    std::vector<std::string> args = GetParam().arguments(scratch);
    const std::vector<std::string> before = scratch.entries();
    args.insert(args.begin(), ZELVAN_RENDER_PATH);
    args.insert(args.end(), {"--size", "64x64", "-o", scratch.file("out.png")});
    const ProgramRun run = runProgram(args, scratch.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zelvan-render: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(GetParam().messageMentions), std::string::npos) << run.err;
    EXPECT_EQ(scratch.entries(), before);  // no out.png and no temporary file beside it
}

INSTANTIATE_TEST_SUITE_P(Files, RenderBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& test) { return std::string(test.param.name); });

class RenderBadOutput : public ::testing::Test {
protected:
    ProgramRun renderTo(const std::string& output) {
        return runProgram({ZELVAN_RENDER_PATH, "--size", "8x8", "-o", output}, scratch.path());
    }
    ScratchDir scratch;
};

TEST_F(RenderBadOutput, UnwritablePathsFailBeforeAnyWork) {
    for (const std::string& output :
         {scratch.file("missing/out.png"), scratch.path(), std::string("/proc/out.png")}) {
        const ProgramRun run = renderTo(output);
        EXPECT_EQ(run.exitCode, 1) << output;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(output + ": "), std::string::npos) << run.err;
    }
    EXPECT_TRUE(scratch.entries().empty());
}

TEST_F(RenderBadOutput, AFailedRenderLeavesAnExistingPictureAsItWas) {
    writeText(scratch.file("out.png"), "the old picture");
    writeText(scratch.file("bad.png"), "no picture");
    const ProgramRun run = runProgram(
        {ZELVAN_RENDER_PATH, scratch.file("bad.png"), "-o", scratch.file("out.png")}, scratch.path());
    EXPECT_EQ(run.exitCode, 1);
    std::ifstream in(scratch.file("out.png"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the old picture");
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"bad.png", "out.png"}));
}

// Nonsense options are refused with exit status 2 before anything is read or drawn.
class RenderBadOption : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RenderBadOption, IsRefusedWithOneLine) {
    ScratchDir scratch;
    std::vector<std::string> args = GetParam();
    args.insert(args.begin(), ZELVAN_RENDER_PATH);
    args.insert(args.end(), {"-o", scratch.file("out.png")});
    const ProgramRun run = runProgram(args, scratch.path());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zelvan-render: ", 0), 0u) << run.err;
    EXPECT_TRUE(scratch.entries().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, RenderBadOption,
    ::testing::Values(
        std::vector<std::string>{"--size", "0x10"}, std::vector<std::string>{"--size", "640"},
        std::vector<std::string>{"--size", "20000x10"}, std::vector<std::string>{"--size", "-5x10"},
        std::vector<std::string>{"--opacity", "256"}, std::vector<std::string>{"--opacity", "half"},
        std::vector<std::string>{"--scale", "0"}, std::vector<std::string>{"--scale", "nan"},
        std::vector<std::string>{"--fit", "--scale", "2"}, std::vector<std::string>{"--rotate", "1,2"},
        std::vector<std::string>{"--rotate", "1,2,inf"}, std::vector<std::string>{"--translate", "a,b"},
        std::vector<std::string>{"--background", "red"}, std::vector<std::string>{"--bogus"},
        std::vector<std::string>{"--range", "5"}, std::vector<std::string>{"--range", "9,1"}));

}  // namespace
