#include "command_line.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "program.h"

namespace zelvan_demo {

namespace {

// A run of decimal digits only (no sign, no space) and what follows it.
bool readCount(const char*& text, long& value) {
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    text = end;
    return true;
}

// "1200x800" into width and height, each 1 to kMaxFrameSide; false for anything else.
bool parseFrameSize(const std::string& text, int& width, int& height) {
    const char* p = text.c_str();
    long w = 0, h = 0;
    if (!readCount(p, w) || (*p != 'x' && *p != 'X')) return false;
    ++p;
    if (!readCount(p, h) || *p != '\0') return false;
    if (w < 1 || h < 1 || w > kMaxFrameSide || h > kMaxFrameSide) return false;
    width = int(w);
    height = int(h);
    return true;
}

// A parser's message on one line: the programs promise one line per error.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// A number from `low` (itself too where `withLow`) to `high`, named `unit` in --help.
CLI::Validator numberWithin(double low, bool withLow, double high, const std::string& unit) {
    return CLI::Validator(
        [=](std::string& text) {
            const double value = std::strtod(text.c_str(), nullptr);
            const bool within =
                std::isfinite(value) && (withLow ? value >= low : value > low) && value <= high;
            char bounds[96];
            std::snprintf(bounds, sizeof bounds, "%s%g to %g", withLow ? "" : "above ", low, high);
            return within ? std::string() : "must be " + std::string(bounds) + " " + unit + ", not " + text;
        },
        unit);
}

}  // namespace

void addRangeOption(CLI::App& app, std::string& text) {
    app.add_option("--range", text,
                   "how samples map to the 256 shown levels: MIN,MAX in the file's sample units, or auto "
                   "(the 0.5th to the 99.5th percentile). By default 8-bit samples are shown as they are, "
                   "16-bit ones over their full range, 32-bit and floating-point ones and FITS as auto does")
        ->type_name("MIN,MAX|auto");
}

zelvan::sources::DisplayRange displayRange(const std::string& text) {
    zelvan::sources::DisplayRange range;
    std::string error;
    if (!zelvan::sources::parseDisplayRange(text, range, error)) throw DemoError("--range: " + error);
    return range;
}

CommandLine::CommandLine(const std::string& description, const std::string& program)
    : app_(std::make_unique<CLI::App>(description, program)) {}

CommandLine::~CommandLine() = default;

void CommandLine::addFrameSize(int& width, int& height, const std::string& help) {
    width_ = &width;
    height_ = &height;
    size_ = std::to_string(width) + "x" + std::to_string(height);
    app_->add_option("-s,--size", size_, help)->capture_default_str();
}

void CommandLine::addPictureMemory(std::size_t& budgetMiB, std::string& cacheDirectory,
                                   double& cacheLimitGiB) {
    app_->add_option(
            "--budget", budgetMiB,
            "texture memory in MiB for a picture: one whose pyramid needs more is drawn tile by tile, "
            "from its own levels or from a pyramidal copy written once into the cache")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20))
        ->capture_default_str();
    app_->add_option("--cache", cacheDirectory,
                     "where pyramidal copies of pictures too large for the budget (and tiles fetched from "
                     "servers) are kept, reused while the picture is unchanged; by default "
                     "$XDG_CACHE_HOME/zelvan or ~/.cache/zelvan");
    app_->add_option("--cache-limit", cacheLimitGiB,
                     "the most the cache may hold, in GiB (0: no limit): past it the least recently used "
                     "copies are removed, never one this run uses")
        ->check(numberWithin(0, true, 1e9, "GiB"))
        ->capture_default_str();
}

void CommandLine::addTimeout(double& seconds) {
    app_->add_option("--timeout", seconds,
                     "seconds a request for a picture on a server may wait for the server to connect or to "
                     "send more")
        ->check(numberWithin(0, false, 86400, "SECONDS"))
        ->capture_default_str();
}

void CommandLine::addPictureSelection(PictureSelection& selection) {
    app_->add_option("--t", selection.timePoint,
                     "the time point shown of a picture that has several (an OME-Zarr store), from 0")
        ->capture_default_str();
    app_->add_option("--z", selection.depth, "the depth shown of a picture that has several, from 0")
        ->capture_default_str();
    app_->add_option("--profile", selection.profile,
                     "the profile of ~/.aws/credentials and ~/.aws/config whose keys sign requests to an "
                     "s3:// URL (by default AWS_PROFILE, else default)")
        ->type_name("NAME");
}

ParseResult CommandLine::parse(int argc, const char* const* argv) {
    try {
        app_->parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app_->help();
        return ParseResult::Done;
    } catch (const CLI::ParseError& error) {
        throw DemoError(oneLine(error.what()) + " (see --help)");
    }
    if (width_ != nullptr && !parseFrameSize(size_, *width_, *height_))
        throw DemoError("--size: '" + size_ + "' is not WIDTHxHEIGHT with each side 1 to " +
                        std::to_string(kMaxFrameSide));
    return ParseResult::Run;
}

}  // namespace zelvan_demo
