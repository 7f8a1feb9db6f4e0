// The display mapping when memory runs out, every allocation failing in turn: MappingTables::build
// fails whole, leaving the tables it had, and the functions that promise not to throw give their
// failure results instead (a throw through them would end the process).
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "failing_allocator.h"
#include "zelvan_mapping_statistics.hpp"
#include "zelvan_mapping_tables.hpp"

namespace {

using zelvan_test::FailingAllocator;

std::vector<unsigned char> texelsOf(const zelvan::MappingTables& tables,
                                    const std::vector<std::uint16_t>& samples) {
    std::vector<unsigned char> texels(samples.size() / 2 * 4, 0);
    EXPECT_TRUE(tables.apply(samples.data(), samples.size() * 2, std::uint32_t(samples.size() / 2), 1,
                             texels.data(), texels.size()));
    return texels;
}

// Runs `call` with allocation k failing, k = 1, 2, ... until one runs without reaching it; `call` says
// whether it gave its failure result, which it must exactly when its allocation failed.
template <typename Call>
void failEachAllocation(Call call) {
    for (std::size_t k = 1;; ++k) {
        FailingAllocator::start(k);
        const bool failed = call();
        const bool injected = FailingAllocator::injected();
        FailingAllocator::stop();
        EXPECT_EQ(failed, injected) << "allocation " << k;
        if (!injected) return;
    }
}

TEST(MappingAllocation, BuildFailsWholeAndTheRestGiveTheirFailureResults) {
    const zelvan::SampleLayout twoChannels{zelvan::SampleType::UInt16, 2},
        oneFloat{zelvan::SampleType::Float32, 1};
    zelvan::DisplayMapping shown;
    shown.channels.resize(2);
    std::string error;
    ASSERT_TRUE(zelvan::parseChannel("0:#0080FF:100:40000:sqrt", shown.channels[0], error));
    ASSERT_TRUE(zelvan::parseChannel("1:#FFA000:0:65535", shown.channels[1], error));
    zelvan::MappingTables tables;
    tables.build(shown, twoChannels, nullptr);
    std::vector<std::uint16_t> samples(128);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = std::uint16_t(i * 997);
    const std::vector<unsigned char> before = texelsOf(tables, samples);

    zelvan::DisplayMapping next = zelvan::defaultMapping(oneFloat);
    next.colormap = zelvan::Colormap::Viridis;
    failEachAllocation([&] {
        try {
            tables.build(next, oneFloat, &tables);
        } catch (const std::bad_alloc&) {  // the tables of the first mapping, whole
            EXPECT_EQ(tables.layout().type, zelvan::SampleType::UInt16);
            EXPECT_EQ(texelsOf(tables, samples), before);
            return true;
        }
        return false;
    });
    EXPECT_EQ(tables.layout().type, zelvan::SampleType::Float32);

    // Each failure gives the function's failure result; a throw through noexcept ends the test.
    const std::string text = "1:#FFA000:0:65535:-log:0.8";
    failEachAllocation([&] {
        zelvan::ChannelMapping channel;
        return !zelvan::parseChannel(text, channel, error);
    });
    failEachAllocation([&] { return zelvan::defaultMapping(twoChannels).channels.empty(); });
    const std::vector<float> values(1000, 2.5f);
    failEachAllocation([&] { return zelvan::histogramOf(values, 0, 16).counts.empty(); });
}

}  // namespace
