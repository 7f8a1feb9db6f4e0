#include "vips_halving.h"

#include <algorithm>
#include <cstdint>

#include "vips/pixel_rows.h"
#include "zelvan_levels.hpp"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Rows of the output region from twice as many rows of the level above, two at a time.
int halveRegion(VipsRegion* out, void* sequence, void* aboveImage, void*, gboolean*) {
    auto* in = static_cast<VipsRegion*>(sequence);
    const auto* above = static_cast<const VipsImage*>(aboveImage);
    const VipsRect& r = out->valid;
    VipsRect need;
    if (!prepareBelow(in, r, above, need)) return -1;
    for (int y = 0; y < r.height; ++y) {
        const int row = 2 * (r.top + y);
        const auto* top = reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(in, need.left, row));
        const auto* bottom =
            row + 1 < need.top + need.height
                ? reinterpret_cast<const unsigned char*>(VIPS_REGION_ADDR(in, need.left, row + 1))
                : nullptr;
        zelvan::halveRows(top, bottom, std::uint32_t(need.width),
                          reinterpret_cast<unsigned char*>(VIPS_REGION_ADDR(out, r.left, r.top + y)));
    }
    return 0;
}

}  // namespace

vips::VImage halved(const vips::VImage& picture) {
    if (picture.format() != VIPS_FORMAT_UCHAR || (picture.bands() != 3 && picture.bands() != 4)) {
        vips_error("halved", "%s", "the halving takes 8-bit red, green and blue, with or without alpha");
        throw vips::VError();
    }
    // The averaging reads four bytes a pixel.
    const vips::VImage above = withAlpha(picture);
    return halvedImage(above, 4, VIPS_FORMAT_UCHAR, VIPS_INTERPRETATION_sRGB, halveRegion);
}

namespace {

void* newRegion(VipsImage*, void* above, void*) { return vips_region_new(static_cast<VipsImage*>(above)); }

int stopRegion(void* region, void*, void*) {
    g_object_unref(region);
    return 0;
}

}  // namespace

vips::VImage halvedImage(const vips::VImage& above, int bands, VipsBandFormat format,
                         VipsInterpretation interpretation, VipsGenerateFn generate) {
    VipsImage* in = above.get_image();
    VipsImage* out = vips_image_new();
    vips::VImage result(out);  // owns `out` from here
    // The pipeline copies the header of the level above: the size is set after it.
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_SMALLTILE, in, nullptr) != 0) throw vips::VError();
    vips_image_init_fields(out, int(zelvan::levelSide(std::uint32_t(in->Xsize), 1)),
                           int(zelvan::levelSide(std::uint32_t(in->Ysize), 1)), bands, format,
                           VIPS_CODING_NONE, interpretation, 1, 1);
    if (vips_image_generate(out, newRegion, generate, stopRegion, in, nullptr) != 0) throw vips::VError();
    // The level above lives as long as this one reads it.
    g_object_ref(in);
    g_signal_connect_swapped(out, "close", G_CALLBACK(g_object_unref), in);
    return result;
}

bool prepareBelow(VipsRegion* in, const VipsRect& out, const VipsImage* above, VipsRect& need) {
    need = {2 * out.left, 2 * out.top, 2 * out.width, 2 * out.height};
    const VipsRect whole{0, 0, above->Xsize, above->Ysize};
    vips_rect_intersectrect(&need, &whole, &need);
    return vips_region_prepare(in, &need) == 0;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
