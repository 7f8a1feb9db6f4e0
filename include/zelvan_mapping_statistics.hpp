/*
 * Zelvan for C++: a channel's histogram and its limits at percentiles, from raw samples, NaN and
 * infinities left out (counted apart), for automatic contrast.
 *
 * Header-only C++17; nothing here calls OpenGL.
 * Errors: results only; nothing here throws (histogramOf gives no bins when memory runs out).
 * Threads: every function may run on any thread, several at once, on values no other thread changes
 *   meanwhile.
 */
#ifndef ZELVAN_MAPPING_STATISTICS_HPP
#define ZELVAN_MAPPING_STATISTICS_HPP

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "zelvan_mapping.hpp"

namespace zelvan {

/* A channel's samples counted in bins: what TileView::histogram and histogramOf give. */
struct ChannelHistogram {
    double low = 0, high = 0;           // the least and the greatest finite sample
    std::vector<std::uint64_t> counts;  // bins of equal width from low to high (high in the last)
    std::uint64_t samples = 0;          // finite samples counted
    std::uint64_t nonFinite = 0;        // NaN and infinities, left out
};

/* Limits for a ChannelMapping, in sample units (min < max when found); found is false, min and max 0,
 * when there was no finite sample (or the percentiles make no sense). */
struct ChannelLimits {
    double min = 0, max = 0;
    bool found = false;
};

namespace detail {

/* The finite samples of one channel, as floats (every 8- and 16-bit value is one exactly). */
struct ChannelValues {
    std::vector<float> values;
    std::uint64_t nonFinite = 0;

    /* Adds every `step`-th of `pixels` pixels of `samples` (laid out as `layout`, contiguous). */
    void add(const unsigned char* samples, const SampleLayout& layout, unsigned channel, std::size_t pixels,
             std::size_t step) {
        const std::size_t stride = pixelBytes(layout), offset = channel * sampleBytes(layout.type);
        for (std::size_t i = 0; i < pixels; i += step) {
            const unsigned char* s = samples + i * stride + offset;
            float v = 0;
            switch (layout.type) {
                case SampleType::UInt16: {
                    std::uint16_t u;
                    std::memcpy(&u, s, 2);
                    v = u;
                    break;
                }
                case SampleType::Int16: {
                    std::int16_t u;
                    std::memcpy(&u, s, 2);
                    v = u;
                    break;
                }
                case SampleType::Float32:
                    std::memcpy(&v, s, 4);
                    break;
                default:
                    v = *s;
            }
            if (std::isfinite(v))
                values.push_back(v);
            else
                ++nonFinite;
        }
    }
};

}  // namespace detail

/* The values at lowPercent and highPercent (0 to 100, nearest rank) of `values`, finite samples, which
 * it reorders. A flat channel (both the same) gets max a little above min (by 1, or a millionth of min
 * if more), so that the limits make a valid mapping.
 * Returns: not found for no values, or for percentiles not 0 <= low <= high <= 100 (or NaN).
 * Threads: any, `values` its own meanwhile. Cost: linear in the values on average (two nth_element). */
inline ChannelLimits percentileLimits(std::vector<float>& values, double lowPercent,
                                      double highPercent) noexcept {
    ChannelLimits limits;
    if (values.empty() || !(lowPercent >= 0 && lowPercent <= highPercent && highPercent <= 100))
        return limits;
    const auto at = [&](double percent) {
        const auto rank = static_cast<std::size_t>(std::llround(percent / 100 * double(values.size() - 1)));
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(rank), values.end());
        return static_cast<double>(values[rank]);
    };
    limits.min = at(lowPercent);
    limits.max = at(highPercent);
    // Wide enough to be told apart from min even for floats of great magnitude.
    if (limits.max == limits.min) limits.max = limits.min + std::max(1.0, std::fabs(limits.min) * 0x1p-20);
    limits.found = true;
    return limits;
}

/* `bins` bins (at least 1) of equal width between the least and greatest of `values`, finite samples;
 * `nonFinite`, the count of those left out, is passed through.
 * Returns: all bins 0 and low = high = 0 for no values; no bins at all (counts empty) when memory for
 * them runs out. Threads: any. Cost: two passes over the values; 8 bytes a bin. */
inline ChannelHistogram histogramOf(const std::vector<float>& values, std::uint64_t nonFinite,
                                    unsigned bins) noexcept {
    ChannelHistogram h;
    h.nonFinite = nonFinite;
    h.samples = values.size();
    try {
        h.counts.assign(std::max(bins, 1u), 0);
    } catch (...) {  // std::bad_alloc
        return h;
    }
    if (values.empty()) return h;
    const auto range = std::minmax_element(values.begin(), values.end());
    h.low = *range.first;
    h.high = *range.second;
    const double width = (h.high - h.low) / static_cast<double>(h.counts.size());
    for (const float v : values) {
        const double bin = width > 0 ? std::floor((v - h.low) / width) : 0;
        ++h.counts[static_cast<std::size_t>(std::clamp(bin, 0.0, double(h.counts.size() - 1)))];
    }
    return h;
}

}  // namespace zelvan

#endif /* ZELVAN_MAPPING_STATISTICS_HPP */
