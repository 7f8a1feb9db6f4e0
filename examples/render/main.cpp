// zelvan-render: draws images (or the built-in scene) through Zelvan without a window and writes
// the frame to a PNG file. Run with --help for the options.

#include "headless_context.h"
#include "image_writing.h"
#include "program.h"
#include "render_options.h"
#include "render_scene.h"
#include "scene.h"

using namespace zelvan_demo;

namespace {

void render(const RenderOptions& options) {
    // Claimed first, so an unwritable path fails before seconds of decoding.
    OutputFile output(options.output);
    HeadlessContext context(options.width, options.height);
    const zelvan::Library library;
    checkStarted(library);
    const auto layers = loadScene(options);
    drawScene(layers, options);
    writePng(output.stream(), readFrame(options.width, options.height), options.output);
    output.commit();
}

}  // namespace

int main(int argc, char** argv) {
    return runProgram("zelvan-render", argc, argv, parseRenderOptions, render);
}
