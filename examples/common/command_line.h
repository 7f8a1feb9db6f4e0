#pragma once
// The demo programs' command lines: CLI11, with the frame size option both programs take, parsed so
// that every mistake is reported in one line. The programs add their other options to app().
#include <cstddef>
#include <memory>
#include <string>

#include "program.h"
#include "zelvan_sources.hpp"

namespace CLI {
class App;
}

namespace zelvan_demo {

constexpr int kMaxFrameSide = 16384;

// Which plane of a picture with time points or depth is shown (--t, --z, counted from 0), and the
// profile of the AWS tools' shared files an s3:// URL's keys come from (--profile; empty: AWS_PROFILE,
// else "default"), as zelvan::sources::OpenOptions takes them.
struct PictureSelection {
    unsigned timePoint = 0, depth = 0;
    std::string profile;
};

// --range MIN,MAX or auto, read into `text` for displayRange.
void addRangeOption(CLI::App& app, std::string& text);

// The display range --range gave; throws DemoError ("--range: ...") for one that makes no sense.
zelvan::sources::DisplayRange displayRange(const std::string& text);

class CommandLine {
public:
    CommandLine(const std::string& description, const std::string& program);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    CLI::App& app() { return *app_; }

    // -s,--size WIDTHxHEIGHT (each side 1 to kMaxFrameSide), read into width and height by parse();
    // their values now are the default shown in --help.
    void addFrameSize(int& width, int& height, const std::string& help);

    // --budget MiB (textures of a tiled picture, and the most a streamed one's may take before it is
    // cached as a pyramidal file instead), --cache DIR (empty: Zelvan::sources' own) and --cache-limit
    // GiB, with their values now as the defaults.
    void addPictureMemory(std::size_t& budgetMiB, std::string& cacheDirectory, double& cacheLimitGiB);

    // --timeout SECONDS: how long a request for a picture on a server may wait for it.
    void addTimeout(double& seconds);

    // --t N, --z N and --profile NAME into `selection`.
    void addPictureSelection(PictureSelection& selection);

    // Parses the command line. Done when --help was asked for and printed. Throws DemoError with a
    // one-line message for anything CLI11 refuses and for a size that is not WIDTHxHEIGHT.
    ParseResult parse(int argc, const char* const* argv);

private:
    std::unique_ptr<CLI::App> app_;
    std::string size_;
    int* width_ = nullptr;
    int* height_ = nullptr;
};

}  // namespace zelvan_demo
