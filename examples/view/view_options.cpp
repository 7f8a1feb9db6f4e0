#include "view_options.h"

#include <CLI/CLI.hpp>

#include "channel_mapping.h"
#include "program.h"

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
        "0 (or 1) for one image pixel per screen pixel; Escape or Q to quit; with --grid, each in the pane "
        "under the cursor, moving every pane alike; with --sheet, --overlay or --navigator, N shows or hides "
        "the navigator and [ and ] (or the slider at the bottom left) change the overlay's opacity. A "
        "picture "
        "of raw samples "
        "(16-bit, float, many channels) shows its channels in a panel (where built with Dear ImGui): "
        "1 to 9 show or hide a channel and select it, A sets every channel's limits automatically, C "
        "the selected channel's next curve, M its next colormap, P hides or shows the panel.");
    app.add_option("image", options.input,
                   "the picture file, OME-Zarr store (a directory), or http(s) or s3:// URL of a picture "
                   "on a server, to show");
    app.add_option("more", options.more, "with --grid or --sheet: more pictures, or folders of them");
    app.add_option("--grid", options.grid,
                   "show each picture (a folder: its pictures in name order; 64 at most) in a pane of its "
                   "own, COLUMNS columns of them (at most one a picture) 4 pixels of background apart, all "
                   "moving together: the same pan, zoom and turn in every pane, the pictures' top-left "
                   "corners together; one texture budget for all")
        ->type_name("COLUMNS");
    app.add_option(
           "--sheet", options.sheet,
           "show the pictures (a folder: its pictures in name order, a contact sheet) side by side in "
           "COLUMNS columns, each at its own scale in a cell the size of the largest: pan and zoom "
           "move them all, to any of them at 1:1; one texture budget for all")
        ->type_name("COLUMNS");
    app.add_option(
           "--overlay", options.overlay,
           "a picture drawn over the first one (its opacity set with the slider at the window's bottom left, "
           "or [ and ])")
        ->type_name("FILE");
    app.add_option("--overlay-opacity", options.overlayOpacity, "the overlay's opacity, 0 to 1")
        ->check(CLI::Range(0.0, 1.0))
        ->capture_default_str();
    app.add_option("--overlay-offset", options.overlayOffset,
                   "where the overlay's top-left corner goes, X,Y in the first picture's pixels")
        ->delimiter(',')
        ->expected(2);
    app.add_option("--overlay-scale", options.overlayScale,
                   "the first picture's pixels per pixel of the overlay")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_flag("--navigator", options.navigator,
                 "start with the navigator shown: the whole picture in a corner, the part the window shows "
                 "outlined; a click in it goes there (N shows or hides it, with --sheet or --overlay too)");
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
    if (app.count("--grid") > 0 && options.grid == 0)
        throw DemoError("--grid: give 1 or more columns, not 0");
    if (app.count("--sheet") > 0 && options.sheet == 0)
        throw DemoError("--sheet: give 1 or more columns, not 0");
    if (options.grid > 0 && options.sheet > 0)
        throw DemoError("--grid (panes) and --sheet (a contact sheet) show pictures together: choose one");
    if (!options.more.empty() && options.grid == 0 && options.sheet == 0)
        throw DemoError(
            "several pictures are shown together with --grid COLUMNS (panes) or --sheet COLUMNS (a sheet)");
    if ((options.board() || options.grid > 0) && options.input.empty())
        throw DemoError("--grid, --sheet, --overlay and --navigator show pictures: name one");
    if ((options.grid > 0 || options.sheet > 0) && !options.overlay.empty())
        throw DemoError("--overlay goes over one picture, not --grid's panes or --sheet's cells");
    if (options.grid > 0 && options.navigator)
        throw DemoError("--navigator shows one picture whole, not --grid's panes");
    if (options.grid > 0 && (!options.channels.empty() || !options.colormap.empty()))
        throw DemoError("--channel and --colormap map one picture's channels, not --grid's panes");
    for (const char* overlayOption : {"--overlay-opacity", "--overlay-offset", "--overlay-scale"})
        if (app.count(overlayOption) > 0 && options.overlay.empty())
            throw DemoError(std::string(overlayOption) + " needs --overlay FILE");
    return ParseResult::Run;
}

}  // namespace zelvan_demo
