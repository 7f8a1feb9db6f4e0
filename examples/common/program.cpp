#include "program.h"

#include <cstdio>
#include <exception>
#include <new>

namespace zelvan_demo {

namespace {

int fail(const char* program, const char* message, int status) {
    std::fprintf(stderr, "%s: %s\n", program, message);
    return status;
}

}  // namespace

int runProgram(const char* program, const std::function<ParseResult()>& parse,
               const std::function<void()>& run) {
    try {
        if (parse() == ParseResult::Done) return 0;
    } catch (const DemoError& error) {
        return fail(program, error.what(), 2);
    }
    try {
        run();
        return 0;
    } catch (const std::bad_alloc&) {
        return fail(program, "out of memory", 1);
    } catch (const std::exception& error) {
        return fail(program, error.what(), 1);
    }
}

}  // namespace zelvan_demo
