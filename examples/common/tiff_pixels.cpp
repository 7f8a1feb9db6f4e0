#include <algorithm>
#include <cstring>
#include <string>

#include "image_decoders.h"

namespace zelvan_demo {

namespace {

std::string photometricName(std::uint16_t photometric) {
    switch (photometric) {
        case PHOTOMETRIC_MASK:
            return " (transparency mask)";
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            return " (L*a*b* colour)";
        case PHOTOMETRIC_LOGL:
        case PHOTOMETRIC_LOGLUV:
            return " (LogLuv)";
        case PHOTOMETRIC_CFA:
            return " (raw camera data)";
        default:
            return "";
    }
}

}  // namespace

TiffPixels::TiffPixels(TiffFile& file) {
    TIFF* tiff = file.get();
    std::uint16_t bits = 1, samples = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE, photometric = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        file.fail("it does not say how to read its colours");

    checkCompression(file, compression, bits);
    if (format == SAMPLEFORMAT_IEEEFP) file.fail("floating-point samples are not supported");
    if (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
        file.fail("signed samples are not supported");
    colours_ = chooseModel(file, photometric, compression);
    if (samples < colours_)
        file.fail(std::to_string(samples) + " samples per pixel are too few for its colours");
    if (planar == PLANARCONFIG_SEPARATE && samples > 1) file.fail("separate colour planes are not supported");
    const bool packed = model_ == Model::Lookup && samples == 1 && (bits == 1 || bits == 2 || bits == 4);
    if (photometric == PHOTOMETRIC_PALETTE && bits > 8)
        file.fail(std::to_string(bits) + "-bit palette indexes are not supported");
    if (bits != 8 && bits != 16 && !packed)
        file.fail(std::to_string(bits) + "-bit samples are not supported");
    bits_ = bits;
    samples_ = samples;

    if (samples_ > colours_) {
        // libtiff lists every sample beyond the colours, as unspecified when the file does not say;
        // only one marked as alpha is taken for alpha.
        std::uint16_t count = 0, *types = nullptr;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &count, &types);
        const std::uint16_t type = count > 0 && types != nullptr ? types[0] : EXTRASAMPLE_UNSPECIFIED;
        alpha_ = type == EXTRASAMPLE_UNASSALPHA || type == EXTRASAMPLE_ASSOCALPHA;
        premultiplied_ = type == EXTRASAMPLE_ASSOCALPHA;
    }
    if (model_ == Model::Lookup) fillLookup(file, photometric);
}

void TiffPixels::checkCompression(TiffFile& file, std::uint16_t compression, unsigned bits) const {
    if (compression == COMPRESSION_OJPEG) file.fail("old-style JPEG-in-TIFF is not supported");
    if (compression == COMPRESSION_JPEG && bits != 8)
        file.fail(std::to_string(bits) + "-bit JPEG-in-TIFF is not supported");
    if (!TIFFIsCODECConfigured(compression)) {
        const TIFFCodec* codec = TIFFFindCODEC(compression);
        file.fail("compression " +
                  (codec != nullptr ? std::string(codec->name) : std::to_string(compression)) +
                  " is not supported");
    }
}

unsigned TiffPixels::chooseModel(TiffFile& file, std::uint16_t photometric, std::uint16_t compression) {
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK:
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_PALETTE:
            model_ = Model::Lookup;
            return 1;
        case PHOTOMETRIC_RGB:
            model_ = Model::Rgb;
            return 3;
        case PHOTOMETRIC_YCBCR:
            if (compression != COMPRESSION_JPEG)
                file.fail("YCbCr colour is supported only with JPEG compression");
            // libjpeg turns it into RGB, subsampled chroma included.
            TIFFSetField(file.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            model_ = Model::Rgb;
            return 3;
        case PHOTOMETRIC_SEPARATED: {
            std::uint16_t inks = INKSET_CMYK;
            TIFFGetFieldDefaulted(file.get(), TIFFTAG_INKSET, &inks);
            if (inks != INKSET_CMYK) file.fail("inks other than CMYK are not supported");
            model_ = Model::Cmyk;
            return 4;
        }
        default:
            file.fail("photometric interpretation " + std::to_string(photometric) +
                      photometricName(photometric) + " is not supported");
    }
}

void TiffPixels::fillLookup(TiffFile& file, std::uint16_t photometric) {
    const unsigned levels = bits_ < 8 ? 1u << bits_ : 256;
    if (photometric != PHOTOMETRIC_PALETTE) {
        for (unsigned i = 0; i < levels; ++i) {
            const auto level = std::uint8_t(i * 255 / (levels - 1));
            const std::uint8_t grey =
                photometric == PHOTOMETRIC_MINISWHITE ? std::uint8_t(255 - level) : level;
            lookup_[i] = {grey, grey, grey, 255};
        }
        return;
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(file.get(), TIFFTAG_COLORMAP, &red, &green, &blue)) file.fail("its palette is missing");
    // The colour map holds 16-bit values; some writers put 8-bit ones there, which all stay below 256.
    bool eightBit = true;
    for (unsigned i = 0; i < levels; ++i)
        eightBit = eightBit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
    const int shift = eightBit ? 0 : 8;
    for (unsigned i = 0; i < levels; ++i)
        lookup_[i] = {std::uint8_t(blue[i] >> shift), std::uint8_t(green[i] >> shift),
                      std::uint8_t(red[i] >> shift), 255};
}

void TiffPixels::convert(const std::uint8_t* row, std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                         std::ptrdiff_t step) const {
    if (bits_ < 8)
        convertPacked(row, first, count, dst, step);
    else if (bits_ == 8)
        convertSamples<std::uint8_t>(row, first, count, dst, step);
    else
        convertSamples<std::uint16_t>(row, first, count, dst, step);
}

template <typename Sample>
void TiffPixels::convertSamples(const std::uint8_t* row, std::uint32_t first, std::uint32_t count,
                                std::uint8_t* dst, std::ptrdiff_t step) const {
    const std::size_t stride = samples_ * sizeof(Sample);
    const unsigned used = colours_ + (alpha_ ? 1 : 0);
    const std::uint8_t* pixel = row + first * stride;
    std::uint8_t narrow[5];  // up to four colours and alpha, 8 bits each
    for (std::uint32_t i = 0; i < count; ++i, pixel += stride) {
        for (unsigned s = 0; s < used; ++s) {
            Sample value;
            std::memcpy(&value, pixel + s * sizeof(Sample), sizeof value);
            narrow[s] = std::uint8_t(value >> (8 * (sizeof(Sample) - 1)));  // 16 bits keep their top 8
        }
        finishPixel(narrow, dst + std::ptrdiff_t(i) * step);
    }
}

void TiffPixels::convertPacked(const std::uint8_t* row, std::uint32_t first, std::uint32_t count,
                               std::uint8_t* dst, std::ptrdiff_t step) const {
    const unsigned mask = (1u << bits_) - 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t bit = (std::size_t{first} + i) * bits_;  // the first pixel in the high bits
        const unsigned index = (row[bit / 8] >> (8 - bits_ - bit % 8)) & mask;
        std::memcpy(dst + std::ptrdiff_t(i) * step, lookup_[index].data(), 4);
    }
}

void TiffPixels::finishPixel(const std::uint8_t* samples, std::uint8_t* dst) const {
    switch (model_) {
        case Model::Lookup:
            std::memcpy(dst, lookup_[samples[0]].data(), 4);
            break;
        case Model::Rgb:
            dst[0] = samples[2], dst[1] = samples[1], dst[2] = samples[0], dst[3] = 255;
            break;
        case Model::Cmyk: {
            // TIFF's CMYK counts ink: 0 is none.
            const unsigned white = 255 - samples[3];
            dst[0] = std::uint8_t((255 - samples[2]) * white / 255);
            dst[1] = std::uint8_t((255 - samples[1]) * white / 255);
            dst[2] = std::uint8_t((255 - samples[0]) * white / 255);
            dst[3] = 255;
            break;
        }
    }
    if (!alpha_) return;
    const unsigned alpha = samples[colours_];
    dst[3] = std::uint8_t(alpha);
    // The library blends straight alpha; associated alpha arrives multiplied in.
    if (premultiplied_ && alpha != 0 && alpha != 255)
        for (int c = 0; c < 3; ++c)
            dst[c] = std::uint8_t(std::min(255u, (dst[c] * 255u + alpha / 2) / alpha));
}

}  // namespace zelvan_demo
