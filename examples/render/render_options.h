#pragma once
// zelvan-render's command line.
#include <cstddef>
#include <string>
#include <vector>

#include "command_line.h"
#include "scene.h"
#include "zelvan_sources.hpp"

namespace zelvan_demo {

struct RenderOptions {
    std::vector<std::string> inputs;  // none: the built-in scene
    std::string output = "zelvan-demo.png";
    int width = 1200, height = 800;
    bool fit = true;     // scale to fit the frame, or else by `scale`
    double scale = 1.0;  // frame pixels per image pixel
    double translateX = 0, translateY = 0;
    double rotateX = 0, rotateY = 0, rotateZ = 0;
    int opacity = 255;
    int passes = 16;  // draws of the finer level a frame between two levels: a still's time buys them
    Rgb background{0x1c, 0x20, 0x26};
    std::size_t budgetMiB = 256;   // texture memory per picture (a sheet's: all its pictures together)
    std::string cacheDirectory;    // pyramidal copies of pictures larger than the budget; empty: the default
    double cacheLimitGiB = 10;     // the most they take together; 0: no limit
    std::string savePyramid;       // write the one image's pyramid here instead of a frame
    std::size_t sheetColumns = 0;  // a contact sheet of the pictures in this many columns; 0: none
    double frameTimeoutSeconds = 300;     // for the tiles of a frame to be read
    double timeoutSeconds = 30;           // for a server to answer a request for a picture on it
    zelvan::sources::DisplayRange range;  // how the pictures' samples map to 8 bits
    PictureSelection selection;           // the plane of each picture, the object store's profile
    // --channel and --colormap as given: read when the program runs, so that a bad mapping, like a
    // picture it does not fit, fails with status 1 (channel_mapping.h).
    std::vector<std::string> channels;
    std::string colormap;
};

// Fills `options` from the command line. Done when --help was asked for and printed.
// Throws DemoError with a one-line message for unknown options and nonsense values.
ParseResult parseRenderOptions(int argc, const char* const* argv, RenderOptions& options);

}  // namespace zelvan_demo
