// The display mapping on its own, without OpenGL: every sample type, curve and colormap within one level
// of the reference computed in double (reference_mapping.h), the colormaps' published ends, what
// validate() and the text parser refuse, and the statistics' leaving out of NaN and infinities.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "reference_mapping.h"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_mapping_tables.hpp"

namespace {

using zelvan::Colormap;
using zelvan::Curve;
using zelvan::SampleType;

// A sample of `type` drawn to hit the limits, just inside and outside them, and (floats) NaN, infinities
// and numbers too small for float's normal range above min.
double randomSample(std::mt19937& random, SampleType type, double min, double max) {
    const double low = type == SampleType::Int16 ? -32768 : 0;
    const double high = type == SampleType::UInt8 ? 255 : type == SampleType::Float32 ? 1e6 : low + 65535;
    const double pick = std::uniform_real_distribution<double>(0, 1)(random);
    double v = 0;
    if (type == SampleType::Float32 && pick < 0.03) return std::numeric_limits<double>::quiet_NaN();
    if (type == SampleType::Float32 && pick < 0.05) return pick < 0.04 ? HUGE_VAL : -HUGE_VAL;
    if (pick < 0.1)
        v = min + std::ldexp(1.0, -std::uniform_int_distribution<int>(1, 140)(random)) * (max - min);
    else if (pick < 0.2)
        v = pick < 0.15 ? min : max;
    else if (pick < 0.3)
        v = std::uniform_real_distribution<double>(low, high)(random);
    else
        v = std::uniform_real_distribution<double>(std::min(min, max) - 2, std::max(min, max) + 2)(random);
    if (type == SampleType::Float32) return static_cast<float>(v);
    return std::clamp(std::round(v), low, high);
}

void store(double v, SampleType type, unsigned char* out) {
    const auto put = [out](auto s) { std::memcpy(out, &s, sizeof s); };
    if (type == SampleType::UInt8) put(static_cast<std::uint8_t>(v));
    if (type == SampleType::UInt16) put(static_cast<std::uint16_t>(v));
    if (type == SampleType::Int16) put(static_cast<std::int16_t>(v));
    if (type == SampleType::Float32) put(static_cast<float>(v));
}

TEST(Mapping, EveryTypeCurveAndColormapIsWithinOneLevelOfTheReference) {
    std::mt19937 random(7);
    constexpr std::uint32_t kWidth = 600, kHeight = 2;  // rows longer than the mapping's runs of 512
    for (const SampleType type :
         {SampleType::UInt8, SampleType::UInt16, SampleType::Int16, SampleType::Float32})
        for (int map = 0; map <= static_cast<int>(Colormap::Cividis); ++map)
            for (const Curve curve : {Curve::Linear, Curve::SquareRoot, Curve::Log, Curve::Asinh})
                for (const double gamma : {1.0, 0.1, 0.37, 2.6, 10.0}) {
                    const zelvan::SampleLayout layout{type, 64};
                    zelvan::DisplayMapping m;
                    m.colormap = static_cast<Colormap>(map);
                    m.nonFinite = {1, 2, 3};
                    const unsigned mapped = map != 0 ? 1 : gamma == 1.0 ? 64 : 3;  // 64: every lane's worst
                    for (unsigned i = 0; i < mapped; ++i) {
                        zelvan::ChannelMapping c;
                        c.channel = (i * 37 + 5) % 64;
                        c.curve = curve;
                        c.gamma = gamma;
                        c.inverted = (i + static_cast<unsigned>(map)) % 2 == 1;
                        c.visible = mapped == 1 || i != 1;
                        c.colour = {double(random() % 256), double(random() % 256), 255.0 * (i % 2)};
                        const double a = randomSample(random, type, 0, 40000),
                                     b = randomSample(random, type, 0, 40000);
                        c.min = std::isfinite(a) ? a : 1;
                        c.max = std::isfinite(b) && b != c.min ? b : c.min + 3;
                        m.channels.push_back(c);
                    }
                    ASSERT_EQ(m.validate(layout), "");
                    zelvan::MappingTables tables;
                    tables.build(m, layout, nullptr);
                    const std::size_t pitch = kWidth * 64 * 4 + 8;
                    std::vector<std::vector<double>> values(kWidth * kHeight, std::vector<double>(64));
                    std::vector<unsigned char> samples(pitch * kHeight +
                                                       8);  // aligned: vector of bytes from new
                    for (std::size_t p = 0; p < values.size(); ++p)
                        for (unsigned k = 0; k < 64; ++k) {
                            const zelvan::ChannelMapping& c = m.channels[k % mapped];
                            values[p][k] = randomSample(random, type, c.min, c.max);
                            store(values[p][k], type,
                                  samples.data() + (p / kWidth) * pitch +
                                      ((p % kWidth) * 64 + k) * zelvan::sampleBytes(type));
                        }
                    std::vector<unsigned char> texels(kWidth * kHeight * 4);
                    ASSERT_TRUE(
                        tables.apply(samples.data(), pitch, kWidth, kHeight, texels.data(), kWidth * 4));
                    for (std::size_t p = 0; p < values.size(); ++p) {
                        double rgb[3];
                        const bool finite = zelvan_test::referencePixel(m, values[p], rgb);
                        const int want[3] = {finite ? zelvan_test::referenceByte(rgb[2]) : 3,
                                             finite ? zelvan_test::referenceByte(rgb[1]) : 2,
                                             finite ? zelvan_test::referenceByte(rgb[0]) : 1};
                        for (int k = 0; k < 3; ++k)
                            ASSERT_LE(std::abs(texels[p * 4 + k] - want[k]), finite ? 1 : 0)
                                << "type " << int(type) << " colormap " << map << " curve " << int(curve)
                                << " gamma " << gamma << " pixel " << p << " component " << k
                                << " sample of its first channel " << values[p][m.channels[0].channel];
                        ASSERT_EQ(texels[p * 4 + 3], 255);
                    }
                }
}

TEST(Mapping, ColormapsShowTheirPublishedEntries) {
    const struct {
        Colormap map;
        std::uint8_t sample;
        int red, green, blue;
    } known[] = {{Colormap::Viridis, 0, 68, 1, 84},      {Colormap::Viridis, 128, 33, 145, 140},
                 {Colormap::Viridis, 255, 253, 231, 37}, {Colormap::Magma, 255, 252, 253, 191},
                 {Colormap::Inferno, 0, 0, 0, 4},        {Colormap::Inferno, 255, 252, 255, 164},
                 {Colormap::Cividis, 0, 0, 34, 78},      {Colormap::Grey, 77, 77, 77, 77}};
    for (const auto& k : known) {
        zelvan::DisplayMapping m;
        m.colormap = k.map;
        m.channels.resize(1);
        m.channels[0].max = 255;
        zelvan::MappingTables tables;
        tables.build(m, {SampleType::UInt8, 1}, nullptr);
        unsigned char texel[4];
        ASSERT_TRUE(tables.apply(&k.sample, 1, 1, 1, texel, 4));
        EXPECT_EQ(texel[2], k.red) << zelvan::colormapName(k.map) << " at " << int(k.sample);
        EXPECT_EQ(texel[1], k.green) << zelvan::colormapName(k.map) << " at " << int(k.sample);
        EXPECT_EQ(texel[0], k.blue) << zelvan::colormapName(k.map) << " at " << int(k.sample);
    }
}

TEST(Mapping, ValidateAndTheParserSayWhatIsWrong) {
    const zelvan::SampleLayout layout{SampleType::UInt16, 3};
    zelvan::DisplayMapping good;
    std::string error;
    zelvan::ChannelMapping c;
    ASSERT_TRUE(zelvan::parseChannel("2:#FF8000:100:4000:-log:0.8", c, error)) << error;
    EXPECT_EQ(c.channel, 2u);
    EXPECT_EQ(c.colour.red, 255);
    EXPECT_EQ(c.colour.green, 128);
    EXPECT_EQ(c.colour.blue, 0);
    EXPECT_EQ(c.max, 4000);
    EXPECT_TRUE(c.inverted && c.curve == Curve::Log && c.gamma == 0.8);
    good.channels = {c};
    EXPECT_EQ(good.validate(layout), "");

    const auto broken = [&](auto change) {
        zelvan::DisplayMapping m = good;
        change(m);
        return m.validate(layout);
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(broken([](auto& m) { m.channels[0].min = m.channels[0].max; }).find("min equals max"),
              std::string::npos);
    EXPECT_NE(broken([&](auto& m) { m.channels[0].max = nan; }), "");
    EXPECT_NE(broken([](auto& m) { m.channels[0].max = 1e-320 + m.channels[0].min; }), "");
    EXPECT_NE(broken([](auto& m) { m.channels[0].channel = 3; }).find("only 3 channels"), std::string::npos);
    EXPECT_NE(broken([](auto& m) { m.channels.resize(4, m.channels[0]); }).find("4 channels mapped"),
              std::string::npos);
    EXPECT_NE(broken([](auto& m) { m.channels[0].colour.green = 256; }).find("colour"), std::string::npos);
    EXPECT_NE(broken([&](auto& m) { m.nonFinite.red = nan; }), "");
    EXPECT_NE(broken([](auto& m) { m.channels[0].gamma = 0; }).find("gamma"), std::string::npos);
    EXPECT_NE(broken([](auto& m) { m.channels.clear(); }), "");
    EXPECT_NE(broken([](auto& m) {
                  m.colormap = Colormap::Magma;
                  m.channels.push_back(m.channels[0]);
              }).find("colormap"),
              std::string::npos);
    EXPECT_NE(good.validate({SampleType::Bgra8, 4}), "");

    for (const char* bad :
         {"", "1:#FF0000:0", "x:#FF0000:0:1", "1:FF0000:0:1", "1:#GG0000:0:1", "1:#FF0000:a:1",
          "1:#FF0000:0:1:cubic", "1:#FF0000:0:1:log:g", "1:#FF0000:0:1:log:1:7"}) {
        error.clear();
        EXPECT_FALSE(zelvan::parseChannel(bad, c, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    Colormap map = Colormap::None;
    EXPECT_TRUE(zelvan::parseColormap("cividis", map) && map == Colormap::Cividis);
    EXPECT_FALSE(zelvan::parseColormap("jet", map));
}

TEST(Mapping, StatisticsLeaveOutNaNAndInfinity) {
    const float inf = std::numeric_limits<float>::infinity();
    const float samples[] = {3, std::numeric_limits<float>::quiet_NaN(), -inf, 1, inf, 2, 100, -5};
    zelvan::detail::ChannelValues values;
    values.add(reinterpret_cast<const unsigned char*>(samples), {SampleType::Float32, 2}, 0, 4, 1);
    EXPECT_EQ(values.nonFinite, 2u);  // channel 0 is 3, -inf, inf, 100
    const zelvan::ChannelHistogram h = zelvan::histogramOf(values.values, values.nonFinite, 4);
    EXPECT_EQ(h.low, 3);
    EXPECT_EQ(h.high, 100);
    EXPECT_EQ(h.samples, 2u);
    EXPECT_EQ(h.counts, (std::vector<std::uint64_t>{1, 0, 0, 1}));
    const zelvan::ChannelLimits limits = zelvan::percentileLimits(values.values, 0, 100);
    EXPECT_TRUE(limits.found);
    EXPECT_EQ(limits.min, 3);
    EXPECT_EQ(limits.max, 100);
}

}  // namespace
