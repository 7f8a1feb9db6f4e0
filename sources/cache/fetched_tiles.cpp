// A file is "ZFT1 <url length>\n<url><body>". The name is two FNV-1a hashes of the URL (64 bits each),
// which collide too rarely for the stored URL ever to be more than a check.
#include "fetched_tiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cache_directory.h"
#include "cache_pruning.h"
#include "temporary_files.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

FetchedTiles::FetchedTiles(const std::string& cacheDirectory, std::uint64_t limitBytes)
    : cacheDirectory_(cacheDirectory), limitBytes_(limitBytes) {
    if (cacheDirectory.empty()) return;
    const std::string directory = cacheDirectory + "/remote";
    if (!makeDirectories(directory, 0700).empty()) return;
    directory_ = directory;
    pruneCache(cacheDirectory_, limitBytes_);
}

std::string FetchedTiles::fileFor(const std::string& url) const {
    char name[40];
    std::snprintf(name, sizeof name, "%016llx%016llx",
                  static_cast<unsigned long long>(fnv1a(url, 0xcbf29ce484222325ULL)),
                  static_cast<unsigned long long>(fnv1a(url, 0x84222325cbf29ce4ULL)));
    return directory_ + "/" + name;
}

bool FetchedTiles::load(const std::string& url, std::size_t maxBytes,
                        std::vector<unsigned char>& body) const {
    if (!enabled()) return false;
    File f(std::fopen(fileFor(url).c_str(), "rb"));
    if (!f) return false;
    unsigned long long urlLength = 0;
    if (std::fscanf(f.get(), "ZFT1 %llu", &urlLength) != 1 || std::fgetc(f.get()) != '\n' ||
        urlLength != url.size())
        return false;
    std::string stored(url.size(), '\0');
    if (std::fread(&stored[0], 1, stored.size(), f.get()) != stored.size() || stored != url) return false;
    const long start = std::ftell(f.get());
    if (start < 0 || std::fseek(f.get(), 0, SEEK_END) != 0) return false;
    const long end = std::ftell(f.get());
    if (end < start || static_cast<unsigned long>(end - start) > maxBytes ||
        std::fseek(f.get(), start, SEEK_SET) != 0)
        return false;
    body.resize(static_cast<std::size_t>(end - start));
    return std::fread(body.data(), 1, body.size(), f.get()) == body.size();
}

void FetchedTiles::store(const std::string& url, const std::vector<unsigned char>& body) const {
    if (!enabled()) return;
    const std::string header = "ZFT1 " + std::to_string(url.size()) + "\n";
    // Room is made before the file is written, so that the cache never holds more than its limit.
    CacheRoom room(cacheDirectory_, limitBytes_, header.size() + url.size() + body.size());
    if (!room.fits()) return;
    const std::string path = fileFor(url);
    // A name pruning knows as a partial file: removed should this process die before the rename.
    const std::string temporary = partialPathFor(path);
    bool written = false;
    {
        File f(std::fopen(temporary.c_str(), "wb"));
        if (f) {
            written = std::fwrite(header.data(), 1, header.size(), f.get()) == header.size() &&
                      std::fwrite(url.data(), 1, url.size(), f.get()) == url.size() &&
                      std::fwrite(body.data(), 1, body.size(), f.get()) == body.size();
            written = std::fflush(f.get()) == 0 && written;
        }
    }
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return;
    }
    room.placed();
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
