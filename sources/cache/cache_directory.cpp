#include "cache_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "temporary_files.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// The standard's signature (https://bford.info/cachedir/), and the line that says the tag is ours.
constexpr char kTagName[] = "CACHEDIR.TAG";
constexpr char kTagSignature[] = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr char kTagOwner[] =
    "# This file is a cache directory tag created by Zelvan's sources (Zelvan::sources).";

[[noreturn]] void fail(const std::string& directory, const std::string& reason) {
    throw std::runtime_error("cache directory " + directory + ": " + reason);
}

// Nothing in `directory` but Zelvan's pyramids and their partial files (and perhaps its tag).
bool holdsOnlyOurs(const std::string& directory) {
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(directory.c_str()), &closedir);
    if (!listing) return false;
    while (const dirent* found = readdir(listing.get())) {
        const std::string name = found->d_name;
        if (name == "." || name == ".." || name == kTagName || isPyramidEntryName(name)) continue;
        const pid_t writer = partialFileWriter(name);
        if (writer == 0 || !isPyramidEntryName(name.substr(0, name.rfind(".partial-")))) return false;
    }
    return true;
}

void writeTag(const std::string& directory) {
    const std::string path = directory + "/" + kTagName;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return;  // there already, or written by another process meanwhile
    const std::string text =
        std::string(kTagSignature) + "\n" + kTagOwner +
        "\n# For information about cache directory tags, see https://bford.info/cachedir/\n";
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    if (!written) unlink(path.c_str());
}

std::mutex keptMutex;
std::vector<std::string>& kept() {
    static std::vector<std::string> files;
    return files;
}

}  // namespace

bool isPyramidEntryName(const std::string& name) {
    const std::size_t n = name.size();
    const auto lowerHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return n >= 22 && name.compare(n - 4, 4, ".tif") == 0 && name[n - 21] == '-' &&
           std::all_of(name.end() - 20, name.end() - 4, lowerHex);
}

std::string cacheDirectoryFor(const OpenOptions& options) {
    if (!options.cacheDirectory.empty()) return options.cacheDirectory;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/zelvan";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr && home[0] != '\0' ? home : "/tmp") + "/.cache/zelvan";
}

std::string makeDirectories(const std::string& path, unsigned mode) {
    for (std::string::size_type at = 0; at != std::string::npos;) {
        at = path.find('/', at + 1);
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), mode_t(mode)) != 0 && errno != EEXIST)
            return "cannot create " + part + " (" + std::strerror(errno) + ")";
    }
    return {};
}

std::uint64_t fnv1a(const std::string& text, std::uint64_t seed) {
    std::uint64_t hash = seed;
    for (const unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
    return hash;
}

void prepareCacheDirectory(const std::string& directory) {
    if (directory.empty()) throw std::runtime_error("cache directory: the name is empty");
    if (const std::string failure = makeDirectories(directory, 0777); !failure.empty())
        fail(directory, failure);
    struct stat status {};
    if (stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) fail(directory, "not a directory");
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        fail(directory, std::string("cannot write there (") + std::strerror(errno) + ")");
    if (!ownsCacheDirectory(directory) && holdsOnlyOurs(directory)) writeTag(directory);
}

bool ownsCacheDirectory(const std::string& directory) {
    std::ifstream tag(directory + "/" + kTagName);
    std::string signature, owner;
    return std::getline(tag, signature) && std::getline(tag, owner) && signature == kTagSignature &&
           owner == kTagOwner;
}

void touchCacheFile(const std::string& path) { utimensat(AT_FDCWD, path.c_str(), nullptr, 0); }

void keepWhileRunning(const std::string& path) {
    const std::lock_guard<std::mutex> lock(keptMutex);
    if (std::find(kept().begin(), kept().end(), path) == kept().end()) kept().push_back(path);
}

std::vector<std::string> filesKeptWhileRunning() {
    const std::lock_guard<std::mutex> lock(keptMutex);
    return kept();
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
