// What the demo programs do with a gigapixel picture: the time from opening a 20000 x 20000 PNG to
// its first complete frame, decoding on a thread of its own while the OpenGL thread uploads
// (StreamedPicture, as zelvan-render loads), against decoding alone, uploading alone
// (the same bands, decoded beforehand, into a fresh pyramid's textures) and both taking turns on one
// thread. Overlapped, the load should take little more than the longer of the first two:
// "x_longer" is that ratio.
//
//   zelvan_gigapixel_bench [--image PATH] [--quick] [benchmark flags]
// Without --image the picture is made in the temporary directory (zelvan-make-test-image's grid,
// about 10 s) and removed at the end.
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "contest.h"
#include "gl_context.h"
#include "grid_image.h"
#include "image_reading.h"
#include "scene.h"
#include "streamed_picture.h"
#include "summary_reporter.h"

namespace {

constexpr int kFrame = 1600;  // the frame the picture is fitted into
constexpr std::uint32_t kSide = 20000;

using zelvan_demo::kBandRows;

struct Decoded {
    std::uint32_t width = 0, height = 0;
    std::vector<std::unique_ptr<std::uint8_t[]>> bands;  // only when kept
};

// Every band of the picture, into one buffer or (keep) each into its own.
Decoded decodeAll(const std::string& path, bool keep) {
    const auto source = zelvan_demo::openBandSource(path);
    Decoded decoded{source->width(), source->height(), {}};
    const std::size_t pitch = std::size_t{decoded.width} * 4;
    std::unique_ptr<std::uint8_t[]> band;
    for (std::uint32_t row = 0; row < decoded.height; row += kBandRows) {
        if (!band) band.reset(new std::uint8_t[pitch * kBandRows]);
        source->readRows(band.get(), pitch, kBandRows);
        if (keep) decoded.bands.push_back(std::move(band));
    }
    return decoded;
}

// A zelvan::Pyramid or a StreamedPicture fitted into the frame.
template <typename Picture>
void drawFitted(Picture& picture) {
    zelvan_demo::beginFrame(kFrame, kFrame, 1, {0, 0, 0});
    picture.place(zelvan::fit(picture.width(), picture.height(), kFrame, kFrame));
    picture.draw();
}

// Runs work in a child process with an OpenGL context and the library of its own, as a program
// that has just started: its textures get fresh memory, whose page faults are most of the cost of
// a first load on this kind of machine. Returns work's seconds, or -1 when it failed.
double inFreshProcess(const std::function<double()>& work) {
    int channel[2];
    if (pipe(channel) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        double seconds = -1;
        try {
            zelvan_support::GlContext context(kFrame, kFrame);
            const zelvan::Library library;
            if (context.isValid() && library) seconds = work();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "zelvan_gigapixel_bench: %s\n", error.what());
        }
        _exit(write(channel[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
    }
    close(channel[1]);
    double seconds = -1;
    if (child < 0 || read(channel[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
    close(channel[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return seconds;
}

// What zelvan-render does: decoding on its thread, uploading on this one, then the fitted frame.
double streamedLoad(const std::string& path) {
    const double start = zelvan_bench::now();
    zelvan_demo::StreamedPicture picture(zelvan_demo::openBandSource(path), path);
    picture.finishLoading();
    drawFitted(picture);
    glFinish();
    return zelvan_bench::now() - start;
}

// The same bands, decoded beforehand, into a fresh pyramid; -1 if the library refuses one. Each
// band is first copied, untimed, into a buffer of this process, where the streamed load finds its
// bands too: the bands decoded beforehand live in the parent's memory, and the first read of each
// of its pages costs a child a fault (2 s for the 1.6 GB here).
double uploadOnly(const Decoded& decoded) {
    zelvan::Pyramid pyramid(decoded.width, decoded.height);
    const std::size_t pitch = std::size_t{decoded.width} * 4;
    std::unique_ptr<std::uint8_t[]> band(new std::uint8_t[pitch * kBandRows]);
    bool ok = true;
    double seconds = 0;
    for (std::size_t i = 0; i < decoded.bands.size() && ok; ++i) {
        const auto row = std::uint32_t(i) * kBandRows;
        const std::uint32_t rows = std::min(kBandRows, decoded.height - row);
        std::memcpy(band.get(), decoded.bands[i].get(), pitch * rows);
        const double start = zelvan_bench::now();
        ok = pyramid.uploadRows(row, rows, band.get(), pitch, pitch * kBandRows);
        seconds += zelvan_bench::now() - start;
    }
    seconds += zelvan_bench::timedGl([&] { drawFitted(pyramid); });
    return ok ? seconds : -1;
}

// Decoding and uploading taking turns on one thread, band by band: what the overlap saves.
double serialLoad(const std::string& path) {
    const double start = zelvan_bench::now();
    const auto source = zelvan_demo::openBandSource(path);
    zelvan::Pyramid pyramid(source->width(), source->height());
    const std::size_t pitch = std::size_t{source->width()} * 4;
    std::unique_ptr<std::uint8_t[]> band(new std::uint8_t[pitch * kBandRows]);
    bool ok = true;
    for (std::uint32_t row = 0; row < source->height() && ok; row += kBandRows)
        ok = pyramid.uploadRows(row, source->readRows(band.get(), pitch, kBandRows), band.get(), pitch,
                                pitch * kBandRows);
    drawFitted(pyramid);
    glFinish();
    return ok ? zelvan_bench::now() - start : -1;
}

void gigapixelLoad(benchmark::State& state, const std::string& path) {
    const Decoded decoded = decodeAll(path, true);
    bool failed = false;
    const auto checked = [&](double seconds) {
        failed = failed || seconds < 0;
        return seconds;
    };
    const zelvan_bench::Entrant streamed{
        "streamed", [&] { return checked(inFreshProcess([&] { return streamedLoad(path); })); }};
    const zelvan_bench::Entrant decode{"decode", [&] {
                                           const double start = zelvan_bench::now();
                                           decodeAll(path, false);
                                           return zelvan_bench::now() - start;
                                       }};
    const zelvan_bench::Entrant upload{
        "upload", [&] { return checked(inFreshProcess([&] { return uploadOnly(decoded); })); }};
    const zelvan_bench::Entrant serial{
        "serial", [&] { return checked(inFreshProcess([&] { return serialLoad(path); })); }};
    zelvan_bench::compete(state, streamed, {decode, upload, serial});
    // Overlapped against the longer of the two alone.
    state.counters["longer_ms"] =
        std::max(state.counters["decode_ms"].value, state.counters["upload_ms"].value);
    state.counters["x_longer"] = std::min(state.counters["x_decode"].value, state.counters["x_upload"].value);
    state.counters["bands"] = double(decoded.bands.size());
    if (failed) state.SkipWithError("a load failed");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    std::string image;
    bool quick = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0)
            quick = true;
        else if (std::strcmp(argv[i], "--image") == 0 && i + 1 < argc)
            image = argv[++i];
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    std::string made;
    if (image.empty()) {
        made = (std::filesystem::temp_directory_path() /
                ("zelvan-gigapixel-" + std::to_string(getpid()) + ".png"))
                   .string();
        std::fprintf(stderr, "making %s (%u x %u)\n", made.c_str(), kSide, kSide);
        demo_test::writeGridPng(made, kSide, kSide);
        image = made;
    }
    auto* bench = benchmark::RegisterBenchmark("gigapixel_load/png", gigapixelLoad, image);
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(quick ? 1 : 3);
    zelvan_bench::setGoal("gigapixel_load/", "longer", 1.15);

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    zelvan_bench::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!made.empty()) std::filesystem::remove(made);
    return reporter.anyError() ? 1 : 0;
}
