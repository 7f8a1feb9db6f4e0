// libvips reads the bytes through a memory source (loaders from sources are not kept in its operation
// cache, which would otherwise hold on to, and match by address, buffers long freed). The size is checked
// from the header, before any pixel is decoded; a region drawn a few pixels larger than asked is scaled
// to its place, so that its content lines up with the neighbouring tiles'.
#include "tile_decoding.h"

#include "vips/vips_pixels.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// `image` scaled to `width` x `height`, or itself when neither side is larger; null with the reason.
// Takes `image` over.
VipsImage* fitted(VipsImage* image, std::uint32_t width, std::uint32_t height, std::string& error) {
    const int w = vips_image_get_width(image), h = vips_image_get_height(image);
    if (width == 0 || height == 0 || (std::uint32_t(w) <= width && std::uint32_t(h) <= height)) return image;
    VipsImage* scaled = nullptr;
    if (vips_resize(image, &scaled, double(width) / w, "vscale", double(height) / h, nullptr) != 0) {
        error = "cannot be scaled to its place (" + vipsError() + ")";
        scaled = nullptr;
    }
    g_object_unref(image);
    return scaled;
}

}  // namespace

bool decodeTile(const unsigned char* data, std::size_t size, const TileShape& shape, DecodedTile& tile,
                std::string& error, const TileTarget* target) {
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
    int width = vips_image_get_width(image), height = vips_image_get_height(image);
    if (width <= 0 || height <= 0 || std::uint64_t(width) > std::uint64_t{shape.width} + shape.slack ||
        std::uint64_t(height) > std::uint64_t{shape.height} + shape.slack) {
        error = "tile of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels, larger than the " + std::to_string(shape.width) + " x " +
                std::to_string(shape.height) + " declared";
        g_object_unref(image);
        return false;
    }
    if (!(image = fitted(image, shape.fitWidth, shape.fitHeight, error))) return false;
    width = vips_image_get_width(image);
    height = vips_image_get_height(image);
    tile.width = static_cast<std::uint32_t>(width);
    tile.height = static_cast<std::uint32_t>(height);
    tile.pixels.reset();
    bool ok = false;
    if (target && std::uint64_t{target->left} + target->width <= std::uint64_t(width) &&
        std::uint64_t{target->top} + target->height <= std::uint64_t(height)) {
        // The whole tile is decoded, as for the cache (so that libvips warns of the same damage), and
        // only the target's rectangle written out.
        const VipsRect area{int(target->left), int(target->top), int(target->width), int(target->height)};
        ok = writeBgra(image, target->pixels, target->pitch, error, &area);
        g_object_unref(image);
        return ok;
    }
    try {
        tile.pixels.reset(new unsigned char[std::size_t(width) * std::size_t(height) * 4]);
        ok = writeBgra(image, tile.pixels.get(), std::size_t(width) * 4, error);
    } catch (...) {  // std::bad_alloc
        g_object_unref(image);
        throw;
    }
    g_object_unref(image);
    return ok;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
