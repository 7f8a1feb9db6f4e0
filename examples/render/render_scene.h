#pragma once
// What zelvan-render draws: the images named on the command line, or the built-in scene.
#include <vector>

#include "render_options.h"
#include "scene.h"
#include "streamed_picture.h"

namespace zelvan_demo {

// The placement the options ask for: fitted or scaled, centred, then moved, turned and faded.
zelvan::Placement placementFromOptions(const RenderOptions& options, std::uint32_t width,
                                       std::uint32_t height);

// Streams every picture in, each decoded on a thread of its own while this one uploads it, and
// places it. Throws DemoError. Needs a zelvan::Library and the context current.
std::vector<StreamedPicture> loadScene(const RenderOptions& options);

// Clears the frame to the background and draws the pictures in order.
void drawScene(const std::vector<StreamedPicture>& pictures, const RenderOptions& options);

}  // namespace zelvan_demo
