#include "render_options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include "demo_error.h"
#include "option_values.h"

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

}  // namespace

ParseResult parseRenderOptions(int argc, const char* const* argv, RenderOptions& options) {
    CLI::App app{
        "Draws images through Zelvan in an OpenGL context of its own, without a window, and writes the "
        "frame to a PNG file. With no image it draws a built-in scene: a 6000 x 4000 fractal, many "
        "blocks wide and high, with a rotated, half-transparent picture over it.",
        "zelvan-render"};
    std::string size = "1200x800", background = "#1c2026";
    std::vector<double> translate, rotate;
    double scale = 0;

    app.add_option("images", options.inputs, "PNG or JPEG files, drawn in order (later ones on top)");
    app.add_option("-o,--output", options.output, "the PNG file to write")->capture_default_str();
    app.add_option(
           "-s,--size", size,
           "the frame's size in pixels, WIDTHxHEIGHT (each 1 to 16384 and within what the OpenGL allows "
           "for a pbuffer: 4096 with Mesa's software renderer)")
        ->capture_default_str();
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
    app.add_option("-b,--background", background, "the frame's colour, #RRGGBB")->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return ParseResult::Done;
    } catch (const CLI::ParseError& error) {
        throw DemoError(oneLine(error.what()) + " (see --help)");
    }
    if (!parseFrameSize(size, options.width, options.height))
        throw DemoError("--size: '" + size + "' is not WIDTHxHEIGHT with each side 1 to 16384");
    if (!parseColour(background, options.background))
        throw DemoError("--background: '" + background + "' is not a colour like #1c2026");
    if (options.output.empty()) throw DemoError("--output: the path is empty");
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
