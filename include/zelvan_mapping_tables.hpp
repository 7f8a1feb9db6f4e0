/*
 * Zelvan for C++: a DisplayMapping made ready to apply (MappingTables), and its application to a
 * rectangle of raw samples, giving blue-green-red-alpha texels.
 *
 * Speed: integer samples go through one table per channel, indexed by the sample, of the channel's share
 * of the pixel already coloured (its three components packed in one 64-bit word, so that adding up the
 * channels is one addition each); floats through arithmetic and a table of the shaped value indexed by
 * the bits of t (finer where t is small, where sqrt, log and gammas below 1 are steep), interpolated.
 * Exactness: every texel within one level of the mapping computed in double.
 *
 * Header-only C++17; nothing here calls OpenGL.
 * Errors: MappingTables::build throws std::bad_alloc, leaving the tables as they were; nothing else here
 *   throws.
 * Threads: build changes the tables and needs them to itself; apply, layout and every const member may
 *   run on any thread, several at once, while no build runs on the same tables. Tables built share their
 *   unchanged channels' tables with the `previous` ones, read-only: either may be destroyed first.
 */
#ifndef ZELVAN_MAPPING_TABLES_HPP
#define ZELVAN_MAPPING_TABLES_HPP

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

// One float channel eight pixels at a time where the processor has AVX2 (chosen when the program runs).
// Not on Windows, where GCC does not align the stack to the 32 bytes AVX spills need.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && \
    !defined(_WIN32)
#define ZELVAN_MAPPING_AVX2 1
#include <immintrin.h>
#endif

#include "zelvan_mapping.hpp"
#include "zelvan_mapping_colormaps.hpp"

