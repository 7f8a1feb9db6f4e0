// libFuzzer target: the display mapping alone, with arbitrary sample types, channel counts, mappings
// (limits, colours, curves, gammas, colormaps; NaN, infinities and values out of range among them),
// mapping texts and samples. An invalid mapping must say why in one line; a valid one must map every
// pixel within one level of the reference computed in double (tests/mapping/reference_mapping.h), its
// NaN and infinities in their own colour. The statistics must give finite, ordered limits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "reference_mapping.h"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_mapping_tables.hpp"

namespace {

[[noreturn]] void fail(const char* what, long detail) {
    std::fprintf(stderr, "zelvan fuzz: %s (%ld)\n", what, detail);
    std::abort();
}

// A number: mostly ordinary, sometimes NaN, an infinity, zero, huge or tiny.
double pickNumber(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 9)) {
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return in.ConsumeBool() ? HUGE_VAL : -HUGE_VAL;
        case 2:
            return in.ConsumeFloatingPoint<double>();
        case 3:
            return std::ldexp(in.ConsumeFloatingPointInRange<double>(-1, 1),
                              in.ConsumeIntegralInRange(-160, 160));
        default:
            return in.ConsumeFloatingPointInRange<double>(-70000, 70000);
    }
}

zelvan::Rgb pickColour(FuzzedDataProvider& in) {
    if (in.ConsumeIntegralInRange(0, 15) == 0) return {pickNumber(in), pickNumber(in), pickNumber(in)};
    return {double(in.ConsumeIntegral<std::uint8_t>()), double(in.ConsumeIntegral<std::uint8_t>()),
            in.ConsumeFloatingPointInRange<double>(0, 255)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const zelvan::SampleLayout layout{static_cast<zelvan::SampleType>(in.ConsumeIntegralInRange(0, 5)),
                                      in.ConsumeIntegralInRange(0u, 66u)};
    zelvan::DisplayMapping m;
    m.colormap = static_cast<zelvan::Colormap>(in.ConsumeIntegralInRange(0, 6));
    m.nonFinite = pickColour(in);
    const unsigned mapped = in.ConsumeIntegralInRange(0u, 66u);
    for (unsigned i = 0; i < mapped; ++i) {
        zelvan::ChannelMapping c;
        c.channel = in.ConsumeIntegralInRange(0u, 66u);
        c.colour = pickColour(in);
        c.visible = in.ConsumeIntegralInRange(0, 7) != 0;
        c.min = pickNumber(in);
        c.max =
            in.ConsumeBool() ? c.min + in.ConsumeFloatingPointInRange<double>(-5000, 5000) : pickNumber(in);
        c.curve = static_cast<zelvan::Curve>(in.ConsumeIntegralInRange(0, 4));
        c.gamma = in.ConsumeBool()   ? 1
                  : in.ConsumeBool() ? pickNumber(in)
                                     : in.ConsumeFloatingPointInRange(0.1, 10.0);
        c.inverted = in.ConsumeBool();
        m.channels.push_back(c);
    }
    zelvan::ChannelMapping parsed;
    std::string error;
    if (!zelvan::parseChannel(in.ConsumeRandomLengthString(40), parsed, error) &&
        (error.empty() || error.find('\n') != std::string::npos))
        fail("a refused text without a one-line reason", 0);

    const std::string why = m.validate(layout);
    if (why.find('\n') != std::string::npos) fail("a reason of more than one line", 0);
    if (!why.empty()) return 0;

    const std::uint32_t width = in.ConsumeIntegralInRange(1u, 700u),
                        height = in.ConsumeIntegralInRange(1u, 3u);
    const std::size_t sampleSize = zelvan::sampleBytes(layout.type), pixel = zelvan::pixelBytes(layout);
    const std::size_t pitch = width * pixel + sampleSize * in.ConsumeIntegralInRange(0u, 3u);
    std::vector<float> storage((pitch * height + 3) / 4 + 1);  // aligned for every sample type
    auto* samples = reinterpret_cast<unsigned char*>(storage.data());
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    for (std::size_t i = 0; i < pitch * height; ++i) samples[i] = bytes.empty() ? 0 : bytes[i % bytes.size()];

    zelvan::MappingTables tables;
    tables.build(m, layout, nullptr);
    std::vector<unsigned char> texels(std::size_t{width} * height * 4);
    if (!tables.apply(samples, pitch, width, height, texels.data(), std::size_t{width} * 4))
        fail("aligned samples refused", 0);
    if (sampleSize > 1 &&
        tables.apply(samples + 1, pitch, width, height, texels.data(), std::size_t{width} * 4))
        fail("misaligned samples accepted", 0);

    std::vector<double> values(layout.channels);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            for (unsigned c = 0; c < layout.channels; ++c) {
                const unsigned char* s =
                    samples + y * pitch + (std::size_t{x} * layout.channels + c) * sampleSize;
                std::uint16_t u16 = 0;
                std::int16_t i16 = 0;
                float f = 0;
                std::memcpy(&u16, s, 2 <= sampleSize ? 2 : 1);
                std::memcpy(&i16, s, 2 <= sampleSize ? 2 : 1);
                std::memcpy(&f, s, sampleSize == 4 ? 4 : 1);
                values[c] = layout.type == zelvan::SampleType::UInt8    ? double(*s)
                            : layout.type == zelvan::SampleType::UInt16 ? double(u16)
                            : layout.type == zelvan::SampleType::Int16  ? double(i16)
                                                                        : double(f);
            }
            double rgb[3];
            const bool finite = zelvan_test::referencePixel(m, values, rgb);
            const double want[3] = {finite ? rgb[2] : m.nonFinite.blue, finite ? rgb[1] : m.nonFinite.green,
                                    finite ? rgb[0] : m.nonFinite.red};
            const unsigned char* got = texels.data() + (std::size_t{y} * width + x) * 4;
            for (int k = 0; k < 3; ++k)
                if (std::abs(got[k] - zelvan_test::referenceByte(want[k])) > 1)
                    fail("a texel more than one level from the reference", long(got[k]) * 1000 + k);
            if (got[3] != 255) fail("a texel not opaque", got[3]);
        }

    zelvan::detail::ChannelValues channel;
    channel.add(samples, layout, m.channels[0].channel, width, 1);
    const zelvan::ChannelLimits limits = zelvan::percentileLimits(channel.values, 0.5, 99.5);
    if (limits.found && !(std::isfinite(limits.min) && std::isfinite(limits.max) && limits.min < limits.max))
        fail("limits not finite and ordered", 0);
    const zelvan::ChannelHistogram h = zelvan::histogramOf(channel.values, channel.nonFinite, 64);
    std::uint64_t counted = 0;
    for (const std::uint64_t c : h.counts) counted += c;
    if (counted != h.samples || h.samples + h.nonFinite != width)
        fail("histogram counts lost", long(counted));
    return 0;
}
