#include "view_options.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "demo_error.h"
#include "option_values.h"

namespace zelvan_demo {

ViewParse parseViewOptions(int argc, const char* const* argv, ViewOptions& options) {
    CLI::App app{
        "Shows a PNG or JPEG of any size through Zelvan in a window (with no file, a built-in "
        "6000 x 4000 fractal).",
        "zelvan-view"};
    app.footer(
        "Controls: drag to pan; wheel to zoom about the cursor; + and - to zoom about the centre; "
        "Left and Right to turn by 15 degrees; Up and Down for more or less opacity; F or Space to fit; "
        "1 for one image pixel per screen pixel; Escape or Q to quit.");
    std::string size = "1024x768";
    app.add_option("image", options.input, "the PNG or JPEG file to show");
    app.add_option("-s,--size", size, "the window's size, WIDTHxHEIGHT")->capture_default_str();
    // Hidden (empty group): used by the smoke test under a virtual X server.
    app.add_option("--screenshot", options.screenshot)->group("");
    app.add_option("--frames", options.frames)->check(CLI::Range(1, 1000))->group("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return ViewParse::Done;
    } catch (const CLI::ParseError& error) {
        throw DemoError(oneLine(error.what()) + " (see --help)");
    }
    if (!parseFrameSize(size, options.width, options.height))
        throw DemoError("--size: '" + size + "' is not WIDTHxHEIGHT with each side 1 to 16384");
    return ViewParse::Run;
}

}  // namespace zelvan_demo
