// What the shared library exports: the fourteen Zelvan functions and nothing else, under a
// versioned SONAME.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#ifndef ZELVAN_LIBRARY_PATH
#error "ZELVAN_LIBRARY_PATH must name the built libzelvan.so"
#endif

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    EXPECT_EQ(status, 0) << command;
    return output;
}

TEST(Exports, ExactlyTheZelvanFunctions) {
    const std::string listing = run(std::string("nm -D --defined-only '") + ZELVAN_LIBRARY_PATH + "'");
    std::set<std::string> names;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        EXPECT_EQ(type, "T") << line;  // functions only: no data, no weak template instances
        names.insert(name);
    }
    const std::set<std::string> expected = {
        "ZelvanInit",       "ZelvanShutdown",   "ZelvanZeroHandle",  "ZelvanCreate",      "ZelvanDestroy",
        "ZelvanGetHBlocks", "ZelvanGetVBlocks", "ZelvanGetBlockDem", "ZelvanSetBlockPtr", "ZelvanAlpha",
        "ZelvanScale",      "ZelvanRotate",     "ZelvanTranslate",   "ZelvanDraw"};
    EXPECT_EQ(names, expected) << listing;
}

TEST(Exports, VersionedSoname) {
    const std::string dynamic = run(std::string("objdump -p '") + ZELVAN_LIBRARY_PATH + "'");
    std::istringstream lines(dynamic);
    std::string line, soname;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key;
        if (fields >> key && key == "SONAME") fields >> soname;
    }
    EXPECT_EQ(soname, "libzelvan.so.0");
}

}  // namespace
