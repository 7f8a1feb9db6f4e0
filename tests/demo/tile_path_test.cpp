// zelvan-render's ways past the texture budget: a frame drawn from halved bands matches the full
// pyramid's, a picture over the budget is cached once as a pyramid averaged in linear light and the
// cache kept within its limit, writing stopped by a signal leaves no partial file, and what cannot
// be written is bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "gl_context.h"
#include "grid_image.h"
#include "picture_files.h"
#include "run_program.h"
#include "scene.h"
#include "tiled_picture.h"
#include "zelvan_pyramid.hpp"
#include "zelvan_sources.hpp"

using namespace demo_test;

namespace {

// Colours from a hash of the position: any level or offset that differs shows.
Picture noise(std::uint32_t width, std::uint32_t height) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ ((x + y) * 83492791u);
            picture.at(x, y) = {std::uint8_t(h), std::uint8_t(h >> 8), std::uint8_t(h >> 16), 255};
        }
    return picture;
}

// One-pixel vertical lines, black and white: half the light, 188 in sRGB (128 if averaged encoded).
Picture lines(std::uint32_t width, std::uint32_t height) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            picture.at(x, y) = x % 2 ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 0, 255};
    return picture;
}

ProgramRun render(const ScratchDir& scratch, std::vector<std::string> args) {
    args.insert(args.begin(), ZELVAN_RENDER_PATH);
    return runProgram(args, scratch.path());
}

// The frame a full zelvan::Pyramid of `picture` draws fitted, as zelvan-render draws it (16 passes).
zelvan_demo::RgbPicture fullPyramidFrame(const Picture& picture, int width, int height) {
    zelvan_support::GlContext context(width, height);
    EXPECT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    std::vector<std::uint8_t> bgra(picture.pixels.size() * 4);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        const Rgba p = picture.pixels[i];
        bgra[4 * i] = p.b, bgra[4 * i + 1] = p.g, bgra[4 * i + 2] = p.r, bgra[4 * i + 3] = p.a;
    }
    zelvan::Pyramid pyramid(picture.width, picture.height);
    EXPECT_TRUE(pyramid.upload(bgra.data(), std::size_t{picture.width} * 4, bgra.size()));
    pyramid.place(zelvan::fit(picture.width, picture.height, width, height));
    zelvan_demo::beginFrame(width, height, 1, {0x1c, 0x20, 0x26});
    pyramid.draw(1, 16);
    return zelvan_demo::readFrame(width, height);
}

