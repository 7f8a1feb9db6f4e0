// The cache kept within its limit: in a directory that is not Zelvan's own only its pyramids and their
// partial files are ever touched; in its own every file under it, subdirectories included, counts and
// may go. The least recently used go first, partial files of writers that are gone go whatever the
// size, and what is kept or still being written stays.
#include "cache_pruning.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cache_directory.h"
#include "run_program.h"

using demo_test::ScratchDir;
using zelvan::sources::detail::pruneCache;

namespace {

// A process that has ended: its partial files are left over.
pid_t deadProcess() {
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    return dead;
}

void writeUsedAt(const std::string& path, std::time_t used) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << std::string(1000, 'x');
    const timespec times[2] = {{used, 0}, {used, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(CachePruning, InADirectoryNotItsOwnOnlyZelvansPyramidsAndTheirPartialFilesGo) {
    ScratchDir scratch;
    const pid_t dead = deadProcess();
    const std::string hex = "-0123456789abcdef.tif", live = ".partial-" + std::to_string(getpid()),
                      gone = ".partial-" + std::to_string(dead);
    // Files of 1000 bytes, those named "new..." used last: of the five entries, within 3500 bytes,
    // the two least recently used go, not the one kept; other names stay, however old.
    const std::vector<std::string> go = {"a" + hex + gone + ".tif", "a" + hex + gone + "-0.tif", "old" + hex,
                                         "older" + hex};
    const std::vector<std::string> stay = {"kept" + hex, "new" + hex, "newer" + hex,
                                           "a" + hex + live + "-0.tif"};
    const std::vector<std::string> foreign = {hex, "a" + hex + ".png", "a-0123456789ABCDEF.tif",
                                              "b" + gone + ".tif"};
    for (const auto* names : {&stay, &foreign, &go})
        for (const std::string& name : *names)
            writeUsedAt(scratch.file(name), name.rfind("new", 0) == 0 ? 3 : names == &go ? 2 : 1);
    pruneCache(scratch.path(), 3500, {scratch.file("kept" + hex)});
    for (const auto* names : {&stay, &foreign, &go})
        for (const std::string& name : *names)
            EXPECT_EQ(std::filesystem::exists(scratch.file(name)), names != &go) << name;
}

TEST(CachePruning, InItsOwnDirectoryEveryFileUnderItCounts) {
    ScratchDir scratch;
    const std::string cache = scratch.file("cache");
    zelvan::sources::detail::prepareCacheDirectory(cache);
    ASSERT_TRUE(zelvan::sources::detail::ownsCacheDirectory(cache));
    const std::string gone = ".partial-" + std::to_string(deadProcess()),
                      live = ".partial-" + std::to_string(getpid());
    // Files of 1000 bytes within 3500: the two least recently used go, wherever they are, and
    // the leftover partial file; what is kept, or being written, stays.
    const std::vector<std::string> go = {"tiles/a/old.bin", "older.dat", "tiles/b/x.bin" + gone};
    const std::vector<std::string> stay = {"tiles/a/new.bin", "newer.tif", "kept/k.bin",
                                           "tiles/b/y.bin" + live};
    for (const auto* names : {&stay, &go})
        for (const std::string& name : *names)
            writeUsedAt(cache + "/" + name, name.find("new") != std::string::npos ? 3 : names == &go ? 2 : 1);
    pruneCache(cache, 3500, {cache + "/kept/k.bin"});
    for (const auto* names : {&stay, &go})
        for (const std::string& name : *names)
            EXPECT_EQ(std::filesystem::exists(cache + "/" + name), names != &go) << name;
    EXPECT_TRUE(std::filesystem::exists(cache + "/CACHEDIR.TAG"));

    // A directory with files of its own is never taken for the cache's.
    writeUsedAt(scratch.file("photo.jpg"), 1);
    zelvan::sources::detail::prepareCacheDirectory(scratch.path());
    EXPECT_FALSE(zelvan::sources::detail::ownsCacheDirectory(scratch.path()));
    pruneCache(scratch.path(), 1);
    EXPECT_TRUE(std::filesystem::exists(scratch.file("photo.jpg")));
}

}  // namespace
