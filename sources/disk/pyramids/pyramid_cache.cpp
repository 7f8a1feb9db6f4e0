#include "pyramid_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "cache/cache_directory.h"
#include "cache/cache_pruning.h"
#include "disk/vips_picture.h"
#include "pyramid_tiff.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

std::string absolute(const std::string& path) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) throw std::runtime_error(path + ": " + std::strerror(errno));
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

}  // namespace

std::string cacheFileFor(const std::string& directory, const std::string& path, const DisplayRange& range) {
    const std::string full = absolute(path);
    struct stat status {};
    if (stat(full.c_str(), &status) != 0) throw std::runtime_error(path + ": " + std::strerror(errno));
    const std::string key = full + '\n' + std::to_string(status.st_size) + '\n' +
                            std::to_string(status.st_mtim.tv_sec) + '.' +
                            std::to_string(status.st_mtim.tv_nsec) + '\n' + rangeKey(range);
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(fnv1a(key)));
    return directory + "/" + baseName(full) + "-" + hex + ".tif";
}

std::string cachedPyramid(const VipsPicture& picture, const OpenOptions& options) {
    const std::string directory = cacheDirectoryFor(options);
    prepareCacheDirectory(directory);
    const std::string file = cacheFileFor(directory, picture.name(), options.range);
    // Kept from the start: the room made for it, or for tiles meanwhile, never takes it.
    keepWhileRunning(file);
    if (access(file.c_str(), R_OK) == 0) {  // only ever renamed into place complete
        touchCacheFile(file);
    } else {
        const PyramidCache cache{directory, options.cacheLimitBytes};
        writePyramidTiff(picture, file, options.progress, &cache);
    }
    // One larger than the room others left, kept while in use, is the one thing past the limit.
    pruneCache(directory, options.cacheLimitBytes);
    return file;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
