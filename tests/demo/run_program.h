#pragma once
// Runs a demo program as a child process, as a user would from a shell.
#include <cstdint>
#include <string>
#include <vector>

namespace demo_test {

struct ProgramRun {
    int exitCode = -1;  // -1: did not exit normally (a crash, for instance)
    std::string out, err;
    std::uint64_t peakResidentBytes = 0;  // the most memory the program held at once
};

// Runs argv[0] with the arguments; stdout and stderr are collected through files beside `scratch`.
// `environment` holds NAME=value entries that replace or add to this process's own.
ProgramRun runProgram(const std::vector<std::string>& argv, const std::string& scratch,
                      const std::vector<std::string>& environment = {});

// A temporary directory removed with everything in it at the end of the scope.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

}  // namespace demo_test
