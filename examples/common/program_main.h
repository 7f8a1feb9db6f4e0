#pragma once
// The shared main of the demo programs: every failure becomes one line on stderr and an exit status.
#include <functional>

namespace zelvan_demo {

// Runs parse (true when it already did all there was to do, such as --help), then run.
// Exit status: 0 on success, 2 for bad options, 1 for any other failure, each with one line
// "<program>: <message>" on stderr.
int runProgram(const char* program, const std::function<bool()>& parse, const std::function<void()>& run);

}  // namespace zelvan_demo
