// libvips reads the bytes through a memory source (loaders from sources are not kept in its operation
// cache, which would otherwise hold on to, and match by address, buffers long freed), turns them into
// sRGB with alpha, 8 bits a sample, and writes them out; red and blue are swapped on the way.
#include "tile_decoding.h"

#include <vips/vips.h>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

bool vipsStarted() {
    static const bool started = vips_init("zelvan") == 0;
    return started;
}

std::string vipsError() {
    std::string text = vips_error_buffer();
    vips_error_clear();
    const std::size_t newline = text.find('\n');
    if (newline != std::string::npos) text.erase(newline);
    return text.empty() ? "cannot be decoded" : text;
}

// Replaces `image` by `next`, or says why it could not be made.
bool step(VipsImage*& image, VipsImage* next, int result) {
    g_object_unref(image);
    image = next;
    return result == 0 && next != nullptr;
}

}  // namespace

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
    if (width <= 0 || height <= 0 || static_cast<std::uint32_t>(width) > maxWidth ||
        static_cast<std::uint32_t>(height) > maxHeight) {
        g_object_unref(image);
        error = "tile of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels, larger than the " + std::to_string(maxWidth) + " x " + std::to_string(maxHeight) +
                " declared";
        return false;
    }
    bool ok = true;
    VipsImage* next = nullptr;
    // Known colour spaces (grey, 16-bit, CMYK, Lab) to sRGB; anything else is taken as it is.
    if ((vips_image_get_interpretation(image) != VIPS_INTERPRETATION_sRGB ||
         vips_image_get_format(image) != VIPS_FORMAT_UCHAR) &&
        vips_colourspace_issupported(image))
        ok = step(image, next, vips_colourspace(image, &next, VIPS_INTERPRETATION_sRGB, nullptr));
    if (ok && vips_image_get_format(image) != VIPS_FORMAT_UCHAR)
        ok = step(image, next, vips_cast_uchar(image, &next, nullptr));
    if (ok && image->Bands < 3) {
        // Grey (with alpha): grey into all three.
        VipsImage* grey = nullptr;
        VipsImage* channels[4] = {};
        ok = vips_extract_band(image, &grey, 0, nullptr) == 0;
        if (ok) {
            channels[0] = channels[1] = channels[2] = grey;
            int n = 3;
            VipsImage* alpha = nullptr;
            if (image->Bands == 2 && vips_extract_band(image, &alpha, 1, nullptr) == 0) channels[n++] = alpha;
            ok = step(image, next, vips_bandjoin(channels, &next, n, nullptr));
            if (alpha) g_object_unref(alpha);
            g_object_unref(grey);
        }
    }
    if (ok && image->Bands == 3) ok = step(image, next, vips_bandjoin_const1(image, &next, 255, nullptr));
    if (ok && image->Bands > 4) ok = step(image, next, vips_extract_band(image, &next, 0, "n", 4, nullptr));
    std::size_t bytes = 0;
    void* memory = ok ? vips_image_write_to_memory(image, &bytes) : nullptr;
    if (image) g_object_unref(image);
    const std::size_t expected = std::size_t(width) * std::size_t(height) * 4;
    if (!memory || bytes != expected) {
        if (memory) g_free(memory);
        error = "cannot be decoded (" + vipsError() + ")";
        return false;
    }
    tile.width = static_cast<std::uint32_t>(width);
    tile.height = static_cast<std::uint32_t>(height);
    try {
        tile.pixels.resize(expected);
    } catch (...) {
        g_free(memory);
        throw;
    }
    const unsigned char* rgba = static_cast<const unsigned char*>(memory);
    unsigned char* out = tile.pixels.data();
    for (std::size_t i = 0; i < expected; i += 4) {
        out[i] = rgba[i + 2];
        out[i + 1] = rgba[i + 1];
        out[i + 2] = rgba[i];
        out[i + 3] = rgba[i + 3];
    }
    g_free(memory);
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
