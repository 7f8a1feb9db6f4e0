#include "program_main.h"

#include <cstdio>
#include <exception>
#include <new>

#include "demo_error.h"

namespace zelvan_demo {

namespace {

int fail(const char* program, const char* message, int status) {
    std::fprintf(stderr, "%s: %s\n", program, message);
    return status;
}

}  // namespace

int runProgram(const char* program, const std::function<bool()>& parse, const std::function<void()>& run) {
    try {
        if (parse()) return 0;
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