namespace zelvan {
namespace detail {

/* Packed shares: blue, green and red in 21-bit lanes of 1/128 level; 64 channels of at most 255 levels
 * each add up without a lane overflowing. */
constexpr unsigned kLaneBits = 21, kLaneFraction = 7;
constexpr std::uint64_t kLaneMask = (std::uint64_t{1} << kLaneBits) - 1;
inline std::uint64_t packedShare(const double (&rgb)[3]) noexcept {
    const auto lane = [](double v) {
        return static_cast<std::uint64_t>(std::lround(std::clamp(v, 0.0, 255.0) * (1 << kLaneFraction)));
    };
    return lane(rgb[2]) | lane(rgb[1]) << kLaneBits | lane(rgb[0]) << 2 * kLaneBits;
}
inline unsigned char unpackedLane(std::uint64_t sum, unsigned lane) noexcept {
    const std::uint64_t v =
        std::min<std::uint64_t>(sum >> lane * kLaneBits & kLaneMask, 255 << kLaneFraction);
    return static_cast<unsigned char>((v + (1 << (kLaneFraction - 1))) >> kLaneFraction);
}

/* The float curve table's index: the bits of t (0 to 1) above the last 15, so 256 entries an octave. */
constexpr unsigned kCurveShift = 15;
constexpr std::uint32_t kCurveEntries = (0x3F800000u >> kCurveShift) + 2;  // t = 1, and one beyond

}  // namespace detail

/* A DisplayMapping for one SampleLayout, ready to apply. Default-made tables have the default (Bgra8)
 * layout and no channel: apply refuses them. Building costs a table evaluation per possible sample value
 * (256 for 8-bit channels, 65536 for 16-bit, about 32000 for floats, and 4097 texels for one float
 * channel) per visible channel, and that much memory in 8-byte (integers) or 4-byte (floats) entries;
 * channels whose mapping is unchanged take the tables of the mapping before. Copying shares the tables. */
class MappingTables {
public:
    /* Makes the tables of `mapping` for pictures of `layout`, which must be a mapping that
     * mapping.validate(layout) accepts (another makes tables that read past a pixel's samples); reuses
     * `previous`'s tables (may be null, or these tables) where a channel's mapping is the same.
     * Throws: std::bad_alloc when memory runs out, the tables then left as they were. Cost: see above. */
    void build(const DisplayMapping& mapping, const SampleLayout& layout, const MappingTables* previous) {
        std::vector<Channel> built;
        for (const ChannelMapping& c : mapping.channels) {
            if (!c.visible) continue;
            Channel ch;
            ch.mapping = c;
            ch.colormap = mapping.colormap;
            ch.min = c.min;
            ch.inverseRange = 1 / (c.max - c.min);
            // In float, min as the sum of two floats keeps v - min exact near min, where steep curves
            // magnify any error; limits or spans beyond float's normal range take the double path.
            const double inverse = std::fabs(ch.inverseRange);
            ch.floatSafe = std::fabs(c.min) < 1e37 && inverse > 1e-37 && inverse < 1e37;
            ch.minHigh = ch.floatSafe ? static_cast<float>(c.min) : 0;
            ch.minLow = ch.floatSafe ? static_cast<float>(c.min - ch.minHigh) : 0;
            ch.inverseRangeFloat = static_cast<float>(ch.inverseRange);
            ch.colour[0] = static_cast<float>(c.colour.blue);
            ch.colour[1] = static_cast<float>(c.colour.green);
            ch.colour[2] = static_cast<float>(c.colour.red);
            ch.shapedZero = static_cast<float>(detail::shapedT(c, 0));
            const Channel* old = previous != nullptr ? previous->find(ch, layout.type) : nullptr;
            if (old != nullptr) {
                ch.packed = old->packed;
                ch.curve = old->curve;
            } else if (layout.type == SampleType::Float32) {
                ch.curve = curveTable(c);
            } else {
                ch.packed = packedTable(c, mapping.colormap, layout.type);
            }
            built.push_back(std::move(ch));
        }
        // One float channel: its texel by the shaped value, in kTexelSteps steps.
        std::vector<std::uint32_t> texels;
        if (layout.type == SampleType::Float32 && built.size() == 1) {
            texels.resize(kTexelSteps + 1);
            for (std::uint32_t i = 0; i <= kTexelSteps; ++i) {
                double rgb[3];
                shareAt(built[0].mapping, mapping.colormap, double(i) / kTexelSteps, rgb);
                const unsigned char texel[4] = {toByte(rgb[2]), toByte(rgb[1]), toByte(rgb[0]), 255};
                std::memcpy(&texels[i], texel, 4);
            }
        }
        // Nothing below allocates: the tables change all at once or not at all.
        layout_ = layout;
        colormap_ = mapping.colormap;
        nonFinite_[0] = toByte(mapping.nonFinite.blue);
        nonFinite_[1] = toByte(mapping.nonFinite.green);
        nonFinite_[2] = toByte(mapping.nonFinite.red);
        channels_.swap(built);
        texelByValue_.swap(texels);
        for (int i = 0; i < 256; ++i) {
            double rgb[3];
            detail::colormapAt(mapping.colormap, i / 255.0, rgb);
            for (int k = 0; k < 3; ++k) colormapRgb_[i][k] = static_cast<float>(rgb[k]);
        }
    }

    /* The layout the tables were last built for (the default, Bgra8 with 4 channels, before any build):
     * the samples apply reads. Threads: as the class. Cost: none. */
    const SampleLayout& layout() const noexcept { return layout_; }

