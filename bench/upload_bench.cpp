// ZelvanSetBlockPtr over every block of an image, against the hand-written uploaders, on a first
// load (fresh textures) and on a reload (every block already has its texture).
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "contest.h"
#include "hand_uploaders.h"
#include "suites.h"
#include "summary_reporter.h"
#include "zelvan.h"

namespace zelvan_bench {

namespace {

// Source images are made on first use only: the 8192 x 8192 one is 256 MiB.
const SourceImage& sourceImage(std::uint32_t width, std::uint32_t height) {
    static std::map<std::pair<std::uint32_t, std::uint32_t>, std::unique_ptr<SourceImage>> cache;
    auto& image = cache[{width, height}];
    if (!image) image = std::make_unique<SourceImage>(width, height);
    return *image;
}

bool uploadAll(ZelvanHandle handle, const SourceImage& image, const zelvan::BlockImage& grid) {
    bool ok = true;
    for (std::uint32_t row = 0; row < grid.vBlocks; ++row)
        for (std::uint32_t col = 0; col < grid.hBlocks; ++col) {
            const zelvan::Block& block = grid.blockAt(row, col);
            ok = ZelvanSetBlockPtr(handle, row, col, image.at(block.x, block.y), image.pitch) && ok;
        }
    return ok;
}

void firstLoad(benchmark::State& state, std::uint32_t width, std::uint32_t height) {
    const SourceImage& image = sourceImage(width, height);
    const zelvan::BlockImage grid = zelvan::layoutBlocks(width, height, 512, 512);
    ZelvanInit();
    bool ok = true;
    const Entrant zelvan{"zelvan", [&] {
                             const ZelvanHandle handle = ZelvanCreate(width, height);
                             const double seconds =
                                 timedGl([&] { ok = uploadAll(handle, image, grid) && ok; });
                             ZelvanDestroy(handle);
                             return seconds;
                         }};
    std::vector<GLuint> textures;
    const Entrant bgra{"bgra", [&] {
                           const double seconds = timedGl([&] {
                               for (const zelvan::Block& block : grid.blocks)
                                   textures.push_back(uploadBgraNew(block, image));
                           });
                           deleteTextures(textures);
                           return seconds;
                       }};
    const Entrant threePass{"three_pass", [&] {
                                const double seconds = timedGl([&] {
                                    for (const zelvan::Block& block : grid.blocks)
                                        textures.push_back(uploadThreePass(0, block, image));
                                });
                                deleteTextures(textures);
                                return seconds;
                            }};
    compete(state, zelvan, {bgra, threePass});
    ZelvanShutdown();
    if (!ok) state.SkipWithError("ZelvanSetBlockPtr failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * height * 4);
    state.counters["blocks"] = static_cast<double>(grid.blocks.size());
}

void reload(benchmark::State& state, std::uint32_t width, std::uint32_t height) {
    const SourceImage& image = sourceImage(width, height);
    const zelvan::BlockImage grid = zelvan::layoutBlocks(width, height, 512, 512);
    ZelvanInit();
    const ZelvanHandle handle = ZelvanCreate(width, height);
    bool ok = uploadAll(handle, image, grid);
    std::vector<GLuint> bgraTextures, threePassTextures, keptTextures;
    for (const zelvan::Block& block : grid.blocks) {
        bgraTextures.push_back(uploadBgraNew(block, image));
        threePassTextures.push_back(uploadThreePass(0, block, image));
        keptTextures.push_back(uploadThreePass(0, block, image));
    }
    glFinish();

    const Entrant zelvan{"zelvan",
                         [&] { return timedGl([&] { ok = uploadAll(handle, image, grid) && ok; }); }};
    const Entrant bgra{"bgra", [&] {
                           return timedGl([&] {
                               for (std::size_t i = 0; i < grid.blocks.size(); ++i)
                                   uploadBgraInto(bgraTextures[i], grid.blocks[i], image);
                           });
                       }};
    const Entrant threePass{"three_pass", [&] {
                                return timedGl([&] {
                                    for (std::size_t i = 0; i < grid.blocks.size(); ++i)
                                        threePassTextures[i] =
                                            uploadThreePass(threePassTextures[i], grid.blocks[i], image);
                                });
                            }};
    // Not a goal: how far keeping the texture storage would take the library.
    const Entrant kept{"staged_subimage", [&] {
                           return timedGl([&] {
                               for (std::size_t i = 0; i < grid.blocks.size(); ++i)
                                   uploadStagedInto(keptTextures[i], grid.blocks[i], image);
                           });
                       }};
    compete(state, zelvan, {bgra, threePass, kept});
    deleteTextures(bgraTextures);
    deleteTextures(threePassTextures);
    deleteTextures(keptTextures);
    ZelvanShutdown();
    if (!ok) state.SkipWithError("ZelvanSetBlockPtr failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * width * height * 4);
    state.counters["blocks"] = static_cast<double>(grid.blocks.size());
}

}  // namespace

void registerUploadBenchmarks(const Pace& pace) {
    for (auto [width, height] : {std::pair{8192u, 8192u}, std::pair{3000u, 2000u}}) {
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        pace.apply(benchmark::RegisterBenchmark(("upload_first/" + size).c_str(), firstLoad, width, height),
                   3.0);
        pace.apply(benchmark::RegisterBenchmark(("upload_reload/" + size).c_str(), reload, width, height),
                   3.0);
    }
    setGoal("upload_first/", "bgra", 1.1);
    setGoal("upload_reload/", "bgra", 1.3);
}

}  // namespace zelvan_bench
