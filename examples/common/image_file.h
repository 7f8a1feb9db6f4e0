#pragma once
#include <string>

#include "bgra_image.h"
#include "progress.h"

namespace zelvan_demo {

// Reads a PNG or JPEG file, told apart by its first bytes, into blue-green-red-alpha.
// Throws DemoError with a one-line message for a file that cannot be opened, is neither format,
// is damaged or truncated, or is larger than memory allows.
BgraImage loadImageFile(const std::string& path, const ProgressFn& rowsDone = {});

}  // namespace zelvan_demo
