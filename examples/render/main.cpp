// zelvan-render: draws images (or the built-in scene) through Zelvan without a window and writes
// the frame to a PNG file. Run with --help for the options.

#include "frame.h"
#include "headless_context.h"
#include "library_session.h"
#include "output_file.h"
#include "png_writer.h"
#include "program_main.h"
#include "render_options.h"
#include "render_scene.h"

using namespace zelvan_demo;

namespace {

void render(const RenderOptions& options) {
    // Claimed first, so an unwritable path fails before seconds of decoding.
    OutputFile output(options.output);
    HeadlessContext context(options.width, options.height);
    LibrarySession library;
    const auto layers = loadScene(options);
    drawScene(layers, options);
    writePng(output.stream(), readFrame(options.width, options.height), options.output);
    output.commit();
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    return runProgram(
        "zelvan-render", [&] { return parseRenderOptions(argc, argv, options) == ParseResult::Done; },
        [&] { render(options); });
}
