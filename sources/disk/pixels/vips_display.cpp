#include "vips_display.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <vector>

#include "vips/vips_session.h"

namespace zelvan {
namespace sources {
namespace detail {

using vips::VImage;

namespace {

// Colour spaces libvips takes to sRGB itself, whatever the format of their samples.
bool colorimetric(VipsInterpretation interpretation) {
    switch (interpretation) {
        case VIPS_INTERPRETATION_LAB:
        case VIPS_INTERPRETATION_LABQ:
        case VIPS_INTERPRETATION_LABS:
        case VIPS_INTERPRETATION_LCH:
        case VIPS_INTERPRETATION_CMC:
        case VIPS_INTERPRETATION_XYZ:
        case VIPS_INTERPRETATION_YXY:
        case VIPS_INTERPRETATION_HSV:
            return true;
        default:
            return false;
    }
}

bool isFloat(VipsBandFormat format) { return vips_band_format_isfloat(format) != 0; }

// Uncoded (LabQ, Radiance) and real (complex samples by their modulus).
VImage plain(VImage image) {
    if (image.coding() != VIPS_CODING_NONE) {
        VipsImage* decoded = nullptr;
        if (vips_image_decode(image.get_image(), &decoded)) throw vips::VError();
        image = VImage(decoded);
    }
    if (vips_band_format_iscomplex(image.format())) image = image.abs();
    return image;
}

bool hasAlpha(const VImage& image) { return vips_image_hasalpha(image.get_image()) != 0; }

// The bands that carry colour: grey, RGB or CMYK; extra bands past them (alpha aside) are not shown.
int colourBands(const VImage& image) {
    const int bands = hasAlpha(image) ? image.bands() - 1 : image.bands();
    if (image.interpretation() == VIPS_INTERPRETATION_CMYK && bands >= 4) return 4;
    return bands >= 3 ? 3 : 1;
}

// NaN as `fill`; infinities are clipped by the mapping like any value out of range.
VImage finite(const VImage& image, double fill) {
    if (!isFloat(image.format())) return image;
    return (image == image).ifthenelse(image, fill);
}

// What the largest alpha sample means "opaque" is, by format (float alpha as libvips has it).
double alphaScaleOf(const VImage& image) {
    switch (image.format()) {
        case VIPS_FORMAT_CHAR:
            return 255.0 / 127;
        case VIPS_FORMAT_USHORT:
            return 255.0 / 65535;
        case VIPS_FORMAT_SHORT:
            return 255.0 / 32767;
        case VIPS_FORMAT_UINT:
            return 255.0 / 4294967295.0;
        case VIPS_FORMAT_INT:
            return 255.0 / 2147483647.0;
        case VIPS_FORMAT_UCHAR:
            return 1;
        default:  // floats: 0..1 in linear light, 0..255 otherwise
            return image.interpretation() == VIPS_INTERPRETATION_scRGB ? 255 : 1;
    }
}

// Samples as libvips' colour conversions expect them, named by their bands where the loader could
// not say (multiband, or a range mapped to 8 bits).
VipsInterpretation displayInterpretation(VipsInterpretation interpretation, int bands) {
    if (bands == 4 && interpretation == VIPS_INTERPRETATION_CMYK) return VIPS_INTERPRETATION_CMYK;
    return bands == 3 ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_B_W;
}

VImage named(const VImage& image, VipsInterpretation interpretation) {
    return image.interpretation() == interpretation
               ? image
               : image.copy(VImage::option()->set("interpretation", interpretation));
}

// Through the embedded ICC profile where there is one lcms takes, else libvips' own conversion.
VImage toSrgb(const VImage& colour) {
    if (vips_image_get_typeof(colour.get_image(), VIPS_META_ICC_NAME) &&
        !colorimetric(colour.interpretation()) && colour.interpretation() != VIPS_INTERPRETATION_scRGB) {
        try {
            return colour.icc_transform("srgb", VImage::option()->set("embedded", true));
        } catch (const vips::VError&) {  // a profile that does not fit the samples: shown without it
            const std::string reason = takeVipsErrors();
            g_log("VIPS", G_LOG_LEVEL_WARNING, "the embedded ICC profile cannot be used (%s): shown as sRGB",
                  reason.c_str());
        }
    }
    return colour.colourspace(VIPS_INTERPRETATION_sRGB);
}

}  // namespace

SampleMapping chooseMapping(const VImage& image, bool fits, const DisplayRange& range,
                            const std::function<VImage()>& sample) {
    SampleMapping mapping;
    mapping.alphaScale = alphaScaleOf(image);
    if (range.mode == DisplayRange::Mode::Fixed) {
        mapping.linear = true, mapping.min = range.min, mapping.max = range.max;
        return mapping;
    }
    const VipsBandFormat format = image.format();
    bool percentiles = range.mode == DisplayRange::Mode::Auto || fits;
    if (!percentiles && !colorimetric(image.interpretation())) {
        const bool profile = vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME) != 0;
        switch (format) {
            case VIPS_FORMAT_UCHAR:
                break;
            case VIPS_FORMAT_CHAR:
                mapping.linear = true, mapping.min = -128, mapping.max = 127;
                break;
            case VIPS_FORMAT_USHORT:  // an ICC transform reads all 16 bits itself
                if (!profile) mapping.linear = true, mapping.min = 0, mapping.max = 65535;
                break;
            case VIPS_FORMAT_SHORT:
                mapping.linear = true, mapping.min = -32768, mapping.max = 32767;
                break;
            default:  // 32-bit integers, floats, complex: no range says what they mean
                percentiles = true;
        }
    }
    if (percentiles) {
        mapping.linear = true;
        findPercentiles(sample(), mapping.min, mapping.max);
    }
    return mapping;
}

void findPercentiles(const VImage& image, double& min, double& max) {
    VImage samples = plain(image);
    samples =
        samples.extract_band(0, VImage::option()->set("n", colourBands(samples))).cast(VIPS_FORMAT_DOUBLE);
    std::size_t bytes = 0;
    std::unique_ptr<void, void (*)(void*)> memory(samples.write_to_memory(&bytes), g_free);
    const auto* first = static_cast<const double*>(memory.get());
    std::vector<double> values;
    values.reserve(bytes / sizeof(double));
    std::copy_if(first, first + bytes / sizeof(double), std::back_inserter(values),
                 [](double v) { return std::isfinite(v); });
    min = 0, max = 1;
    if (values.empty()) return;
    const auto at = [&](double fraction) {
        const auto n = std::size_t(fraction * double(values.size() - 1) + 0.5);
        std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(n), values.end());
        return values[n];
    };
    min = at(0.005), max = at(0.995);
    if (max <= min) {  // nearly all one value: the whole span, or one unit above it
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        min = *low, max = *high > *low ? *high : *low + 1;
    }
}

VImage toDisplay(VImage image, const SampleMapping& mapping) {
    image = plain(image);
    const int colours = colourBands(image);
    const bool alpha = hasAlpha(image) && image.bands() > colours;
    if (!mapping.linear && image.format() == VIPS_FORMAT_UCHAR &&
        image.interpretation() == VIPS_INTERPRETATION_sRGB && colours == 3 &&
        image.bands() == (alpha ? 4 : 3) && !vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME))
        return image;  // as it will be shown: each operation below would cost a pass over the pixels
    VImage colour =
        image.bands() == colours ? image : image.extract_band(0, VImage::option()->set("n", colours));
    VipsInterpretation interpretation = image.interpretation();
    if (mapping.linear) {
        // Linear light goes to 0..1, then through the sRGB curve; the rest straight to 8 bits.
        const bool light = interpretation == VIPS_INTERPRETATION_scRGB && colours == 3;
        const double scale = (light ? 1.0 : 255.0) / (mapping.max - mapping.min);
        colour = finite(colour, mapping.min)
                     .linear(scale, -mapping.min * scale, VImage::option()->set("uchar", !light));
        colour =
            named(colour, light ? VIPS_INTERPRETATION_scRGB : displayInterpretation(interpretation, colours));
    } else if (colour.format() == VIPS_FORMAT_UCHAR && !colorimetric(interpretation)) {
        colour = named(colour, displayInterpretation(interpretation, colours));
    }
    colour = toSrgb(colour);
    if (colour.format() != VIPS_FORMAT_UCHAR)
        colour = colour.cast(VIPS_FORMAT_UCHAR,
                             VImage::option()->set("shift", colour.format() == VIPS_FORMAT_USHORT));
    if (colour.bands() == 1) colour = colour.bandjoin({colour, colour});
    if (colour.bands() > 3) colour = colour.extract_band(0, VImage::option()->set("n", 3));
    if (!alpha) return colour;
    VImage opacity = image.extract_band(colours);
    if (opacity.format() != VIPS_FORMAT_UCHAR)
        opacity = finite(opacity, 0).linear(mapping.alphaScale, 0, VImage::option()->set("uchar", true));
    return colour.bandjoin(opacity);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
