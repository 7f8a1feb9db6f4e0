#pragma once
// What zelvan-render draws: the images named on the command line, or the built-in scene.
#include <vector>

#include "render_options.h"
#include "scene.h"

namespace zelvan_demo {

struct Layer {
    zelvan::Pyramid pyramid;
    zelvan::Placement placement;
};

// The placement the options ask for: fitted or scaled, centred, then moved, turned and faded.
zelvan::Placement placementFromOptions(const RenderOptions& options, std::uint32_t width,
                                       std::uint32_t height);

// Decodes (or generates) and uploads every layer, freeing each image's pixels once its blocks are
// in textures. Throws DemoError. Needs a zelvan::Library and the context current.
std::vector<Layer> loadScene(const RenderOptions& options);

// Clears the frame to the background and draws the layers in order.
void drawScene(const std::vector<Layer>& layers, const RenderOptions& options);

}  // namespace zelvan_demo
