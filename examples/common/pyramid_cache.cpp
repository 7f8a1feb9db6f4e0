#include "pyramid_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cache_pruning.h"
#include "program.h"
#include "pyramid_tiff.h"

namespace zelvan_demo {

namespace {

// FNV-1a, 64 bits: a name from the key, not a secret.
std::uint64_t hashOf(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string absolute(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) throw DemoError(path + ": " + std::strerror(errno));
    return resolved.get();
}

std::string baseName(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string::size_type dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name.substr(0, 64);
}

std::string rangeKey(const DisplayRange& range) {
    switch (range.mode) {
        case DisplayRange::Mode::Default:
            return "default";
        case DisplayRange::Mode::Auto:
            return "auto";
        case DisplayRange::Mode::Fixed:
            break;
    }
    char text[80];
    std::snprintf(text, sizeof text, "%.17g,%.17g", range.min, range.max);
    return text;
}

void makeDirectories(const std::string& directory) {
    for (std::string::size_type at = 0; at != std::string::npos;) {
        at = directory.find('/', at + 1);
        const std::string part = directory.substr(0, at);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            throw DemoError("--cache " + directory + ": cannot create " + part + " (" + std::strerror(errno) +
                            ")");
    }
}

}  // namespace

std::string defaultCacheDirectory() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/zelvan";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && home[0] != '\0' ? home : "/tmp") + "/.cache/zelvan";
}

std::string cacheFileFor(const std::string& directory, const std::string& path, const DisplayRange& range) {
    const std::string full = absolute(path);
    struct stat status {};
    if (stat(full.c_str(), &status) != 0) throw DemoError(path + ": " + std::strerror(errno));
    const std::string key = full + '\n' + std::to_string(status.st_size) + '\n' +
                            std::to_string(status.st_mtim.tv_sec) + '.' +
                            std::to_string(status.st_mtim.tv_nsec) + '\n' + rangeKey(range);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hashOf(key)));
    return directory + "/" + baseName(full) + "-" + hex + ".tif";
}

void prepareCacheDirectory(const std::string& directory) {
    if (directory.empty()) throw DemoError("--cache: the directory is empty");
    makeDirectories(directory);
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        throw DemoError("--cache " + directory + ": not a directory");
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        throw DemoError("--cache " + directory + ": cannot write there (" + std::strerror(errno) + ")");
}

std::string cachedPyramid(const VipsPicture& picture, const std::string& path, const DisplayRange& range,
                          const std::string& directory, std::uint64_t limitBytes,
                          const ProgressFn& pixelsDone) {
    // Read until the process ends: none of them is pruned meanwhile. Called from one thread only.
    static std::vector<std::string> inUse;
    prepareCacheDirectory(directory);
    const std::string file = cacheFileFor(directory, path, range);
    if (access(file.c_str(), R_OK) == 0)  // only ever renamed into place complete
        touchCacheEntry(file);
    else
        writePyramidTiff(picture, file, pixelsDone);
    inUse.push_back(file);
    pruneCache(directory, limitBytes, inUse);
    return file;
}

}  // namespace zelvan_demo
