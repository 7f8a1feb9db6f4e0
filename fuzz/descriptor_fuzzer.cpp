// libFuzzer target for the descriptors of pictures on servers: each input is read as an IIIF info.json,
// as a Deep Zoom descriptor (XML or JSON) and as a {z}/{x}/{y} template, through the parsers and the
// layouts that remote_opening uses, with no network. A refusal with its one-line reason is the right
// answer to a bad descriptor; a crash, hang, leak, sanitizer report, an exception, or a layout the tile
// view cannot take (no levels, levels that do not halve, tiles out of bounds, a URL with spaces or
// control characters) is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "remote/formats/tile_layout.h"

namespace {

using zelvan::sources::detail::TileLayout;

[[noreturn]] void fault(const char* what, const std::string& detail) {
    std::fprintf(stderr, "zelvan fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

bool halves(std::uint32_t side, std::uint32_t finer) {
    return side >= 1 && (side == finer / 2 || side == (finer + 1) / 2);
}

void checkUrl(const std::string& url) {
    if (url.empty()) fault("empty tile URL", url);
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == '<' || c == '>')
            fault("bad tile URL", url);
}

// What the tile view and the remote picture rely on; the first and the last tile of every level asked for.
void checkLayout(const TileLayout& layout, bool freeUrl) {
    if (layout.levels.empty() || layout.levels.size() > zelvan::kMaxLevels)
        fault("level count", std::to_string(layout.levels.size()));
    if (layout.width == 0 || layout.height == 0 || layout.levels[0].width != layout.width ||
        layout.levels[0].height != layout.height)
        fault("level 0 is not the picture", layout.format);
    for (std::size_t k = 0; k < layout.levels.size(); ++k) {
        const auto& g = layout.levels[k];
        if (k > 0 &&
            (!halves(g.width, layout.levels[k - 1].width) || !halves(g.height, layout.levels[k - 1].height)))
            fault("a level is not half the one before", std::to_string(k));
        if (g.tileWidth == 0 || g.tileHeight == 0 || g.tileWidth > zelvan::sources::detail::kMaxTileSide ||
            g.tileHeight > zelvan::sources::detail::kMaxTileSide || g.overlap > 64)
            fault("tile side", std::to_string(g.tileWidth) + " x " + std::to_string(g.tileHeight));
        const std::uint32_t columns = (g.width - 1) / g.tileWidth, rows = (g.height - 1) / g.tileHeight;
        const std::string first = layout.tileUrl(k, 0, 0), last = layout.tileUrl(k, columns, rows);
        if (!freeUrl) {
            checkUrl(first);
            checkUrl(last);
        }
    }
}

// A template's picture, from the input's hash: sizes across their whole range, some refused.
zelvan::sources::OpenOptions templateOptions(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    zelvan::sources::OpenOptions options;
    options.templateWidth = static_cast<std::uint32_t>(h) | 1u;
    options.templateHeight = static_cast<std::uint32_t>(h >> 32) | 1u;
    options.templateLevels = 1 + static_cast<std::uint32_t>((h >> 8) % 70);
    options.templateTileSize = 32 + static_cast<std::uint32_t>((h >> 20) % 2100);
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        TileLayout layout;
        std::string error;
        if (zelvan::sources::detail::iiifLayout("https://h/p/info.json", text, layout, error))
            checkLayout(layout, false);
        else if (error.empty() || error.find('\n') != std::string::npos)
            fault("IIIF refused without one line", error);
        error.clear();
        if (zelvan::sources::detail::dziLayout("https://h/p/a.dzi?t=1", text, layout, error))
            checkLayout(layout, false);
        else if (error.empty() || error.find('\n') != std::string::npos)
            fault("Deep Zoom refused without one line", error);
        error.clear();
        if (size <= 512 &&
            zelvan::sources::detail::templateLayout(text, templateOptions(text), layout, error))
            checkLayout(layout, true);
    } catch (...) {
        fault("an exception left a layout", text.substr(0, 64));
    }
    return 0;
}
