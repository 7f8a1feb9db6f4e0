#include "cache_pruning.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "cache_directory.h"
#include "temporary_files.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Subdirectories deeper than this are not looked into: the cache's own go two or three deep.
constexpr int kMaxDepth = 16;

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// One store at a time in this process, and what each directory's files that count took when it was
// last listed, with what was placed since.
std::mutex& storing() {
    static std::mutex mutex;
    return mutex;
}
std::map<std::string, std::uint64_t>& counted() {
    static std::map<std::string, std::uint64_t> bytes;
    return bytes;
}

bool writerGone(pid_t writer) { return kill(writer, 0) != 0 && errno == ESRCH; }

struct CacheFile {
    std::string path;
    timespec used;
    std::uint64_t bytes;
};

struct Listing {
    bool owned = false;
    std::vector<std::string> keep;
    std::vector<CacheFile> removable;
    std::uint64_t total = 0;

    void look(const std::string& directory, int depth) {
        const std::unique_ptr<DIR, int (*)(DIR*)> entries(opendir(directory.c_str()), &closedir);
        if (!entries) return;
        while (const dirent* found = readdir(entries.get())) {
            const std::string name = found->d_name, path = directory + "/" + name;
            if (name == "." || name == "..") continue;
            struct stat status {};
            if (lstat(path.c_str(), &status) != 0) continue;
            if (S_ISDIR(status.st_mode)) {
                if (owned && depth < kMaxDepth) look(path, depth + 1);
                continue;
            }
            if (!S_ISREG(status.st_mode) || (depth == 0 && name == "CACHEDIR.TAG")) continue;
            if (const pid_t writer = partialFileWriter(name); writer != 0) {
                if (!owned && (depth > 0 || !isPyramidEntryName(name.substr(0, name.rfind(".partial-")))))
                    continue;
                if (writerGone(writer)) unlink(path.c_str());  // being written: it counts once in place
                continue;
            }
            if (!owned && (depth > 0 || !isPyramidEntryName(name))) continue;
            const auto bytes = std::uint64_t(status.st_size);
            total += bytes;
            if (std::find(keep.begin(), keep.end(), path) == keep.end())
                removable.push_back({path, status.st_mtim, bytes});
        }
    }
};

}  // namespace

std::uint64_t pruneCache(const std::string& directory, std::uint64_t limitBytes,
                         const std::vector<std::string>& keep) {
    Listing listing;
    listing.owned = ownsCacheDirectory(directory);
    listing.keep = filesKeptWhileRunning();
    listing.keep.insert(listing.keep.end(), keep.begin(), keep.end());
    listing.look(directory, 0);
    std::sort(listing.removable.begin(), listing.removable.end(), [](const CacheFile& a, const CacheFile& b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    std::uint64_t total = listing.total;
    for (const CacheFile& file : listing.removable) {
        if (limitBytes == 0 || total <= limitBytes) break;
        // Another process (or thread) may have used it since it was listed.
        struct stat status {};
        if (lstat(file.path.c_str(), &status) == 0 && !sameTime(status.st_mtim, file.used)) continue;
        if (unlink(file.path.c_str()) == 0 || errno == ENOENT) total -= file.bytes;
    }
    return total;
}

CacheRoom::CacheRoom(const std::string& directory, std::uint64_t limitBytes, std::uint64_t bytes,
                     const std::vector<std::string>& keep)
    : directory_(directory), bytes_(bytes) {
    storing().lock();
    if (limitBytes == 0) return;
    if (bytes > limitBytes) {  // nothing else need go for what never fits
        fits_ = false;
        return;
    }
    try {
        auto known = counted().find(directory);
        if (known == counted().end() || known->second + bytes > limitBytes) {
            const std::uint64_t total = pruneCache(directory, limitBytes - bytes, keep);
            known = counted().insert_or_assign(directory, total).first;
        }
        fits_ = known->second + bytes <= limitBytes;
    } catch (...) {  // out of memory: nothing is counted, and nothing stored
        fits_ = false;
    }
}

CacheRoom::~CacheRoom() { storing().unlock(); }

void CacheRoom::placed() {
    const auto known = counted().find(directory_);
    if (known != counted().end()) known->second += bytes_;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
