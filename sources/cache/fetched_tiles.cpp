// A file is "ZFT1 <url length>\n<url><body>". The name is two FNV-1a hashes of the URL (64 bits each),
// which collide too rarely for the stored URL ever to be more than a check.
#include "fetched_tiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cache_pruning.h"
#include "temporary_files.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

std::uint64_t fnv1a(const std::string& text, std::uint64_t seed) {
    std::uint64_t h = seed;
    for (const char c : text) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool makeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

FetchedTiles::FetchedTiles(const std::string& cacheDirectory, std::uint64_t limitBytes)
    : cacheDirectory_(cacheDirectory), limitBytes_(limitBytes) {
    if (cacheDirectory.empty()) return;
    const std::string directory = cacheDirectory + "/remote";
    if (!makeDirectories(directory)) return;
    directory_ = directory;
    pruneCache(cacheDirectory_, limitBytes_);
}

void FetchedTiles::pruneWhenDue(std::uint64_t stored) const {
    if (limitBytes_ == 0) return;
    const std::uint64_t due = std::max<std::uint64_t>(limitBytes_ / 16, 1);
    const std::uint64_t before = storedSincePruning_.fetch_add(stored);
    if (before < due && before + stored >= due) {
        pruneCache(cacheDirectory_, limitBytes_);
        storedSincePruning_.fetch_sub(before + stored);
    }
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
    static std::atomic<unsigned> counter{0};
    const std::string path = fileFor(url);
    // A name pruning knows as a partial file: removed should this process die before the rename.
    const std::string temporary = partialPathFor(path, "-" + std::to_string(counter.fetch_add(1)));
    bool written = false;
    {
        File f(std::fopen(temporary.c_str(), "wb"));
        if (f) {
            written = std::fprintf(f.get(), "ZFT1 %zu\n", url.size()) > 0 &&
                      std::fwrite(url.data(), 1, url.size(), f.get()) == url.size() &&
                      std::fwrite(body.data(), 1, body.size(), f.get()) == body.size();
            written = std::fflush(f.get()) == 0 && written;
        }
    }
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return;
    }
    pruneWhenDue(body.size() + url.size());
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
