// zelvan-view: shows a picture of any size (any format libvips reads) through Zelvan in a window, from the
// moment it starts loading. Run with --help.
#include <GLFW/glfw3.h>

#include <memory>
#include <string>
#include <utility>

#include "image_reading.h"
#include "program.h"
#include "scene.h"
#include "streamed_picture.h"
#include "view_options.h"
#include "viewer_window.h"
#include "vips_picture.h"

using namespace zelvan_demo;

namespace {

std::string glfwProblem;

struct Glfw {
    Glfw() {
        glfwSetErrorCallback([](int, const char* description) { glfwProblem = description; });
        if (!glfwInit()) throw DemoError("cannot start GLFW: " + glfwProblem);
    }
    ~Glfw() { glfwTerminate(); }
};

// Strips of 2048 pixels: four blocks, a step of about 20 ms of uploading on llvmpipe.
constexpr std::uint32_t kStripWidth = 2048;

void view(const ViewOptions& options) {
    const std::string name = options.input.empty() ? "built-in fractal" : options.input;
    // Opened before the window, so a file that is missing or no picture is reported without one
    // flashing up.
    std::unique_ptr<BandSource> source =
        options.input.empty() ? nullptr : openBandSource(options.input, options.range);
    // Started before the window because the built-in fractal asks the library for its block grid;
    // the picture's textures are deleted before the window closes.
    const zelvan::Library library;
    checkStarted(library);
    if (!source) source = fractalSource(kFractalWidth, kFractalHeight);
    Glfw glfw;
    ViewerWindow window(options.width, options.height, "zelvan-view: " + name);
    StreamedPicture picture(std::move(source), name, kStripWidth);
    window.show(picture);
    if (options.screenshot.empty())
        window.run();
    else
        window.screenshot(options.frames, options.screenshot, options.loadedRows);
}

}  // namespace

int main(int argc, char** argv) { return runProgram("zelvan-view", argc, argv, parseViewOptions, view); }
