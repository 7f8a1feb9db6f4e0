#include "vips_sample_halving.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "vips_halving.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// The mean of `n` samples summing to `sum`, rounded to the nearest (halves away from zero).
template <typename T>
T integerMean(std::int64_t sum, int n) {
    const std::int64_t half = n / 2;
    return T(sum >= 0 ? (sum + half) / n : -((-sum + half) / n));
}

// One output row from the input rows `top` and `bottom` (null past the last row), `inWidth` pixels
// of which the first is column `firstColumn` of a level `levelWidth` wide.
template <typename T>
void halveRow(const T* top, const T* bottom, int outWidth, int bands, int firstColumn, int levelWidth,
              T* out) {
    for (int x = 0; x < outWidth; ++x) {
        const bool right = firstColumn + 2 * x + 1 < levelWidth;
        const T* rows[2] = {top, bottom};
        for (int b = 0; b < bands; ++b) {
            if constexpr (std::is_floating_point_v<T>) {
                double sum = 0;
                int n = 0;
                for (const T* row : rows) {
                    if (!row) continue;
                    for (int dx = 0; dx < (right ? 2 : 1); ++dx) {
                        const T v = row[(2 * x + dx) * bands + b];
                        if (!std::isnan(v)) sum += double(v), ++n;
                    }
                }
                out[x * bands + b] = n > 0 ? T(sum / n) : std::numeric_limits<T>::quiet_NaN();
            } else {
                std::int64_t sum = 0;
                int n = 0;
                for (const T* row : rows) {
                    if (!row) continue;
                    for (int dx = 0; dx < (right ? 2 : 1); ++dx) sum += row[(2 * x + dx) * bands + b], ++n;
                }
                out[x * bands + b] = integerMean<T>(sum, n);
            }
        }
    }
}

template <typename T>
void halveRegionRows(VipsRegion* in, VipsRegion* out, const VipsRect& need, const VipsImage* above) {
    const VipsRect& r = out->valid;
    for (int y = 0; y < r.height; ++y) {
        const int row = 2 * (r.top + y);
        const auto* top = reinterpret_cast<const T*>(VIPS_REGION_ADDR(in, need.left, row));
        const auto* bottom = row + 1 < need.top + need.height
                                 ? reinterpret_cast<const T*>(VIPS_REGION_ADDR(in, need.left, row + 1))
                                 : nullptr;
        halveRow(top, bottom, r.width, above->Bands, need.left, above->Xsize,
                 reinterpret_cast<T*>(VIPS_REGION_ADDR(out, r.left, r.top + y)));
    }
}

int halveRegion(VipsRegion* out, void* sequence, void* aboveImage, void*, gboolean*) {
    auto* in = static_cast<VipsRegion*>(sequence);
    const auto* above = static_cast<const VipsImage*>(aboveImage);
    VipsRect need;
    if (!prepareBelow(in, out->valid, above, need)) return -1;
    switch (above->BandFmt) {
        case VIPS_FORMAT_UCHAR:
            halveRegionRows<std::uint8_t>(in, out, need, above);
            break;
        case VIPS_FORMAT_USHORT:
            halveRegionRows<std::uint16_t>(in, out, need, above);
            break;
        case VIPS_FORMAT_SHORT:
            halveRegionRows<std::int16_t>(in, out, need, above);
            break;
        default:
            halveRegionRows<float>(in, out, need, above);
    }
    return 0;
}

}  // namespace

vips::VImage halvedSamples(const vips::VImage& samples) {
    const VipsBandFormat format = samples.format();
    if (format != VIPS_FORMAT_UCHAR && format != VIPS_FORMAT_USHORT && format != VIPS_FORMAT_SHORT &&
        format != VIPS_FORMAT_FLOAT) {
        vips_error("halvedSamples", "%s", "the halving takes 8- or 16-bit integers or floats");
        throw vips::VError();
    }
    return halvedImage(samples, samples.bands(), format, samples.interpretation(), halveRegion);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
