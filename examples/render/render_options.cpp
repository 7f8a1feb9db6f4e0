#include "render_options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>

#include "channel_mapping.h"
#include "program.h"

namespace zelvan_demo {

namespace {

// CLI11 reads "nan" and "inf" as numbers; no placement means anything with them.
const CLI::Validator kFinite(
    [](std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        return std::isfinite(value) ? std::string() : "must be a finite number, not " + text;
    },
    "NUMBER");

const CLI::Validator kPositive(
    [](std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        return std::isfinite(value) && value > 0 ? std::string() : "must be a positive number, not " + text;
    },
    "POSITIVE");

// "#RRGGBB" or "RRGGBB" into a colour; false for anything else.
bool parseColour(const std::string& text, Rgb& colour) {
    const std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    const unsigned long value = std::strtoul(hex.c_str(), nullptr, 16);
    colour = {std::uint8_t(value >> 16), std::uint8_t(value >> 8), std::uint8_t(value)};
    return true;
}

// A sheet places each picture itself, and maps no channels.
void checkSheet(const CLI::App& app, const RenderOptions& options) {
    if (options.sheetColumns == 0) throw DemoError("--sheet: give 1 or more columns, not 0");
    if (options.inputs.empty()) throw DemoError("--sheet: name the pictures, or a folder of them");
    for (const char* other :
         {"--scale", "--translate", "--rotate", "--save-pyramid", "--channel", "--colormap"})
        if (app.count(other) > 0)
            throw DemoError(std::string("--sheet: ") + other + " does not apply to a contact sheet");
}

}  // namespace

ParseResult parseRenderOptions(int argc, const char* const* argv, RenderOptions& options) {
    CommandLine commandLine{
        "Draws images through Zelvan in an OpenGL context of its own, without a window, and writes the "
        "frame to a PNG file. With no image it draws a built-in scene: a 6000 x 4000 fractal, many "
        "blocks wide and high, with a rotated, half-transparent picture over it.",
        "zelvan-render"};
    CLI::App& app = commandLine.app();
    std::string background = "#1c2026";
    std::vector<double> translate, rotate;
    double scale = 0;

    std::string range;
    app.add_option(
        "images", options.inputs,
        "picture files (any format libvips reads), OME-Zarr stores (directories), or http(s) and s3:// "
        "URLs of pictures on servers, drawn in order (later ones on top)");
    app.add_option("-o,--output", options.output, "the PNG file to write")->capture_default_str();
    commandLine.addFrameSize(options.width, options.height,
                             "the frame's size in pixels, WIDTHxHEIGHT (each 1 to 16384 and within what the "
                             "OpenGL allows for a pbuffer: 4096 with Mesa's software renderer)");
    auto* fit = app.add_flag("--fit", "fit the whole image into the frame, centred (the default)");
    app.add_option("--scale", scale, "frame pixels per image pixel instead of fitting")
        ->check(kPositive)
        ->excludes(fit);
    app.add_option("-t,--translate", translate, "move the image's centre right and up by X,Y pixels")
        ->delimiter(',')
        ->expected(2)
        ->check(kFinite);
    app.add_option("-r,--rotate", rotate,
                   "turn the image about its centre by X,Y,Z degrees about the three axes, "
                   "Z being the turn in the frame's plane")
        ->delimiter(',')
        ->expected(3)
        ->check(kFinite);
    app.add_option("-a,--opacity", options.opacity, "0 (invisible) to 255 (opaque)")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    app.add_option("--passes", options.passes,
                   "how many times the level finer than the scale is drawn, a fraction of a pixel apart: "
                   "1 to 16; more come closer to the picture's average, each one draw more")
        ->check(CLI::Range(1, 16))
        ->capture_default_str();
    app.add_option("-b,--background", background, "the frame's colour, #RRGGBB")->capture_default_str();
    commandLine.addPictureMemory(options.budgetMiB, options.cacheDirectory, options.cacheLimitGiB);
    app.add_option(
        "--save-pyramid", options.savePyramid,
        "instead of drawing, write the one image given as a pyramidal tiled TIFF (levels averaged in "
        "linear light) that both programs then draw tile by tile");
    auto* sheet = app.add_option(
        "--sheet", options.sheetColumns,
        "draw the pictures as a contact sheet of COLUMNS columns over the frame (rows as many as they fill), "
        "each fitted into its cell; a folder stands for its pictures in name order, its files that are no "
        "pictures skipped with a warning. A picture that cannot be read leaves its cell empty with a "
        "warning; the exit status is 0 when at least one picture was drawn. --budget holds the textures "
        "of all the pictures, --frame-timeout each picture's wait");
    sheet->type_name("COLUMNS");
    app.add_option("--frame-timeout", options.frameTimeoutSeconds,
                   "seconds to wait for the tiles a frame draws")
        ->check(kPositive)
        ->capture_default_str();
    commandLine.addTimeout(options.timeoutSeconds);
    commandLine.addPictureSelection(options.selection);
    addRangeOption(app, range);
    app.add_option("--channel", options.channels, kChannelHelp)
        ->allow_extra_args(false)
        ->type_name("INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]]");
    app.add_option("--colormap", options.colormap, kColormapHelp)->type_name("NAME");

    if (commandLine.parse(argc, argv) == ParseResult::Done) return ParseResult::Done;
    if (!parseColour(background, options.background))
        throw DemoError("--background: '" + background + "' is not a colour like #1c2026");
    if (options.output.empty()) throw DemoError("--output: the path is empty");
    if (app.count("--save-pyramid") > 0 && options.savePyramid.empty())
        throw DemoError("--save-pyramid: the path is empty");
    if (!options.savePyramid.empty() && options.inputs.size() != 1)
        throw DemoError("--save-pyramid: give exactly one image to write");
    if (app.count("--sheet") > 0) checkSheet(app, options);
    if (!range.empty()) options.range = displayRange(range);
    if (scale > 0) {
        options.fit = false;
        options.scale = scale;
    }
    if (!translate.empty()) {
        options.translateX = translate[0];
        options.translateY = translate[1];
    }
    if (!rotate.empty()) {
        options.rotateX = rotate[0];
        options.rotateY = rotate[1];
        options.rotateZ = rotate[2];
    }
    return ParseResult::Run;
}

}  // namespace zelvan_demo
