// The cache's housekeeping: pruning removes what it owns and nothing else, and a program stopped by
// a signal while writing leaves no partial file behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "cache_pruning.h"
#include "grid_image.h"
#include "run_program.h"

extern char** environ;

using namespace demo_test;

namespace {

void writeFile(const std::string& path, std::time_t used) {
    std::ofstream(path) << std::string(1000, 'x');
    const timespec times[2] = {{used, 0}, {used, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(CachePruning, RemovesTheLeastRecentlyUsedEntriesAndDeadWritersPartialFilesOnly) {
    ScratchDir scratch;
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string hex = "-0123456789abcdef.tif", live = ".partial-" + std::to_string(getpid()),
                      gone = ".partial-" + std::to_string(dead);
    struct File {
        std::string name;
        std::time_t used;
        bool stays;
    };
    // Five entries of 1000 bytes within 3500: the two oldest go, not the one kept, however old.
    const std::vector<File> files = {{"notes.txt", 1, true},
                                     {"a-0123456789abcdef.png", 1, true},
                                     {"a-0123456789ABCDEF.tif", 1, true},
                                     {hex, 1, true},
                                     {"notes" + gone + ".tif", 1, true},
                                     {"a" + hex + live + "-0.tif", 1, true},
                                     {"a" + hex + gone + ".tif", 9, false},
                                     {"a" + hex + gone + "-0.tif", 9, false},
                                     {"kept" + hex, 1, true},
                                     {"oldest" + hex, 2, false},
                                     {"older" + hex, 3, false},
                                     {"newer" + hex, 4, true},
                                     {"newest" + hex, 5, true}};
    for (const File& file : files) writeFile(scratch.file(file.name), file.used);
    zelvan_demo::pruneCache(scratch.path(), 3500, {scratch.file("kept" + hex)});
    for (const File& file : files)
        EXPECT_EQ(std::filesystem::exists(scratch.file(file.name)), file.stays) << file.name;
}

// zelvan-render on `args`, with the signals as a terminal gives them, stopped by `signal` as soon
// as it writes a ".tif.partial-" file under `directory`; its wait status.
int stoppedWhileWriting(std::vector<std::string> args, const std::string& directory, int signal) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    EXPECT_EQ(posix_spawn(&child, ZELVAN_RENDER_PATH, nullptr, &attributes, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attributes);
    int status = 0;
    for (bool writing = false; !writing && waitpid(child, &status, WNOHANG) == 0; usleep(2000))
        for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
            if (entry.path().string().find(".tif.partial-") != std::string::npos) writing = true;
    if (kill(child, signal) == 0) waitpid(child, &status, 0);
    return status;
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
    for (auto [args, signal] : cases) {
        args.insert(args.begin(), {ZELVAN_RENDER_PATH, scratch.file("big.tif")});
        const int status = stoppedWhileWriting(args, scratch.path(), signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << args[2] << ": status " << status;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path()))
            EXPECT_EQ(entry.path().string().find(".partial-"), std::string::npos) << entry.path();
    }
}

}  // namespace
