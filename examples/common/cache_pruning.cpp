#include "cache_pruning.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace zelvan_demo {

namespace {

bool isLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// "<name>-<16 hex>.tif", the name not empty.
bool isEntryName(const std::string& name) {
    const std::size_t n = name.size();
    return n >= 22 && name.compare(n - 4, 4, ".tif") == 0 && name[n - 21] == '-' &&
           std::all_of(name.end() - 20, name.end() - 4, isLowerHex);
}

// The writer of a partial file "<entry>.partial-<pid>.tif" or "<entry>.partial-<pid>-<level>.tif"
// (pyramid_tiff.cpp), or 0 for any other name.
pid_t partialFileWriter(const std::string& name) {
    const std::size_t at = name.rfind(".partial-");
    if (at == std::string::npos || !isEntryName(name.substr(0, at))) return 0;
    const char* text = name.c_str() + at + 9;
    char* end = nullptr;
    if (!std::isdigit(static_cast<unsigned char>(*text))) return 0;
    const long pid = std::strtol(text, &end, 10);
    if (*end == '-' && std::isdigit(static_cast<unsigned char>(end[1]))) std::strtol(end + 1, &end, 10);
    return std::strcmp(end, ".tif") == 0 && pid > 0 && pid <= INT_MAX ? pid_t(pid) : 0;
}

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

struct Entry {
    std::string path;
    timespec used;
    std::uint64_t bytes;
};

}  // namespace

void touchCacheEntry(const std::string& file) { utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }

void pruneCache(const std::string& directory, std::uint64_t limitBytes,
                const std::vector<std::string>& keep) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(directory.c_str()), &closedir);
    if (!listing) return;
    std::vector<Entry> removable;
    std::uint64_t total = 0;
    while (const dirent* found = readdir(listing.get())) {
        const std::string name = found->d_name, path = directory + "/" + name;
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
        if (const pid_t writer = partialFileWriter(name); writer != 0) {
            if (kill(writer, 0) != 0 && errno == ESRCH) unlink(path.c_str());
        } else if (isEntryName(name)) {
            total += std::uint64_t(status.st_size);
            if (std::find(keep.begin(), keep.end(), path) == keep.end())
                removable.push_back({path, status.st_mtim, std::uint64_t(status.st_size)});
        }
    }
    std::sort(removable.begin(), removable.end(), [](const Entry& a, const Entry& b) {
        return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec
                                              : a.used.tv_nsec < b.used.tv_nsec;
    });
    for (const Entry& entry : removable) {
        if (limitBytes == 0 || total <= limitBytes) break;
        // Another process may have used it since it was listed.
        struct stat status {};
        if (lstat(entry.path.c_str(), &status) == 0 && !sameTime(status.st_mtim, entry.used)) continue;
        if (unlink(entry.path.c_str()) == 0 || errno == ENOENT) total -= entry.bytes;
    }
}

}  // namespace zelvan_demo
