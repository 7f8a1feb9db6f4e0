// zelvan-view: shows a PNG or JPEG of any size through Zelvan in a window. Run with --help.
#include <GLFW/glfw3.h>

#include <string>

#include "image_reading.h"
#include "program.h"
#include "scene.h"
#include "view_options.h"
#include "viewer_window.h"

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

BgraImage loadPicture(const ViewOptions& options) {
    if (options.input.empty()) {
        ProgressLine progress("generating the built-in fractal", "rows");
        return makeFractalImage(kFractalWidth, kFractalHeight, progress.callback());
    }
    ProgressLine progress("decoding " + options.input, "rows");
    return loadImageFile(options.input, progress.callback());
}

zelvan::Pyramid uploadWithProgress(const BgraImage& picture, const std::string& name) {
    ProgressLine progress("uploading " + name, "rows");
    return uploadPicture(picture, name, progress.callback());
}

void view(const ViewOptions& options) {
    const std::string name = options.input.empty() ? "built-in fractal" : options.input;
    // Started before the window because the built-in fractal asks the library for its block grid;
    // the picture's textures are deleted before the window closes.
    const zelvan::Library library;
    checkStarted(library);
    // Decoded before the window opens, so a bad file is reported without one flashing up.
    BgraImage picture = loadPicture(options);
    Glfw glfw;
    ViewerWindow window(options.width, options.height, "zelvan-view: " + name);
    zelvan::Pyramid shown = uploadWithProgress(picture, name);
    window.show(shown);
    picture.pixels.reset();  // the pixels are in textures now; the memory goes back
    if (options.screenshot.empty())
        window.run();
    else
        window.screenshot(options.frames, options.screenshot);
}

}  // namespace

int main(int argc, char** argv) { return runProgram("zelvan-view", argc, argv, parseViewOptions, view); }
