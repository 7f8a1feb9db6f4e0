#pragma once
// zelvan-view's command line.
#include <string>

#include "command_line.h"

namespace zelvan_demo {

struct ViewOptions {
    std::string input;  // empty: the built-in fractal
    int width = 1024, height = 768;
    // For tests: draw this many frames, save the last as a PNG and quit.
    std::string screenshot;
    int frames = 3;
};

// Fills `options`; Done when --help was printed. Throws DemoError with a one-line message.
ParseResult parseViewOptions(int argc, const char* const* argv, ViewOptions& options);

}  // namespace zelvan_demo
