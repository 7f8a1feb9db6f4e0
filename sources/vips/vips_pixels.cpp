// Known colour spaces (grey, 16-bit, CMYK, Lab) go to sRGB through libvips; grey with or without alpha
// is spread over three bands; red and blue are swapped, and opaque alpha added, while the rows are
// copied out of one region prepared on this thread (pixel_rows.h).
#include "vips_pixels.h"

#include <stdexcept>

#include "pixel_rows.h"
#include "vips_session.h"

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
    try {
        startVips();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

std::string vipsError() {
    std::string text = vips_error_buffer();
    vips_error_clear();
    const std::size_t newline = text.find('\n');
    if (newline != std::string::npos) text.erase(newline);
    return text.empty() ? "cannot be decoded" : text;
}

bool writeBgra(VipsImage* borrowed, unsigned char* pixels, std::size_t pitch, std::string& error,
               const VipsRect* area) {
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
    if (ok && image->Bands > 4) ok = step(image, next, vips_extract_band(image, &next, 0, "n", 4, nullptr));
    // One region over the whole picture, its pixels computed here rather than on libvips' workers.
    VipsRegion* region = ok ? vips_region_new(image) : nullptr;
    VipsRect whole{0, 0, width, height};
    ok = region != nullptr && vips_region_prepare(region, &whole) == 0;
    const VipsRect out = area ? *area : whole;
    if (ok)
        copyRows(region, out.left, out.top, std::uint32_t(out.width), std::uint32_t(out.height), pixels,
                 pitch);
    if (region) g_object_unref(region);
    if (image) g_object_unref(image);
    if (!ok) error = "cannot be decoded (" + vipsError() + ")";
    return ok;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
