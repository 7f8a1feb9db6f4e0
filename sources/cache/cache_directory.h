#pragma once
// The cache directory Zelvan's sources keep their files in (pyramids written for large plain pictures,
// fetched tiles): where it is, making it, the names of its pyramids, and the files a process must not
// lose while it runs. Kept within its size limit by cache_pruning.h, which is built on this file.
// Errors are std::runtime_error with one line.
#include <cstdint>
#include <string>
#include <vector>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// The directory `options` name: options.cacheDirectory, or $XDG_CACHE_HOME/zelvan (an absolute
// XDG_CACHE_HOME only), or $HOME/.cache/zelvan (/tmp/.cache/zelvan without a HOME).
std::string cacheDirectoryFor(const OpenOptions& options);

// Creates `directory` and its parents where missing and checks that files can be made in it. A
// directory that is new, empty or holds nothing but Zelvan's own files gets Zelvan's CACHEDIR.TAG,
// which marks it as Zelvan's (and tells backup programs to skip it). Throws "cache directory <dir>:
// <reason>".
void prepareCacheDirectory(const std::string& directory);

// Whether `directory` holds Zelvan's CACHEDIR.TAG: then every file under it is the cache's.
bool ownsCacheDirectory(const std::string& directory);

// Whether `name` (a file name, without its directory) is that of a pyramid the cache holds.
bool isPyramidEntryName(const std::string& name);

// Creates `path` and its parents where missing, each new one with `mode` (less the umask). Returns ""
// or, when one cannot be made, "cannot create <part> (<reason>)". Throws nothing.
std::string makeDirectories(const std::string& path, unsigned mode);

// FNV-1a, 64 bits, of `text` from `seed` (its standard offset basis by default): the cache's file names
// from their keys, not a secret.
std::uint64_t fnv1a(const std::string& text, std::uint64_t seed = 0xcbf29ce484222325ULL);

// Marks the file at `path` as used now (its modification time): the least recently used go first.
void touchCacheFile(const std::string& path);

// Keeps the file at `path` while this process runs: pruning in this process never removes it (another
// process may: it keeps its own). Thread-safe.
void keepWhileRunning(const std::string& path);
std::vector<std::string> filesKeptWhileRunning();

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
