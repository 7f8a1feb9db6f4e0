#pragma once
// How a demo program fails: a DemoError carries a message meant for the user, and runProgram turns
// every failure into one line "<program>: <message>" on stderr and an exit status.
#include <functional>
#include <stdexcept>
#include <string>

namespace zelvan_demo {

class DemoError : public std::runtime_error {
public:
    explicit DemoError(const std::string& message) : std::runtime_error(message) {}
};

// What reading the command line left to do: Done when it already did all there was (--help).
enum class ParseResult { Run, Done };

// Runs parse, then run unless parse was Done. Exit status: 0 on success, 2 for bad options (a
// DemoError from parse), 1 for any other failure.
int runProgram(const char* program, const std::function<ParseResult()>& parse,
               const std::function<void()>& run);

// The same for a program whose command line `parse` reads into Options that `run` then acts on.
template <typename Options>
int runProgram(const char* program, int argc, const char* const* argv,
               ParseResult (*parse)(int, const char* const*, Options&), void (*run)(const Options&)) {
    Options options;
    return runProgram(
        program, [&] { return parse(argc, argv, options); }, [&] { run(options); });
}

}  // namespace zelvan_demo
