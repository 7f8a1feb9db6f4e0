// zelvan-render: draws images (or the built-in scene) through Zelvan without a window and writes
// the frame to a PNG file. Run with --help for the options.
#include <cstdio>
#include <exception>
#include <new>

#include "demo_error.h"
#include "frame.h"
#include "headless_context.h"
#include "library_session.h"
#include "output_file.h"
#include "png_writer.h"
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

int fail(const char* message) {
    std::fprintf(stderr, "zelvan-render: %s\n", message);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    RenderOptions options;
    try {
        if (parseRenderOptions(argc, argv, options) == ParseResult::Done) return 0;
    } catch (const DemoError& error) {
        std::fprintf(stderr, "zelvan-render: %s\n", error.what());
        return 2;
    }
    try {
        render(options);
        return 0;
    } catch (const DemoError& error) {
        return fail(error.what());
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& error) {
        return fail(error.what());
    }
}
