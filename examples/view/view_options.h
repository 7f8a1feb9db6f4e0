#pragma once
// zelvan-view's command line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "zelvan_sources.hpp"

namespace zelvan_demo {

struct ViewOptions {
    std::string input;                    // a file or an http(s) URL; empty: the built-in fractal
    zelvan::sources::DisplayRange range;  // how the picture's samples map to 8 bits
    PictureSelection selection;           // the plane shown first, the object store's profile
    int width = 1024, height = 768;
    // For tests: load `loadedRows` rows (0: all), draw this many frames, save the last as a PNG and
    // quit.
    std::string screenshot;
    int frames = 3;
    std::vector<unsigned> nextPlane;  // time point and depth, asked for once the first plane is shown
    std::uint32_t loadedRows = 0;
    int tour = 0;  // for the benchmark: frames of panning, zooming and turning, then quit
    // Passes of the finer level (zelvan::Pyramid::draw's) for the frame drawn once the view has rested;
    // 0 or 3: none, every frame the 3 that keep moving frames cheap.
    int restPasses = 16;
    std::size_t budgetMiB = 256;
    std::string cacheDirectory;  // empty: the default
    double cacheLimitGiB = 10;
    double timeoutSeconds = 30;  // for a server to answer a request for a picture on it
    // --channel and --colormap as given, read when the program runs (channel_mapping.h).
    std::vector<std::string> channels;
    std::string colormap;
    // Several pictures together: more pictures or folders in `grid` columns of panes that move together
    // (sheet/linked_panes.h), or on a board (sheet/board_making.h): side by side in a contact sheet of
    // `sheet` columns, or a picture over the first one; a navigator shown from the start.
    std::vector<std::string> more;
    std::size_t grid = 0, sheet = 0;
    std::string overlay;
    double overlayOpacity = 0.5, overlayScale = 1;
    std::vector<double> overlayOffset;  // X,Y in the first picture's pixels
    bool navigator = false;
    bool board() const { return sheet > 0 || !overlay.empty() || navigator; }
};

// Fills `options`; Done when --help was printed. Throws DemoError with a one-line message.
ParseResult parseViewOptions(int argc, const char* const* argv, ViewOptions& options);

}  // namespace zelvan_demo
