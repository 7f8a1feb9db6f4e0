// The descriptor readers on hostile text, and the levels and URLs the formats make of what they read.
#include <gtest/gtest.h>

#include <string>

#include "remote/formats/json_reader.h"
#include "remote/formats/tile_layout.h"
#include "remote/formats/xml_reader.h"

namespace {

using zelvan::sources::detail::JsonValue;
using zelvan::sources::detail::TileLayout;
using zelvan::sources::detail::XmlElement;

TEST(RemoteDescriptors, HostileTextIsRefusedWithoutCrashing) {
    const std::string deepJson(100000, '[');
    const std::string notJson[] = {deepJson,   "{\"a\":1,}", "{\"a\" 1}", "\"\\ud800\"",
                                   "[1e]",     "{} {}",      "",          std::string(5u << 20, ' ') + "1",
                                   "\"a\x01\""};
    for (const std::string& text : notJson) {
        JsonValue v;
        std::string error;
        EXPECT_FALSE(zelvan::sources::detail::parseJson(text, v, error)) << text.substr(0, 20);
        EXPECT_FALSE(error.empty());
    }
    std::string deepXml;
    for (int i = 0; i < 10000; ++i) deepXml += "<a>";
    const std::string notXml[] = {
        deepXml, "<Image a=\"1\">", "<a></b>", "<!DOCTYPE a><a/>", "<a x=\"&bomb;\"/>", "<a/><b/>", "text"};
    for (const std::string& text : notXml) {
        XmlElement e;
        std::string error;
        EXPECT_FALSE(zelvan::sources::detail::parseXml(text, e, error)) << text.substr(0, 20);
        EXPECT_FALSE(error.empty());
    }
    JsonValue v;
    std::string error;
    ASSERT_TRUE(zelvan::sources::detail::parseJson(
        " {\"a\": [1, -2.5e1, \"\\u00e9\\ud83d\\ude00\", true, null]} ", v, error))
        << error;
    EXPECT_EQ(v.find("a")->items[1].number, -25);
    EXPECT_EQ(v.find("a")->items[2].text, "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(RemoteDescriptors, IiifLevelsFollowTheServersCompliance) {
    const std::string info =
        R"({"@context":"http://iiif.io/api/image/2/context.json","@id":"https://h/i","width":5000,"height":3000,
            "profile":["http://iiif.io/api/image/2/LEVEL.json"],"sizes":[{"width":625,"height":375},
            {"width":312,"height":188},{"width":100,"height":60}],
            "tiles":[{"width":512,"height":256,"scaleFactors":[1,2,4,16]}]})";
    struct Case {
        std::string level;
        std::size_t levels;
    };
    // Level 0: the declared factors up to the first gap, then the declared sizes that halve. Level 1:
    // regions down to one view tile.
    for (const Case& c : {Case{"level0", 5}, Case{"level1", 5}}) {
        std::string text = info;
        text.replace(text.find("LEVEL"), 5, c.level);
        JsonValue v;
        TileLayout layout;
        std::string error;
        ASSERT_TRUE(zelvan::sources::detail::parseJson(text, v, error));
        ASSERT_TRUE(zelvan::sources::detail::iiifLayout("https://h/i/info.json", v, layout, error)) << error;
        ASSERT_EQ(layout.levels.size(), c.levels) << c.level;
        EXPECT_EQ(layout.tileUrl(2, 2, 2), "https://h/i/4096,2048,904,952/226,/0/default.jpg");
        EXPECT_EQ(layout.tileUrl(3, 0, 0), c.level == "level0"
                                               ? "https://h/i/full/625,/0/default.jpg"
                                               : "https://h/i/0,0,4096,3000/512,/0/default.jpg");
        EXPECT_EQ(layout.levels[4].width, c.level == "level0" ? 312u : 313u);  // a size rounds down
    }
}

}  // namespace