TEST(TilePath, FrameFromHalvedBandsIsTheFullPyramidsPixelForPixel) {
    ScratchDir scratch;
    const Picture picture = noise(3000, 2000);
    writePng(scratch.file("in.png"), picture);
    // Fitted at 0.2, levels 2 and 3 are drawn: the bands arrive halved twice.
    const ProgramRun run =
        render(scratch, {scratch.file("in.png"), "--size", "600x400", "-o", scratch.file("out.png")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Picture out = readPng(scratch.file("out.png"));
    const zelvan_demo::RgbPicture expected = fullPyramidFrame(picture, 600, 400);
    ASSERT_EQ(out.pixels.size(), std::size_t{600} * 400);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < out.pixels.size(); ++i) {
        const std::uint8_t* e = &expected.rgb[3 * i];
        differing += out.pixels[i] != Rgba{e[0], e[1], e[2], 255};
    }
    EXPECT_EQ(differing, 0u);
}

TEST(TilePath, PictureOverTheBudgetIsCachedOnceAsALinearLightPyramid) {
    ScratchDir scratch;
    writePng(scratch.file("lines.png"), lines(4096, 512));
    const std::string cache = scratch.file("cache");
    const std::vector<std::string> args = {
        scratch.file("lines.png"), "--budget", "2", "--cache", cache, "--scale", "0.5", "--size", "2048x256"};
    auto withOutput = [&](const std::string& out) {
        std::vector<std::string> a = args;
        a.insert(a.end(), {"-o", scratch.file(out)});
        return a;
    };
    const ProgramRun first = render(scratch, withOutput("first.png"));
    ASSERT_EQ(first.exitCode, 0) << first.err;
    struct stat before {};
    auto onlyEntry = [&] {
        std::vector<std::string> names;  // the cache's tag aside
        for (const auto& e : std::filesystem::directory_iterator(cache))
            if (e.path().filename() != "CACHEDIR.TAG") names.push_back(e.path().filename());
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? std::string() : names[0];
    };
    const std::string entry = cache + "/" + onlyEntry();
    const timespec longAgo[2] = {{1000, 0}, {1000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, entry.c_str(), longAgo, 0), 0);
    ASSERT_EQ(stat(entry.c_str(), &before), 0);

    const ProgramRun second = render(scratch, withOutput("second.png"));
    ASSERT_EQ(second.exitCode, 0) << second.err;
    struct stat after {};
    ASSERT_EQ(stat(entry.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // read, not written again
    EXPECT_GT(after.st_mtim.tv_sec, 1000);   // and marked as used

    // Written over a limit it alone exceeds, a new entry stays and the older one goes.
    std::filesystem::copy_file(scratch.file("lines.png"), scratch.file("other.png"));
    std::vector<std::string> third = withOutput("third.png");
    third[0] = scratch.file("other.png"), third.push_back("--cache-limit=1e-9");
    ASSERT_EQ(render(scratch, third).exitCode, 0);
    EXPECT_EQ(onlyEntry().rfind("other-", 0), 0u);

    for (const char* name : {"first.png", "second.png"}) {
        const Picture out = readPng(scratch.file(name));
        for (const Rgba& p : out.pixels) ASSERT_NEAR(p.g, 188, 1) << name;
    }
}

TEST(TilePath, UnwritableCacheOrPyramidIsBadInput) {
    ScratchDir scratch;
    writePng(scratch.file("in.png"), lines(600, 400));
    writePng(scratch.file("cut.png"), noise(1500, 1000));
    truncateFile(scratch.file("cut.png"), 0.5);
    const std::vector<std::vector<std::string>> cases = {
        // Damaged half-way through its cache conversion: no cache file, not even a partial one.
        {scratch.file("cut.png"), "--budget", "1", "--cache", scratch.path(), "-o", scratch.file("out.png")},
        {scratch.file("in.png"), "--budget", "1", "--cache", "/proc/zelvan-cache", "-o",
         scratch.file("out.png")},
        {scratch.file("in.png"), "--save-pyramid", scratch.file("missing/out.tif")},
        {scratch.file("in.png"), "--save-pyramid", "/proc/out.tif"},
        {scratch.file("in.png"), "--save-pyramid", scratch.path()},
    };
    for (const auto& args : cases) {
        const ProgramRun run = render(scratch, args);
        EXPECT_EQ(run.exitCode, 1) << args[2];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("zelvan-render: ", 0), 0u) << run.err;
    }
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"cut.png", "in.png"}));
}

TEST(TilePath, DamagedTilesOfAPyramidAreBadInput) {
    ScratchDir scratch;
    writePng(scratch.file("noise.png"), noise(3000, 3000));
    ASSERT_EQ(
        render(scratch, {scratch.file("noise.png"), "--save-pyramid", scratch.file("pyramid.tif")}).exitCode,
        0);
    {  // garbage over the tiles around level 0's centre, its header intact
        std::fstream file(scratch.file("pyramid.tif"), std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(0, std::ios::end);
        const std::streamoff size = file.tellg();
        file.seekp(size * 3 / 10);
        for (std::streamoff i = 0; i < size / 8; ++i) file.put(char(i * 37));
    }
    const ProgramRun run = render(scratch, {scratch.file("pyramid.tif"), "--scale", "1", "--size", "600x600",
                                            "-o", scratch.file("out.png")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.rfind("zelvan-render: " + scratch.file("pyramid.tif") + ": ", 0), 0u) << run.err;
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"noise.png", "pyramid.tif"}));
}

