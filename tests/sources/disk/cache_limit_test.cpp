// The cache's limit holds at every moment, not only after a pruning: fetched tiles stored from two
// threads, then pyramids written by open from two threads, the directory's size sampled after every
// store and by a thread meanwhile. A pyramid's temporary files, which take room until it is in place, are
// left out.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vips/vips8>

#include "cache_directory.h"
#include "fetched_tiles.h"
#include "run_program.h"
#include "zelvan_sources.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kLimit = 96 << 10;

std::uint64_t cacheBytes(const std::string& directory) {
    std::uint64_t total = 0;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(directory, ignored), end; it != end; it.increment(ignored)) {
        const std::string name = it->path().filename().string();
        if (name == "CACHEDIR.TAG" || name.find(".partial-") != std::string::npos) continue;
        const std::uintmax_t bytes = fs::file_size(it->path(), ignored);
        if (!ignored && it->is_regular_file(ignored)) total += bytes;
    }
    return total;
}

TEST(CacheLimit, NeverPassedWhileTilesAndPyramidsAreStored) {
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    demo_test::ScratchDir scratch;
    const std::string cache = scratch.file("cache");
    zelvan::sources::detail::prepareCacheDirectory(cache);
    std::atomic<bool> storing{true};
    std::atomic<std::uint64_t> most{0};
    const auto sample = [&] {
        const std::uint64_t now = cacheBytes(cache);
        for (std::uint64_t seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
    };
    std::thread sampler([&] {
        while (storing) sample();
    });

    const zelvan::sources::detail::FetchedTiles tiles(cache, kLimit);
    ASSERT_TRUE(tiles.enabled());
    const auto store = [&](int thread) {
        for (int i = 0; i < 150; ++i) {
            const std::string url = "http://127.0.0.1/" + std::to_string(thread) + "/" + std::to_string(i);
            tiles.store(url, std::vector<unsigned char>(std::size_t(1000 + (i * 7919) % 9000), 'x'));
            sample();
        }
    };
    {
        std::thread other(store, 1);
        store(0);
        other.join();
    }

    // Pyramids of small plain pictures, from two threads, into the cache the tiles filled. (The test's
    // copy of the cache's code, which stored the tiles, is not the library's: they take turns.)
    const auto openPictures = [&](int thread) {
        for (int i = 0; i < 2; ++i) {
            const std::string picture = scratch.file("picture" + std::to_string(thread * 2 + i) + ".png");
            (vips::VImage::xyz(700 + i, 500 + thread)[0] * (i + 1))
                .cast(VIPS_FORMAT_UCHAR)
                .pngsave(picture.c_str());
            zelvan::sources::OpenOptions options;
            options.cacheDirectory = cache;
            options.cacheLimitBytes = kLimit;
            options.plainPictureLimitBytes = 0;  // through the cache's pyramid
            const zelvan::sources::Opened opened = zelvan::sources::open(picture, options);
            EXPECT_TRUE(opened) << opened.error;
            sample();
        }
    };
    std::thread more(openPictures, 1);
    openPictures(0);
    more.join();
    storing = false;
    sampler.join();
    EXPECT_LE(most.load(), kLimit);
    std::size_t pyramids = 0;
    for (const auto& entry : fs::directory_iterator(cache)) pyramids += entry.path().extension() == ".tif";
    EXPECT_EQ(pyramids, 4u);
    EXPECT_GT(cacheBytes(cache), kLimit / 2);  // and the cache is used
}

}  // namespace
