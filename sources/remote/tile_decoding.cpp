// libvips reads the bytes through a memory source (loaders from sources are not kept in its operation
// cache, which would otherwise hold on to, and match by address, buffers long freed). The size is checked
// from the header, before any pixel is decoded.
#include "tile_decoding.h"

#include "vips/vips_pixels.h"

namespace zelvan {
namespace sources {
namespace detail {

bool decodeTile(const unsigned char* data, std::size_t size, std::uint32_t maxWidth, std::uint32_t maxHeight,
                DecodedTile& tile, std::string& error) {
    if (!vipsStarted()) {
        error = "libvips cannot be started";
        return false;
    }
    if (size == 0) {
        error = "empty tile";
        return false;
    }
    VipsSource* source = vips_source_new_from_memory(data, size);
    if (!source) {
        error = vipsError();
        return false;
    }
    VipsImage* image = vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    g_object_unref(source);
    if (!image) {
        error = "not a picture (" + vipsError() + ")";
        return false;
    }
    const int width = vips_image_get_width(image), height = vips_image_get_height(image);
    bool ok = width > 0 && height > 0 && static_cast<std::uint32_t>(width) <= maxWidth &&
              static_cast<std::uint32_t>(height) <= maxHeight;
    if (!ok) {
        error = "tile of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels, larger than the " + std::to_string(maxWidth) + " x " + std::to_string(maxHeight) +
                " declared";
    } else {
        try {
            tile.pixels.resize(std::size_t(width) * std::size_t(height) * 4);
            tile.width = static_cast<std::uint32_t>(width);
            tile.height = static_cast<std::uint32_t>(height);
            ok = writeBgra(image, tile.pixels.data(), std::size_t(width) * 4, error);
        } catch (...) {  // std::bad_alloc
            g_object_unref(image);
            throw;
        }
    }
    g_object_unref(image);
    return ok;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
