#pragma once
// A fetched tile's bytes (JPEG, PNG, WebP, JPEG 2000, whatever libvips reads) decoded into 8-bit
// blue-green-red-alpha pixels, on the calling thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

struct DecodedTile {
    std::uint32_t width = 0, height = 0;
    std::vector<unsigned char> pixels;  // width * 4 bytes a row
};

// Decodes `data`; false with a few words of reason when it is no picture, or is larger than
// maxWidth x maxHeight (found from its header, before any pixel is decoded).
bool decodeTile(const unsigned char* data, std::size_t size, std::uint32_t maxWidth, std::uint32_t maxHeight,
                DecodedTile& tile, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
