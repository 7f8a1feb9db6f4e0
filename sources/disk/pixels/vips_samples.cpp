#include "vips_samples.h"

#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

SampleType typeOf(VipsBandFormat format) {
    switch (format) {
        case VIPS_FORMAT_UCHAR:
            return SampleType::UInt8;
        case VIPS_FORMAT_CHAR:
        case VIPS_FORMAT_SHORT:
            return SampleType::Int16;
        case VIPS_FORMAT_USHORT:
            return SampleType::UInt16;
        default:
            return SampleType::Float32;
    }
}

VipsBandFormat formatOf(SampleType type) {
    switch (type) {
        case SampleType::UInt16:
            return VIPS_FORMAT_USHORT;
        case SampleType::Int16:
            return VIPS_FORMAT_SHORT;
        case SampleType::Float32:
            return VIPS_FORMAT_FLOAT;
        default:
            return VIPS_FORMAT_UCHAR;
    }
}

}  // namespace

SampleLayout rawLayout(const vips::VImage& image, int pages) {
    if (image.coding() != VIPS_CODING_NONE || pages < 1) return {};
    const std::uint64_t channels = std::uint64_t(image.bands()) * std::uint64_t(pages);
    if (channels > kMaxChannels) return {};
    if (image.format() == VIPS_FORMAT_UCHAR && pages == 1 && image.bands() <= 4) return {};
    return {typeOf(image.format()), unsigned(channels)};
}

vips::VImage toSamples(vips::VImage image, SampleType type) {
    if (vips_band_format_iscomplex(image.format())) image = image.abs();
    const VipsBandFormat format = formatOf(type);
    return image.format() == format ? image : image.cast(format);
}

void copySampleRows(const vips::VRegion& region, int left, int top, std::uint32_t width, std::uint32_t rows,
                    std::size_t bytesPerPixel, unsigned char* dst, std::size_t pitch) {
    for (std::uint32_t r = 0; r < rows; ++r)
        std::memcpy(dst + r * pitch, region.addr(left, top + int(r)), width * bytesPerPixel);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