// The viewer's first frame already shows the picture: it waits the moment the one-tile level takes.
TEST(TilePath, FirstFrameOfAPyramidIsNeverBlank) {
    ScratchDir scratch;
    Picture orange(2000, 2000);
    std::fill(orange.pixels.begin(), orange.pixels.end(), Rgba{250, 120, 10, 255});
    writePng(scratch.file("orange.png"), orange);
    ASSERT_EQ(
        render(scratch, {scratch.file("orange.png"), "--save-pyramid", scratch.file("pyramid.tif")}).exitCode,
        0);
    zelvan_support::GlContext context(200, 200);
    ASSERT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    zelvan::sources::Opened opened = zelvan::sources::open(scratch.file("pyramid.tif"));
    ASSERT_TRUE(opened) << opened.error;
    zelvan_demo::TiledPicture picture(std::move(opened.source), "pyramid", {});
    picture.place(zelvan::fit(2000, 2000, 200, 200));
    zelvan_demo::beginFrame(200, 200, 1, {0x1c, 0x20, 0x26});
    picture.draw(200, 200);
    const zelvan_demo::RgbPicture frame = zelvan_demo::readFrame(200, 200);
    const std::uint8_t* centre = frame.rgb.data() + (100 * 200 + 100) * 3;
    EXPECT_EQ((std::vector<int>{centre[0], centre[1], centre[2]}), (std::vector<int>{250, 120, 10}));
}

// A still frame (zelvan-render's) waits for all its tiles, then draws them all in one frame: that one
// frame, at one picture pixel a screen pixel, is the picture's part it shows.
TEST(TilePath, AStillFrameWaitedForIsWholeInTheNextDraw) {
    ScratchDir scratch;
    const Picture picture = noise(1500, 1100);
    writePng(scratch.file("noise.png"), picture);
    ASSERT_EQ(
        render(scratch, {scratch.file("noise.png"), "--save-pyramid", scratch.file("pyramid.tif")}).exitCode,
        0);
    const int width = 400, height = 300;
    zelvan_support::GlContext context(width, height);
    ASSERT_TRUE(context.isValid()) << context.error();
    const zelvan::Library library;
    zelvan::TileViewOptions options;
    options.standIns = false;
    zelvan_demo::TiledPicture tiled(zelvan::sources::open(scratch.file("pyramid.tif")).source, "pyramid",
                                    options, true);
    zelvan::Placement placement;  // at one screen pixel a picture pixel, (550, 400) at the top left
    placement.centreX = width / 2.0, placement.centreY = height / 2.0;
    tiled.place(placement);
    zelvan_demo::beginFrame(width, height, 1, {0, 0, 0});
    ASSERT_TRUE(tiled.waitForStillFrame(width, height, std::chrono::minutes(2))) << tiled.failure();
    zelvan_demo::beginFrame(width, height, 1, {0, 0, 0});
    tiled.draw(width, height);
    const zelvan_demo::RgbPicture frame = zelvan_demo::readFrame(width, height);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < std::size_t{width} * height; ++i) {
        const Rgba want = picture.at(std::uint32_t(550 + i % width), std::uint32_t(400 + i / width));
        differing += Rgba{frame.rgb[3 * i], frame.rgb[3 * i + 1], frame.rgb[3 * i + 2], 255} != want;
    }
    EXPECT_EQ(differing, 0u);
}

TEST(CacheInterrupted, StoppedWritingLeavesNoPartialFileAndEndsByTheSignal) {
    ScratchDir scratch;
    TiffLayout layout;
    layout.width = layout.height = 10000;
    writeGridTiff(scratch.file("big.tif"), layout, GridKind::Rgb);
    const std::vector<std::string> cached = {
        "--budget", "16", "--scale", "1", "--cache", scratch.file("cache"), "-o", scratch.file("out.png")};
    const std::pair<std::vector<std::string>, int> cases[] = {
        {{"--save-pyramid", scratch.file("out.tif")}, SIGINT}, {cached, SIGTERM}, {cached, SIGHUP}};
    for (auto [args, stopping] : cases) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, scratch.file("big.tif")});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {  // the signals as a terminal gives them, not as to a background job
            for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;  // stopped as soon as it writes a level
        for (bool writing = false; !writing && waitpid(child, &status, WNOHANG) == 0; usleep(2000))
            for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path()))
                writing = writing || entry.path().string().find(".tif.partial-") != std::string::npos;
        if (kill(child, stopping) == 0) waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stopping) << args[2] << ": status " << status;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path()))
            EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
    }
}

}  // namespace
