#pragma once
// A display mapping computed the slow, obvious way, in double, from its definition: the oracle of the
// mapping's tests and fuzzer. Only the colormaps' published tables (data) come from the library.
#include <algorithm>
#include <cmath>
#include <vector>

#include "zelvan_mapping.hpp"
#include "zelvan_mapping_colormaps.hpp"

namespace zelvan_test {

// Red, green, blue (0 to 255, unrounded) of one pixel whose channels hold `samples`; false when a visible
// channel's sample is NaN or infinite (the pixel shows the mapping's colour for those).
inline bool referencePixel(const zelvan::DisplayMapping& m, const std::vector<double>& samples,
                           double (&rgb)[3]) {
    rgb[0] = rgb[1] = rgb[2] = 0;
    for (const zelvan::ChannelMapping& c : m.channels) {
        if (!c.visible) continue;
        const double v = samples[c.channel];
        if (!std::isfinite(v)) return false;
        double t = (v - c.min) / (c.max - c.min);
        t = t < 0 ? 0 : t > 1 ? 1 : t;
        switch (c.curve) {
            case zelvan::Curve::SquareRoot:
                t = std::sqrt(t);
                break;
            case zelvan::Curve::Log:
                t = std::log1p(1000 * t) / std::log(1001.0);  // log1p: exact for tiny t, which gammas magnify
                break;
            case zelvan::Curve::Asinh:
                t = std::log1p(10 * t + 100 * t * t / (1 + std::sqrt(100 * t * t + 1))) /
                    std::log(10 + std::sqrt(101.0));
                break;
            default:
                break;
        }
        t = std::pow(t, c.gamma);
        if (c.inverted) t = 1 - t;
        const zelvan::detail::ColormapTable* table = nullptr;
        switch (m.colormap) {
            case zelvan::Colormap::None:
                rgb[0] += t * c.colour.red;
                rgb[1] += t * c.colour.green;
                rgb[2] += t * c.colour.blue;
                continue;
            case zelvan::Colormap::Grey:
                rgb[0] = rgb[1] = rgb[2] = 255 * t;
                continue;
            case zelvan::Colormap::Viridis:
                table = &zelvan::detail::kViridisTable;
                break;
            case zelvan::Colormap::Magma:
                table = &zelvan::detail::kMagmaTable;
                break;
            case zelvan::Colormap::Inferno:
                table = &zelvan::detail::kInfernoTable;
                break;
            case zelvan::Colormap::Cividis:
                table = &zelvan::detail::kCividisTable;
                break;
        }
        const double at = t * 255, below = std::floor(at) < 255 ? std::floor(at) : 254;
        const double f = at - below;
        const auto i = static_cast<int>(below);
        for (int k = 0; k < 3; ++k) rgb[k] = 255 * ((1 - f) * (*table)[i][k] + f * (*table)[i + 1][k]);
    }
    return true;
}

// The byte a component of the reference becomes.
inline int referenceByte(double v) {
    return static_cast<int>(std::floor(std::min(std::max(v, 0.0), 255.0) + 0.5));
}

}  // namespace zelvan_test
