// The descriptor readers on hostile text, and the levels and URLs the formats make of what they read.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "parsers/format_json.h"
#include "parsers/format_xml.h"
#include "remote/formats/tile_layout.h"

namespace {

using zelvan::sources::detail::TileLayout;
using zelvan::sources::detail::XmlElement;

TEST(RemoteDescriptors, HostileTextIsRefusedWithoutCrashing) {
    const std::string deepJson(100000, '[');
    const std::string notJson[] = {deepJson,   "{\"a\":1,}", "{\"a\" 1}", "\"\\ud800\"",
                                   "[1e]",     "{} {}",      "",          std::string(5u << 20, ' ') + "1",
                                   "\"a\x01\""};
    for (const std::string& text : notJson) {
        nlohmann::json v;
        std::string error;
        EXPECT_FALSE(zelvan::sources::detail::parseJson(text, v, error)) << text.substr(0, 20);
        EXPECT_EQ(error.rfind("not valid JSON (", 0), 0u) << error;
    }
    std::string deepXml;
    for (int i = 0; i < 10000; ++i) deepXml += "<a>";
    const std::string notXml[] = {deepXml,
                                  "<Image a=\"1\">",
                                  "<a></b>",
                                  "<!DOCTYPE a><a/>",
                                  "<a x=\"&bomb;\"/>",
                                  "<a/><b/>",
                                  "text",
                                  "<a " + std::string(300, 'x') + "=\"1\"/>"};
    for (const std::string& text : notXml) {
        XmlElement e;
        std::string error;
        EXPECT_FALSE(zelvan::sources::detail::parseXml(text, e, error)) << text.substr(0, 20);
        EXPECT_EQ(error.rfind("not valid XML (", 0), 0u) << error;
    }
    // Well-formed but past the bounds: nesting, counts.
    std::string many = "[0";
    for (int i = 0; i < 200000; ++i) many += ",0";
    std::string nested = std::string(33, '[') + std::string(33, ']'), nestedXml;
    for (int i = 0; i < 18; ++i) nestedXml = "<a>" + nestedXml + "</a>";
    std::string manyXml = "<a>";
    for (int i = 0; i < 10000; ++i) manyXml += "<b/>";
    nlohmann::json v;
    XmlElement e;
    std::string error;
    EXPECT_FALSE(zelvan::sources::detail::parseJson(nested, v, error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
    EXPECT_FALSE(zelvan::sources::detail::parseJson(many + "]", v, error));
    EXPECT_NE(error.find("too many values"), std::string::npos) << error;
    EXPECT_FALSE(zelvan::sources::detail::parseXml(nestedXml, e, error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos) << error;
    EXPECT_FALSE(zelvan::sources::detail::parseXml(manyXml + "</a>", e, error));
    EXPECT_NE(error.find("too many elements"), std::string::npos) << error;
    ASSERT_TRUE(zelvan::sources::detail::parseJson(std::string(32, '[') + std::string(32, ']'), v, error));
    ASSERT_TRUE(zelvan::sources::detail::parseJson(
        " {\"a\": [1, -2.5e1, \"\\u00e9\\ud83d\\ude00\", true, null]} ", v, error))
        << error;
    EXPECT_EQ(v["a"][1].get<double>(), -25);
    EXPECT_EQ(v["a"][2].get<std::string>(), "\xC3\xA9\xF0\x9F\x98\x80");
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
        TileLayout layout;
        std::string error;
        ASSERT_TRUE(zelvan::sources::detail::iiifLayout("https://h/i/info.json", text, layout, error))
            << error;
        ASSERT_EQ(layout.levels.size(), c.levels) << c.level;
        EXPECT_EQ(layout.tileUrl(2, 2, 2), "https://h/i/4096,2048,904,952/226,/0/default.jpg");
        EXPECT_EQ(layout.tileUrl(3, 0, 0), c.level == "level0"
                                               ? "https://h/i/full/625,/0/default.jpg"
                                               : "https://h/i/0,0,4096,3000/512,/0/default.jpg");
        EXPECT_EQ(layout.levels[4].width, c.level == "level0" ? 312u : 313u);  // a size rounds down
    }
}

TEST(RemoteDescriptors, DeepZoomReadsAsXmlOrJson) {
    const std::string forms[] = {
        "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- made by hand --><Image "
        "xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" TileSize=\"254\" Overlap=\"1\" "
        "Format=\"jpg\"><Size Width=\"3000\" Height=\"2000\"/></Image>",
        R"({"Image":{"xmlns":"http://schemas.microsoft.com/deepzoom/2008","Format":"jpg","Overlap":"1",
            "TileSize":254,"Size":{"Width":"3000","Height":2000}}})"};
    for (const std::string& text : forms) {
        TileLayout layout;
        std::string error;
        ASSERT_TRUE(zelvan::sources::detail::dziLayout("https://h/p/a.dzi?t=1", text, layout, error))
            << error;
        EXPECT_EQ(layout.width, 3000u);
        ASSERT_EQ(layout.levels.size(), 4u);  // 3000 x 2000 down to 375 x 250
        EXPECT_EQ(layout.levels[3].height, 250u);
        EXPECT_EQ(layout.levels[0].overlap, 1u);
        EXPECT_EQ(layout.tileUrl(1, 2, 3), "https://h/p/a_files/11/2_3.jpg?t=1");
    }
    TileLayout layout;
    std::string error;
    EXPECT_FALSE(zelvan::sources::detail::dziLayout(
        "https://h/a.dzi", R"({"Image":{"Format":"jpg","Overlap":1,"TileSize":-254,"Size":{}}})", layout,
        error));
    EXPECT_EQ(error.rfind("Deep Zoom descriptor: TileSize", 0), 0u) << error;
}

}  // namespace
