// The viewer's channel settings and keys, apart from the window.
#include "channel_controls.h"

#include <gtest/gtest.h>

using namespace zelvan_demo;

namespace {

// Limits of channel c: c * 100 to c * 100 + 50 (none for channel 3).
zelvan::ChannelLimits limitsOf(unsigned c) { return {c * 100.0, c * 100.0 + 50, c != 3}; }

TEST(ChannelControls, KeysChangeTheMappingOfFourChannels) {
    const zelvan::SampleLayout layout{zelvan::SampleType::UInt16, 4};
    MappingRequest request = parseMappingRequest({"2:#00FF00:10:20:log"}, "");
    ChannelControls controls(layout, request, limitsOf);
    zelvan::DisplayMapping m = controls.mapping();
    ASSERT_EQ(m.validate(layout), "");
    ASSERT_EQ(m.channels.size(), 4u);
    EXPECT_TRUE(m.channels[2].visible);
    EXPECT_FALSE(m.channels[0].visible || m.channels[1].visible || m.channels[3].visible);
    EXPECT_EQ(m.channels[2].curve, zelvan::Curve::Log);
    EXPECT_EQ(m.channels[2].max, 20);     // as given
    EXPECT_EQ(m.channels[1].min, 100);    // automatic
    EXPECT_EQ(m.channels[3].max, 65535);  // none found: the type's range
    EXPECT_EQ(controls.selected(), 2u);

    EXPECT_TRUE(controls.onKey('2', limitsOf));  // channel 1 shown and selected
    EXPECT_TRUE(controls.mapping().channels[1].visible);
    EXPECT_EQ(controls.selected(), 1u);
    EXPECT_FALSE(controls.onKey('5', limitsOf));  // no channel 4
    EXPECT_TRUE(controls.onKey('c', limitsOf));
    EXPECT_EQ(controls.mapping().channels[1].curve, zelvan::Curve::SquareRoot);
    EXPECT_TRUE(controls.onKey('a', limitsOf));
    EXPECT_EQ(controls.mapping().channels[2].min, 200);

    EXPECT_TRUE(controls.onKey('m', limitsOf));  // grey, of the selected channel alone
    m = controls.mapping();
    EXPECT_EQ(m.validate(layout), "");
    ASSERT_EQ(m.channels.size(), 1u);
    EXPECT_EQ(m.channels[0].channel, 1u);
    EXPECT_EQ(m.colormap, zelvan::Colormap::Grey);
    for (int i = 0; i < 5; ++i) controls.onKey('m', limitsOf);  // round to none
    EXPECT_EQ(controls.mapping().channels.size(), 4u);

    EXPECT_FALSE(controls.onKey('p', limitsOf));
    EXPECT_FALSE(controls.panelShown());
}

TEST(ChannelControls, ThreeChannelsStartRedGreenBlueAndOneStartsWhite) {
    ChannelControls three({zelvan::SampleType::Float32, 3}, {}, limitsOf);
    const zelvan::DisplayMapping m = three.mapping();
    ASSERT_EQ(m.channels.size(), 3u);
    EXPECT_TRUE(m.channels[0].visible && m.channels[1].visible && m.channels[2].visible);
    EXPECT_EQ(m.channels[1].colour.green, 255);
    EXPECT_EQ(m.channels[1].colour.red, 0);
    ChannelControls one({zelvan::SampleType::UInt8, 1}, parseMappingRequest({}, "magma"), limitsOf);
    EXPECT_EQ(one.mapping().colormap, zelvan::Colormap::Magma);
    EXPECT_EQ(one.mapping().channels[0].colour.blue, 255);
}

}  // namespace

namespace {

// With nothing asked, the picture's own mapping, the channels it leaves out hidden; the type's default
// is no mapping of its own: automatic limits then.
TEST(ChannelControls, ThePicturesOwnMappingStays) {
    const zelvan::SampleLayout layout{zelvan::SampleType::UInt16, 3};
    const zelvan::DisplayMapping kept =
        ChannelControls(layout, {}, limitsOf, {{{0, {}, true, 10, 200}}}).mapping();
    EXPECT_TRUE(kept.channels[0].max == 200 && !kept.channels[1].visible);
    EXPECT_EQ(ChannelControls(layout, {}, limitsOf, zelvan::defaultMapping(layout)).mapping().channels[1].min,
              100);
}

}  // namespace