    /*
     * Maps width x height pixels of samples (rows samplesPitch bytes apart) to texels (rows pitch bytes
     * apart, blue-green-red-alpha, alpha 255). samples holds layout() samples, pitches are in bytes,
     * texels has room for height rows of width texels.
     * Returns: false, writing nothing, when the samples or their pitch are not aligned to the sample's
     * size, or when the tables were never built (a Bgra8 layout); true otherwise, a zero width or
     * height writing nothing. Threads: as the class. Cost: about a nanosecond a sample.
     */
    bool apply(const void* samples, std::size_t samplesPitch, std::uint32_t width, std::uint32_t height,
               unsigned char* texels, std::size_t pitch) const noexcept {
        const std::size_t size = sampleBytes(layout_.type);
        if (reinterpret_cast<std::uintptr_t>(samples) % size != 0 || samplesPitch % size != 0) return false;
        for (std::uint32_t row = 0; row < height; ++row) {
            const auto* in = static_cast<const unsigned char*>(samples) + row * samplesPitch;
            unsigned char* out = texels + row * pitch;
            for (std::uint32_t x = 0; x < width; x += kChunk) {
                const std::uint32_t n = std::min(kChunk, width - x);
                const std::size_t at = std::size_t{x} * layout_.channels;
                switch (layout_.type) {
                    case SampleType::UInt8:
                        packedRun(reinterpret_cast<const std::uint8_t*>(in) + at, n, out + std::size_t{x} * 4,
                                  [](std::uint8_t v) { return v; });
                        break;
                    case SampleType::UInt16:
                        packedRun(reinterpret_cast<const std::uint16_t*>(in) + at, n,
                                  out + std::size_t{x} * 4, [](std::uint16_t v) { return v; });
                        break;
                    case SampleType::Int16:
                        packedRun(reinterpret_cast<const std::int16_t*>(in) + at, n, out + std::size_t{x} * 4,
                                  [](std::int16_t v) { return static_cast<std::uint16_t>(v) ^ 0x8000u; });
                        break;
                    case SampleType::Float32:
                        if (texelByValue_.empty())
                            floatRun(reinterpret_cast<const float*>(in) + at, n, out + std::size_t{x} * 4);
                        else if (wideKernels())
                            singleFloatRunWide(reinterpret_cast<const float*>(in) + at, n,
                                               out + std::size_t{x} * 4);
                        else
                            singleFloatRun(reinterpret_cast<const float*>(in) + at, n,
                                           out + std::size_t{x} * 4);
                        break;
                    default:
                        return false;
                }
            }
        }
        return true;
    }

private:
    static constexpr std::uint32_t kChunk = 512;
    // Steps of the single float channel's texel table: a step moves a component by at most 1/16 level
    // (colormaps' steepest entries are about 4 levels apart, 16 steps).
    static constexpr std::uint32_t kTexelSteps = 4096;
    struct Channel {
        ChannelMapping mapping;
        Colormap colormap = Colormap::None;
        std::shared_ptr<const std::vector<std::uint64_t>> packed;  // integer samples: share by value
        std::shared_ptr<const std::vector<float>> curve;           // floats: shaped value by t's bits
        double min = 0, inverseRange = 1;
        bool floatSafe = false;
        float minHigh = 0, minLow = 0, inverseRangeFloat = 1;
        float colour[3] = {};  // blue, green, red
        float shapedZero = 0;
    };

