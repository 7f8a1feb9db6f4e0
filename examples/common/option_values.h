#pragma once
// Option values both demo programs read the same way.
#include <string>

#include "frame.h"

namespace zelvan_demo {

constexpr int kMaxFrameSide = 16384;

// "1200x800" into width and height, each 1 to kMaxFrameSide; false for anything else.
bool parseFrameSize(const std::string& text, int& width, int& height);

// "#RRGGBB" or "RRGGBB" into a colour; false for anything else.
bool parseColour(const std::string& text, Rgb& colour);

// A parser's message on one line: the programs promise one line per error.
std::string oneLine(std::string text);

}  // namespace zelvan_demo
