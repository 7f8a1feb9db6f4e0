#include "view_options.h"

#include <CLI/CLI.hpp>

#include "channel_mapping.h"

namespace zelvan_demo {

ParseResult parseViewOptions(int argc, const char* const* argv, ViewOptions& options) {
    CommandLine commandLine{
        "Shows a picture of any size (any format libvips reads) through Zelvan in a window, as it loads "
        "(with no file, a built-in 6000 x 4000 fractal).",
        "zelvan-view"};
    CLI::App& app = commandLine.app();
    app.footer(
        "Controls: drag to pan; wheel to zoom about the cursor; + and - to zoom about the centre; "
        "Left and Right to turn by 15 degrees; Up and Down for more or less opacity; F or Space to fit; "
        "0 (or 1) for one image pixel per screen pixel; Escape or Q to quit. A picture of raw samples "
        "(16-bit, float, many channels) shows its channels in a panel (where built with Dear ImGui): "
        "1 to 9 show or hide a channel and select it, A sets every channel's limits automatically, C "
        "the selected channel's next curve, M its next colormap, P hides or shows the panel.");
    app.add_option("image", options.input,
                   "the picture file, OME-Zarr store (a directory), or http(s) or s3:// URL of a picture "
                   "on a server, to show");
    std::string range;
    addRangeOption(app, range);
    commandLine.addFrameSize(options.width, options.height, "the window's size, WIDTHxHEIGHT");
    commandLine.addPictureMemory(options.budgetMiB, options.cacheDirectory, options.cacheLimitGiB);
    commandLine.addTimeout(options.timeoutSeconds);
    commandLine.addPictureSelection(options.selection);
    app.add_option(
           "--rest-passes", options.restPasses,
           "once the view has rested a quarter of a second, draws it again with the finer level this "
           "many times (1 to 16), closer to the picture box-filtered, until the next movement; 0 or 3: "
           "off")
        ->check(CLI::Range(0, 16))
        ->capture_default_str();
    app.add_option("--channel", options.channels, kChannelHelp)
        ->allow_extra_args(false)
        ->type_name("INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]]");
    app.add_option("--colormap", options.colormap, kColormapHelp)->type_name("NAME");
    // Hidden (empty group): used by the smoke test under a virtual X server.
    app.add_option("--screenshot", options.screenshot)->group("");
    app.add_option("--frames", options.frames)->check(CLI::Range(1, 1000))->group("");
    app.add_option("--loaded-rows", options.loadedRows)->group("");
    app.add_option("--next-plane", options.nextPlane)->delimiter(',')->expected(2)->group("");
    app.add_option("--tour", options.tour)->check(CLI::Range(1, 100000))->group("");
    if (commandLine.parse(argc, argv) == ParseResult::Done) return ParseResult::Done;
    if (!range.empty()) options.range = displayRange(range);
    return ParseResult::Run;
}

}  // namespace zelvan_demo
