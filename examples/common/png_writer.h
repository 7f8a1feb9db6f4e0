#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zelvan_demo {

// An RGB picture, 3 bytes per pixel, top row first.
struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

// Encodes the picture as an 8-bit RGB PNG into `file`; throws DemoError naming `name` on failure.
void writePng(std::FILE* file, const RgbPicture& picture, const std::string& name);

}  // namespace zelvan_demo
