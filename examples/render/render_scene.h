#pragma once
// What zelvan-render draws: the images named on the command line, or the built-in scene.
#include <memory>
#include <vector>

#include "channel_mapping.h"
#include "picture_opening.h"
#include "render_options.h"
#include "scene.h"
#include "shown_picture.h"

namespace zelvan_demo {

using Scene = std::vector<std::unique_ptr<ShownPicture>>;

// The placement the options ask for: fitted or scaled, centred, then moved, turned and faded.
zelvan::Placement placementFromOptions(const RenderOptions& options, std::uint32_t width,
                                       std::uint32_t height);

// How the options have pictures opened: the budget, the cache, the scale each will be drawn at.
PictureOptions pictureOptions(const RenderOptions& options);

// What each picture named is drawn from (picture_opening.h), in order; needs no OpenGL, so that it
// can run while the context is made. Throws DemoError.
std::vector<PictureChoice> choosePictures(const RenderOptions& options);

// The pictures chosen (with none named, the built-in scene), placed: streamed in (each decoded on a
// thread of its own while this one uploads it, halved first when the frame draws only coarser
// levels), or, too large for the budget or of raw samples, drawn tile by tile, through `mapping`
// where one is given. Throws DemoError (a picture the mapping does not fit too). Needs a
// zelvan::Library and the context current.
Scene loadScene(const RenderOptions& options, std::vector<PictureChoice> chosen,
                const MappingRequest& mapping);

// Clears the frame to the background and draws the pictures in order, again and again until every
// tile each draws has been read, the last frame left in the buffer. Throws DemoError when tiles
// cannot be read or do not come within the options' timeout.
void drawScene(Scene& pictures, const RenderOptions& options);

}  // namespace zelvan_demo
