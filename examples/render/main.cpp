// zelvan-render: draws images (or the built-in scene) through Zelvan without a window and writes
// the frame to a PNG file, or writes an image as a pyramidal TIFF. Run with --help for the options.

#include <future>

// After the standard headers, which define __GLIBC__ where it is the C library.
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "headless_context.h"
#include "image_writing.h"
#include "picture_opening.h"
#include "program.h"
#include "progress.h"
#include "render_options.h"
#include "render_scene.h"
#include "render_sheet.h"
#include "scene.h"
#include "zelvan_sources_bands.hpp"

using namespace zelvan_demo;

namespace {

void savePyramid(const RenderOptions& options) {
    const std::string& input = options.inputs.front();
    zelvan::sources::OpenOptions opening =
        sourceOptions(options.cacheDirectory, options.cacheLimitGiB, options.timeoutSeconds, options.range,
                      options.selection, "zelvan-render");
    ProgressLine progress("writing the pyramid of " + input, "%");
    opening.progress = [&progress](double done) { progress.update(std::uint64_t(done * 100), 100); };
    std::string error;
    if (!zelvan::sources::writePyramid(input, options.savePyramid, opening, error)) throw DemoError(error);
}

void render(const RenderOptions& options) {
    if (!options.savePyramid.empty()) return savePyramid(options);
    if (options.sheetColumns > 0) return renderSheet(options);
    const MappingRequest mapping = parseMappingRequest(options.channels, options.colormap);
    if (mapping.given() && options.inputs.empty())
        throw DemoError("--channel and --colormap map the channels of a picture: name one");
    // Claimed first, so an unwritable path fails before seconds of decoding.
    OutputFile output(options.output);
    // The pictures are opened while the context is made, which takes as long.
    std::future<std::vector<PictureChoice>> chosen =
        std::async(std::launch::async, [&options] { return choosePictures(options); });
    HeadlessContext context(options.width, options.height);
    const zelvan::Library library;
    checkStarted(library);
    Scene scene = loadScene(options, chosen.get(), mapping);
    drawScene(scene, options);
    writePng(output.stream(), readFrame(options.width, options.height), options.output);
    output.commit();
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // A frame of a pyramid reads its tiles through buffers of a megabyte or more, made and freed a few
    // at a time: kept in the heap rather than mapped and given back each time, they are not faulted in
    // again (a fitted frame of a 100000 x 100000 pyramid: 0.5 s of processor time instead of 0.7).
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
    return runProgram("zelvan-render", argc, argv, parseRenderOptions, render);
}