    static unsigned char toByte(double v) noexcept {
        return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
    static bool same(const ChannelMapping& a, const ChannelMapping& b) noexcept {
        return a.channel == b.channel && a.min == b.min && a.max == b.max && a.curve == b.curve &&
               a.gamma == b.gamma && a.inverted == b.inverted && a.colour.red == b.colour.red &&
               a.colour.green == b.colour.green && a.colour.blue == b.colour.blue;
    }
    const Channel* find(const Channel& c, SampleType type) const noexcept {
        if (type != layout_.type) return nullptr;
        for (const Channel& old : channels_)
            if (old.colormap == c.colormap && same(old.mapping, c.mapping)) return &old;
        return nullptr;
    }

    /* The channel's share, red-green-blue 0 to 255, at shaped value y. */
    static void shareAt(const ChannelMapping& c, Colormap map, double y, double (&rgb)[3]) noexcept {
        if (map != Colormap::None) return detail::colormapAt(map, y, rgb);
        rgb[0] = y * c.colour.red;
        rgb[1] = y * c.colour.green;
        rgb[2] = y * c.colour.blue;
    }

    static std::shared_ptr<const std::vector<std::uint64_t>> packedTable(const ChannelMapping& c,
                                                                         Colormap map, SampleType type) {
        const bool byte = type == SampleType::UInt8;
        const std::int32_t first = type == SampleType::Int16 ? -32768 : 0;
        auto table = std::make_shared<std::vector<std::uint64_t>>(byte ? 256 : 65536);
        // Below min and above max the share is constant: computed once each.
        double rgb[3];
        shareAt(c, map, detail::shapedT(c, 0), rgb);
        const std::uint64_t low = detail::packedShare(rgb);
        shareAt(c, map, detail::shapedT(c, 1), rgb);
        const std::uint64_t high = detail::packedShare(rgb);
        const double lo = std::min(c.min, c.max), hi = std::max(c.min, c.max);
        for (std::size_t i = 0; i < table->size(); ++i) {
            const double v = static_cast<double>(first + static_cast<std::int32_t>(i));
            if (v <= lo || v >= hi) {
                const bool atMin = (v <= lo) == (c.min <= c.max);
                (*table)[i] = atMin ? low : high;
                continue;
            }
            shareAt(c, map, detail::shapedT(c, detail::limitedT(c, v)), rgb);
            (*table)[i] = detail::packedShare(rgb);
        }
        return table;
    }

    static std::shared_ptr<const std::vector<float>> curveTable(const ChannelMapping& c) {
        auto table = std::make_shared<std::vector<float>>(detail::kCurveEntries);
        for (std::uint32_t i = 0; i + 1 < detail::kCurveEntries; ++i) {
            const std::uint32_t bits = i << detail::kCurveShift;
            float t;
            std::memcpy(&t, &bits, sizeof t);
            (*table)[i] = static_cast<float>(detail::shapedT(c, t));
        }
        table->back() = (*table)[detail::kCurveEntries - 2];
        return table;
    }

    template <typename Sample, typename Index>
    void packedRun(const Sample* in, std::uint32_t n, unsigned char* out, Index index) const noexcept {
        std::uint64_t sum[kChunk] = {};
        const std::size_t stride = layout_.channels;
        // Channels four at a time: the running sums are loaded and stored a quarter as often.
        std::size_t c = 0;
        for (; c + 4 <= channels_.size(); c += 4) {
            const std::uint64_t *t0 = channels_[c].packed->data(), *t1 = channels_[c + 1].packed->data(),
                                *t2 = channels_[c + 2].packed->data(), *t3 = channels_[c + 3].packed->data();
            const Sample *s0 = in + channels_[c].mapping.channel, *s1 = in + channels_[c + 1].mapping.channel,
                         *s2 = in + channels_[c + 2].mapping.channel,
                         *s3 = in + channels_[c + 3].mapping.channel;
            for (std::size_t x = 0, at = 0; x < n; ++x, at += stride)
                sum[x] += t0[index(s0[at])] + t1[index(s1[at])] + t2[index(s2[at])] + t3[index(s3[at])];
        }
        for (; c < channels_.size(); ++c) {
            const std::uint64_t* table = channels_[c].packed->data();
            const Sample* s = in + channels_[c].mapping.channel;
            for (std::size_t x = 0, at = 0; x < n; ++x, at += stride) sum[x] += table[index(s[at])];
        }
        for (std::uint32_t x = 0; x < n; ++x, out += 4) {
            out[0] = detail::unpackedLane(sum[x], 0);
            out[1] = detail::unpackedLane(sum[x], 1);
            out[2] = detail::unpackedLane(sum[x], 2);
            out[3] = 255;
        }
    }

    /* The shaped value of a finite sample, from the curve table (exactly, for t below float's normal
     * range, where the table has no entries). */
    static float shapedFloat(const Channel& ch, float v) noexcept {
        float tf = 0;
        if (ch.floatSafe) {
            tf = std::min(std::max(((v - ch.minHigh) - ch.minLow) * ch.inverseRangeFloat, 0.0f), 1.0f);
        } else {
            tf =
                static_cast<float>(std::clamp((static_cast<double>(v) - ch.min) * ch.inverseRange, 0.0, 1.0));
        }
        if (tf >= FLT_MIN) {
            std::uint32_t bits;
            std::memcpy(&bits, &tf, sizeof bits);
            const float* at = ch.curve->data() + (bits >> detail::kCurveShift);
            const float f = static_cast<float>(bits & ((1u << detail::kCurveShift) - 1)) *
                            (1.0f / (1u << detail::kCurveShift));
            return at[0] + f * (at[1] - at[0]);
        }
        const double t = std::clamp((static_cast<double>(v) - ch.min) * ch.inverseRange, 0.0, 1.0);
        return t > 0 ? static_cast<float>(detail::shapedT(ch.mapping, t)) : ch.shapedZero;
    }

    static bool wideKernels() noexcept {
#ifdef ZELVAN_MAPPING_AVX2
        static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        return available;
#else
        return false;
#endif
    }

#ifdef ZELVAN_MAPPING_AVX2
    /* singleFloatRun's arithmetic on eight pixels at once; a group with a t below float's normal range
     * (which the curve table does not reach) goes the scalar way. */
    __attribute__((target("avx2,fma"))) void singleFloatRunWide(const float* in, std::uint32_t n,
                                                                unsigned char* out) const noexcept {
        const Channel& ch = channels_[0];
        if (!ch.floatSafe) return singleFloatRun(in, n, out);
        const int stride = static_cast<int>(layout_.channels);
        const __m256i lanes =
            _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(stride));
        const __m256 minHigh = _mm256_set1_ps(ch.minHigh), minLow = _mm256_set1_ps(ch.minLow);
        const __m256 inverse = _mm256_set1_ps(ch.inverseRangeFloat), zero = _mm256_setzero_ps();
        const __m256 one = _mm256_set1_ps(1), smallest = _mm256_set1_ps(FLT_MIN);
        const __m256 cell = _mm256_set1_ps(1.0f / (1u << detail::kCurveShift));
        const __m256 steps = _mm256_set1_ps(kTexelSteps), half = _mm256_set1_ps(0.5f);
        const __m256i fraction = _mm256_set1_epi32((1 << detail::kCurveShift) - 1);
        std::uint32_t badTexel;
        const unsigned char bad[4] = {nonFinite_[0], nonFinite_[1], nonFinite_[2], 255};
        std::memcpy(&badTexel, bad, 4);
        const __m256i nonFinite = _mm256_set1_epi32(static_cast<int>(badTexel));
        const float* curve = ch.curve->data();
        const int* texels = reinterpret_cast<const int*>(texelByValue_.data());
        std::uint32_t x = 0;
        for (; x + 8 <= n; x += 8) {
            const float* pixels = in + std::size_t{x} * static_cast<std::size_t>(stride);
            const float* at = pixels + ch.mapping.channel;
            const __m256 v = stride == 1 ? _mm256_loadu_ps(at) : _mm256_i32gather_ps(at, lanes, 4);
            const __m256 finite = _mm256_cmp_ps(_mm256_sub_ps(v, v), zero, _CMP_EQ_OQ);
            // max(t, 0) is 0 for NaN: every lane indexes the tables safely.
            const __m256 t = _mm256_min_ps(
                _mm256_max_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_sub_ps(v, minHigh), minLow), inverse), zero),
                one);
            const __m256 tiny =
                _mm256_and_ps(_mm256_cmp_ps(t, smallest, _CMP_LT_OQ), _mm256_cmp_ps(t, zero, _CMP_GT_OQ));
            if (_mm256_movemask_ps(_mm256_and_ps(tiny, finite)) != 0) {
                singleFloatRun(pixels, 8, out + std::size_t{x} * 4);
                continue;
            }
            const __m256i bits = _mm256_castps_si256(t);
            const __m256i index = _mm256_srli_epi32(bits, detail::kCurveShift);
            const __m256 f = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_and_si256(bits, fraction)), cell);
            const __m256 low = _mm256_i32gather_ps(curve, index, 4),
                         high = _mm256_i32gather_ps(curve + 1, index, 4);
            const __m256 y = _mm256_fmadd_ps(f, _mm256_sub_ps(high, low), low);
            const __m256i step = _mm256_cvttps_epi32(_mm256_fmadd_ps(y, steps, half));
            const __m256i texel = _mm256_i32gather_epi32(texels, step, 4);
            const __m256i shown = _mm256_blendv_epi8(nonFinite, texel, _mm256_castps_si256(finite));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + std::size_t{x} * 4), shown);
        }
        singleFloatRun(in + std::size_t{x} * static_cast<std::size_t>(stride), n - x,
                       out + std::size_t{x} * 4);
    }
