#pragma once
// Files being written under a temporary name ("<final path>.partial-<pid>..."), renamed into place
// when complete. While one is registered, SIGINT, SIGTERM or SIGHUP removes it before the signal
// takes its course: the handler then calls the handler the program had set before, or restores the
// default action and raises the signal again, so that the program ends as it would have. A signal
// the program ignores stays ignored. The table of paths is fixed and held in atomics, so that the
// handler does only what a signal handler may do.
#include <sys/types.h>

#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// "<path>.partial-<this process's id>-<n><suffix>", n new at every call: where the file at `path` is
// written first, a name no other writer has, be it another thread writing the same file. Thread-safe.
std::string partialPathFor(const std::string& path, const std::string& suffix = "");

// The process writing a partial file of that name ("<anything>.partial-<pid>", followed by nothing
// or by '-' or '.' and more), or 0 for any other name.
pid_t partialFileWriter(const std::string& name);

// Registers `path` (before the file is made, where its name is known); returns the slot, or -1 when
// the table is full or the path too long, the file then being left to its owner alone.
int registerTemporaryFile(const std::string& path);
// Forgets the slot registerTemporaryFile returned (-1: nothing), once the file is removed or renamed.
void unregisterTemporaryFile(int slot);

// Temporary files removed at the end of the scope (or by a stopping signal before it), unless kept.
class TemporaryFiles {
public:
    TemporaryFiles() = default;
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;
    ~TemporaryFiles();

    // Registers `path` before the file is made and returns it.
    const std::string& add(const std::string& path);
    const std::vector<std::string>& paths() const { return paths_; }
    // Renames the file at `path` (one of these) to `to`, and no longer removes it. False if the
    // rename fails (the file then stays one of these).
    bool renameInto(const std::string& path, const std::string& to);

private:
    std::vector<std::string> paths_;
    std::vector<int> slots_;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
