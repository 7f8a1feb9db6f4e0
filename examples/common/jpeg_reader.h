#pragma once
#include <cstdio>
#include <string>

#include "bgra_image.h"
#include "progress.h"

namespace zelvan_demo {

// Decodes a whole JPEG file (grey, colour or CMYK) from `file` into blue-green-red-alpha with
// alpha 255. `name` labels the messages; `rowsDone` hears of rows completed. Throws DemoError for
// a damaged, truncated or unsupported file and for a size memory cannot hold.
BgraImage readJpeg(std::FILE* file, const std::string& name, const ProgressFn& rowsDone);

}  // namespace zelvan_demo