#else
    void singleFloatRunWide(const float* in, std::uint32_t n, unsigned char* out) const noexcept {
        singleFloatRun(in, n, out);
    }
#endif

    void singleFloatRun(const float* in, std::uint32_t n, unsigned char* out) const noexcept {
        const Channel& ch = channels_[0];
        const unsigned stride = layout_.channels;
        const unsigned char nonFinite[4] = {nonFinite_[0], nonFinite_[1], nonFinite_[2], 255};
        std::uint32_t bad;
        std::memcpy(&bad, nonFinite, 4);
        for (std::uint32_t x = 0; x < n; ++x, out += 4) {
            const float v = in[ch.mapping.channel + std::size_t{x} * stride];
            const std::uint32_t texel =
                v - v == 0
                    ? texelByValue_[static_cast<std::uint32_t>(shapedFloat(ch, v) * kTexelSteps + 0.5f)]
                    : bad;
            std::memcpy(out, &texel, 4);
        }
    }

    void floatRun(const float* in, std::uint32_t n, unsigned char* out) const noexcept {
        float sum[3][kChunk] = {};
        bool bad[kChunk] = {};
        const unsigned stride = layout_.channels;
        for (const Channel& ch : channels_) {
            const float* s = in + ch.mapping.channel;
            for (std::uint32_t x = 0; x < n; ++x) {
                const float v = s[std::size_t{x} * stride];
                if (!(v - v == 0)) {  // NaN or infinite
                    bad[x] = true;
                    continue;
                }
                const float y = shapedFloat(ch, v);
                if (colormap_ == Colormap::None) {
                    for (int k = 0; k < 3; ++k) sum[k][x] += y * ch.colour[k];
                    continue;
                }
                const float at = std::clamp(y, 0.0f, 1.0f) * 255;
                const int i = std::min(static_cast<int>(at), 254);
                const float f = at - static_cast<float>(i);
                for (int k = 0; k < 3; ++k)
                    sum[k][x] +=
                        colormapRgb_[i][2 - k] + f * (colormapRgb_[i + 1][2 - k] - colormapRgb_[i][2 - k]);
            }
        }
        for (std::uint32_t x = 0; x < n; ++x, out += 4) {
            for (int k = 0; k < 3; ++k)
                out[k] = bad[x] ? nonFinite_[k]
                                : static_cast<unsigned char>(std::clamp(sum[k][x], 0.0f, 255.0f) + 0.5f);
            out[3] = 255;
        }
    }

    SampleLayout layout_;
    Colormap colormap_ = Colormap::None;
    std::vector<Channel> channels_;
    float colormapRgb_[256][3] = {};   // red, green, blue, 0 to 255
    unsigned char nonFinite_[3] = {};  // blue, green, red
    std::vector<std::uint32_t> texelByValue_;
};

}  // namespace zelvan

#endif /* ZELVAN_MAPPING_TABLES_HPP */
