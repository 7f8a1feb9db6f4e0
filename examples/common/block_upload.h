#pragma once
#include <string>

#include "bgra_image.h"
#include "progress.h"
#include "zelvan.h"

namespace zelvan_demo {

// Creates a library image of the same size and uploads it block by block, telling `blocksDone`
// after each block. Throws DemoError naming `name` when the library refuses the image or a block;
// nothing is left behind then. Needs ZelvanInit and a current OpenGL context.
ZelvanHandle uploadImage(const BgraImage& image, const std::string& name, const ProgressFn& blocksDone = {});

}  // namespace zelvan_demo
