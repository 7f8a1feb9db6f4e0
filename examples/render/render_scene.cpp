#include "render_scene.h"

#include <GL/gl.h>

#include <algorithm>
#include <utility>

#include "progress.h"

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

StreamedPicture load(std::unique_ptr<BandSource> source, const std::string& name) {
    StreamedPicture picture(std::move(source), name);
    ProgressLine progress("loading " + name, "rows");
    picture.finish(progress.callback());
    return picture;
}

// The fractal as the options place it, and over it the overlay: a third of the frame wide,
// turned 20 degrees and half transparent.
std::vector<StreamedPicture> builtInScene(const RenderOptions& options) {
    std::vector<StreamedPicture> pictures;
    pictures.push_back(load(fractalSource(kFractalWidth, kFractalHeight), "the built-in fractal"));
    pictures.back().place(placementFromOptions(options, kFractalWidth, kFractalHeight));
    pictures.push_back(load(overlaySource(kOverlayWidth, kOverlayHeight), "the built-in overlay"));
    zelvan::Placement placement =
        zelvan::fit(kOverlayWidth, kOverlayHeight, options.width / 2.2, options.height / 2.2);
    placement.centreX = options.width / 2.0;
    placement.centreY = options.height / 2.0;
    placement.rotateZ = 20;
    placement.alpha = 128;
    pictures.back().place(placement);
    return pictures;
}

}  // namespace

std::vector<StreamedPicture> loadScene(const RenderOptions& options) {
    if (options.inputs.empty()) return builtInScene(options);
    std::vector<StreamedPicture> pictures;
    for (const std::string& path : options.inputs) {
        pictures.push_back(load(openBandSource(path, options.range), path));
        StreamedPicture& picture = pictures.back();
        picture.place(placementFromOptions(options, picture.width(), picture.height()));
    }
    return pictures;
}

void drawScene(const std::vector<StreamedPicture>& pictures, const RenderOptions& options) {
    double depth = 1;
    for (const StreamedPicture& picture : pictures)
        depth = std::max(depth, depthReach(picture.placement(), picture.width(), picture.height()));
    beginFrame(options.width, options.height, depth, options.background);
    for (const StreamedPicture& picture : pictures) picture.draw();
    glFinish();
}

}  // namespace zelvan_demo
