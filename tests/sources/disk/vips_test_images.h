#pragma once
// Test pictures made in memory with libvips, sample by sample.
#include <functional>
#include <vector>
#include <vips/vips8>

namespace disk_test {

// An image of `bands` samples of `format` (T its C++ type) with sample(x, y, band) in each.
template <typename T>
vips::VImage makeImage(int width, int height, int bands, VipsBandFormat format,
                       const std::function<T(int, int, int)>& sample) {
    std::vector<T> data;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int b = 0; b < bands; ++b) data.push_back(sample(x, y, b));
    return vips::VImage(
        vips_image_new_from_memory_copy(data.data(), data.size() * sizeof(T), width, height, bands, format));
}

}  // namespace disk_test
