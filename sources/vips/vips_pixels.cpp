// Known colour spaces (grey, 16-bit, CMYK, Lab) go to sRGB through libvips; grey with or without alpha
// is spread over three bands; red and blue are swapped while the rows are copied out.
#include "vips_pixels.h"

#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Replaces `image` by `next`, or says why it could not be made.
bool step(VipsImage*& image, VipsImage* next, int result) {
    g_object_unref(image);
    image = next;
    return result == 0 && next != nullptr;
}

}  // namespace

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

bool writeBgra(VipsImage* borrowed, unsigned char* pixels, std::size_t pitch, std::string& error) {
    VipsImage* image = borrowed;
    g_object_ref(image);
    const int width = vips_image_get_width(image), height = vips_image_get_height(image);
    bool ok = true;
    VipsImage* next = nullptr;
    if ((vips_image_get_interpretation(image) != VIPS_INTERPRETATION_sRGB ||
         vips_image_get_format(image) != VIPS_FORMAT_UCHAR) &&
        vips_colourspace_issupported(image))
        ok = step(image, next, vips_colourspace(image, &next, VIPS_INTERPRETATION_sRGB, nullptr));
    if (ok && vips_image_get_format(image) != VIPS_FORMAT_UCHAR)
        ok = step(image, next, vips_cast_uchar(image, &next, nullptr));
    if (ok && image->Bands < 3) {
        VipsImage* grey = nullptr;
        VipsImage* alpha = nullptr;
        ok = vips_extract_band(image, &grey, 0, nullptr) == 0;
        if (ok) {
            VipsImage* channels[4] = {grey, grey, grey, nullptr};
            int n = 3;
            if (image->Bands == 2 && vips_extract_band(image, &alpha, 1, nullptr) == 0) channels[n++] = alpha;
            ok = step(image, next, vips_bandjoin(channels, &next, n, nullptr));
        }
        if (alpha) g_object_unref(alpha);
        if (grey) g_object_unref(grey);
    }
    if (ok && image->Bands == 3) ok = step(image, next, vips_bandjoin_const1(image, &next, 255, nullptr));
    if (ok && image->Bands > 4) ok = step(image, next, vips_extract_band(image, &next, 0, "n", 4, nullptr));
    std::size_t bytes = 0;
    void* memory = ok ? vips_image_write_to_memory(image, &bytes) : nullptr;
    if (image) g_object_unref(image);
    const std::size_t row = std::size_t(width) * 4;
    if (!memory || bytes != row * std::size_t(height)) {
        if (memory) g_free(memory);
        error = "cannot be decoded (" + vipsError() + ")";
        return false;
    }
    const unsigned char* rgba = static_cast<const unsigned char*>(memory);
    for (int y = 0; y < height; ++y) {
        const unsigned char* from = rgba + row * std::size_t(y);
        unsigned char* to = pixels + pitch * std::size_t(y);
        for (std::size_t i = 0; i < row; i += 4) {
            to[i] = from[i + 2];
            to[i + 1] = from[i + 1];
            to[i + 2] = from[i];
            to[i + 3] = from[i + 3];
        }
    }
    g_free(memory);
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
