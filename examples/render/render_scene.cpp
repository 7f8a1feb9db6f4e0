#include "render_scene.h"

#include <GL/gl.h>

#include <algorithm>

#include "image_reading.h"
#include "scene.h"

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

Layer upload(const BgraImage& image, const std::string& name, const zelvan::Placement& placement) {
    ProgressLine progress("uploading " + name, "rows");
    Layer layer{uploadPicture(image, name, progress.callback()), placement};
    layer.pyramid.place(placement);
    return layer;
}

// The fractal as the options place it, and over it the overlay: a third of the frame wide,
// turned 20 degrees and half transparent.
std::vector<Layer> builtInScene(const RenderOptions& options) {
    std::vector<Layer> layers;
    {
        ProgressLine progress("generating the built-in fractal", "rows");
        const BgraImage fractal = makeFractalImage(kFractalWidth, kFractalHeight, progress.callback());
        layers.push_back(upload(fractal, "the built-in fractal",
                                placementFromOptions(options, fractal.width, fractal.height)));
    }
    const BgraImage overlay = makeOverlayImage(kOverlayWidth, kOverlayHeight);
    zelvan::Placement placement =
        zelvan::fit(overlay.width, overlay.height, options.width / 2.2, options.height / 2.2);
    placement.centreX = options.width / 2.0;
    placement.centreY = options.height / 2.0;
    placement.rotateZ = 20;
    placement.alpha = 128;
    layers.push_back(upload(overlay, "the built-in overlay", placement));
    return layers;
}

}  // namespace

std::vector<Layer> loadScene(const RenderOptions& options) {
    if (options.inputs.empty()) return builtInScene(options);
    std::vector<Layer> layers;
    for (const std::string& path : options.inputs) {
        BgraImage image;
        {
            ProgressLine progress("decoding " + path, "rows");
            image = loadImageFile(path, progress.callback());
        }
        layers.push_back(upload(image, path, placementFromOptions(options, image.width, image.height)));
    }
    return layers;
}

void drawScene(const std::vector<Layer>& layers, const RenderOptions& options) {
    double depth = 1;
    for (const Layer& layer : layers)
        depth = std::max(depth, depthReach(layer.placement, layer.pyramid.width(), layer.pyramid.height()));
    beginFrame(options.width, options.height, depth, options.background);
    for (const Layer& layer : layers) layer.pyramid.draw();  // one unit per frame pixel
    glFinish();
}

}  // namespace zelvan_demo
