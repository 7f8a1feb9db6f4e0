#include "render_scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "picture_opening.h"
#include "program.h"
#include "progress.h"
#include "streamed_picture.h"

namespace zelvan_demo {

zelvan::Placement placementFromOptions(const RenderOptions& options, std::uint32_t width,
                                       std::uint32_t height) {
    zelvan::Placement placement = zelvan::fit(width, height, options.width, options.height);
    if (!options.fit) placement.scaleX = placement.scaleY = options.scale;
    placement.centreX += options.translateX;
    placement.centreY += options.translateY;
    placement.rotateX = options.rotateX;
    placement.rotateY = options.rotateY;
    placement.rotateZ = options.rotateZ;
    placement.alpha = std::uint8_t(options.opacity);
    return placement;
}

namespace {

std::unique_ptr<ShownPicture> load(std::unique_ptr<BandSource> source, const std::string& name, int passes) {
    auto picture = std::make_unique<StreamedPicture>(std::move(source), name);
    picture->setPasses(passes);
    ProgressLine progress("loading " + name, "rows");
    picture->finishLoading(progress.callback());
    return picture;
}

// The fractal as the options place it, and over it the overlay: a third of the frame wide,
// turned 20 degrees and half transparent.
Scene builtInScene(const RenderOptions& options) {
    Scene pictures;
    pictures.push_back(
        load(fractalSource(kFractalWidth, kFractalHeight), "the built-in fractal", options.passes));
    pictures.back()->place(placementFromOptions(options, kFractalWidth, kFractalHeight));
    pictures.push_back(
        load(overlaySource(kOverlayWidth, kOverlayHeight), "the built-in overlay", options.passes));
    zelvan::Placement placement =
        zelvan::fit(kOverlayWidth, kOverlayHeight, options.width / 2.2, options.height / 2.2);
    placement.centreX = options.width / 2.0;
    placement.centreY = options.height / 2.0;
    placement.rotateZ = 20;
    placement.alpha = 128;
    pictures.back()->place(placement);
    return pictures;
}

// Only a picture of raw samples has channels to map.
void applyMapping(ShownPicture& picture, const MappingRequest& request, const std::string& name) {
    zelvan::TileView* channels = picture.channels();
    if (channels == nullptr)
        throw DemoError(name + ": has colours of its own, no channels to map (--channel, --colormap)");
    std::string reason;
    if (!channels->setMapping(mappingFor(request, *channels, name), &reason))
        throw DemoError(name + ": " + reason);
}

void throwFailure(const Scene& pictures) {
    for (const auto& picture : pictures)
        if (const std::string failure = picture->failure(); !failure.empty()) throw DemoError(failure);
}

}  // namespace

PictureOptions pictureOptions(const RenderOptions& options) {
    PictureOptions opening;
    opening.budgetBytes = options.budgetMiB << 20;
    opening.passes = options.passes;
    opening.sources = sourceOptions(options.cacheDirectory, options.cacheLimitGiB, options.timeoutSeconds,
                                    options.range, options.selection, "zelvan-render");
    opening.sources.rawSamples = !options.channels.empty() || !options.colormap.empty();
    // The frame wants all its tiles at once, and the program leaves once they have come: twice the six
    // requests a browser makes to a server at once over HTTP/1.1.
    opening.sources.requestsPerHost = 12;
    opening.uploadBytesPerFrame = opening.budgetBytes;  // only the last frame is seen
    // The drawing thread mostly waits for tiles: a reader on every core.
    opening.readers = std::max(1u, std::thread::hardware_concurrency());
    opening.onlyScale = [&options](std::uint32_t width, std::uint32_t height) {
        const zelvan::Placement placement = placementFromOptions(options, width, height);
        return std::min(std::fabs(placement.scaleX), std::fabs(placement.scaleY));
    };
    return opening;
}

std::vector<PictureChoice> choosePictures(const RenderOptions& options) {
    std::vector<PictureChoice> chosen;
    for (const std::string& path : options.inputs)
        chosen.push_back(choosePicture(path, pictureOptions(options)));
    return chosen;
}

Scene loadScene(const RenderOptions& options, std::vector<PictureChoice> chosen,
                const MappingRequest& mapping) {
    if (options.inputs.empty()) return builtInScene(options);
    Scene pictures;
    for (PictureChoice& choice : chosen) {
        pictures.push_back(showPicture(std::move(choice), pictureOptions(options)));
        ShownPicture& picture = *pictures.back();
        const std::string& name = options.inputs[pictures.size() - 1];
        if (mapping.given()) applyMapping(picture, mapping, name);
        ProgressLine progress("loading " + name, "rows");
        picture.finishLoading(progress.callback());
        picture.place(placementFromOptions(options, picture.width(), picture.height()));
    }
    return pictures;
}

void drawScene(Scene& pictures, const RenderOptions& options) {
    double depth = 1;
    for (const auto& picture : pictures)
        depth = std::max(depth, depthReach(picture->placement(), picture->width(), picture->height()));
    using Clock = std::chrono::steady_clock;
    // Past a year the clock's count would overflow; no wait is that long.
    const double seconds = std::min(options.frameTimeoutSeconds, 365 * 86400.0);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    // Only the last frame is seen: each picture waits for its tiles first, then one frame draws them
    // all, and is the one kept once nothing in it is missing.
    for (;;) {
        for (const auto& picture : pictures) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            const bool still =
                picture->waitForStillFrame(options.width, options.height, std::max(left, left.zero()));
            throwFailure(pictures);  // first: a tile read again after failing may come back black
            if (!still)
                throw DemoError("the tiles of the frame were not all read within " +
                                std::to_string(int(options.frameTimeoutSeconds)) + " s (--frame-timeout)");
        }
        beginFrame(options.width, options.height, depth, options.background);
        for (const auto& picture : pictures) picture->draw(options.width, options.height);
        glFinish();
        throwFailure(pictures);
        if (std::all_of(pictures.begin(), pictures.end(), [](const auto& p) { return p->complete(); }))
            return;
    }
}

}  // namespace zelvan_demo
