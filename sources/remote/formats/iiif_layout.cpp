// IIIF Image API 2 and 3. The declared tiles give a level for each power-of-two scale factor from 1 up;
// a server of compliance level 1 or 2 also draws any region at any size, which gives the coarser levels
// down to one view tile; a level 0 server is asked for nothing it did not declare: its tiles, and the
// whole picture at its declared sizes.
#include <cmath>

#include "tile_layout.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr double kMaxSide = 4294967295.0;   // 2^32 - 1
constexpr std::uint32_t kRegionTile = 512;  // the tile view's own grid, for region requests

bool wholeNumber(const JsonValue* v, double low, double high, std::uint32_t& out) {
    if (!v || !v->isNumber() || !(v->number >= low && v->number <= high) ||
        v->number != std::floor(v->number))
        return false;
    out = static_cast<std::uint32_t>(v->number);
    return true;
}

bool mentions(const JsonValue* v, const std::string& word) {
    if (!v) return false;
    if (v->isString()) return v->text.find(word) != std::string::npos;
    if (v->isArray())
        for (const JsonValue& item : v->items)
            if (mentions(&item, word)) return true;
    return false;
}

// A format named by the server: letters and digits only, as it goes into the URL.
bool plainWord(const std::string& text) {
    if (text.empty() || text.size() > 8) return false;
    for (const char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

std::string firstFormat(const JsonValue* list) {
    if (list && list->isArray())
        for (const JsonValue& item : list->items)
            if (item.isString() && plainWord(item.text)) return item.text;
    return {};
}

std::uint32_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return static_cast<std::uint32_t>((a + b - 1) / b);
}

}  // namespace

bool iiifLayout(const std::string& infoUrl, const JsonValue& info, TileLayout& layout, std::string& error) {
    if (!info.isObject()) {
        error = "not an IIIF info.json (not a JSON object)";
        return false;
    }
    const JsonValue* context = info.find("@context");
    const JsonValue* type = info.find("type");
    const bool version3 =
        mentions(context, "/image/3") || (type && type->isString() && type->text == "ImageService3");
    const bool version2 = mentions(context, "/image/2");
    if (!version3 && !version2 && !info.find("protocol")) {
        error = "not an IIIF info.json (no IIIF context)";
        return false;
    }
    std::uint32_t width = 0, height = 0;
    if (!wholeNumber(info.find("width"), 1, kMaxSide, width) ||
        !wholeNumber(info.find("height"), 1, kMaxSide, height)) {
        error = "IIIF info.json: width and height must be whole numbers from 1 to 2^32-1";
        return false;
    }

    // Where the image's URLs begin: its id, else the address info.json came from.
    const JsonValue* id = info.find(version3 ? "id" : "@id");
    if (!id || !id->isString()) id = info.find(version3 ? "@id" : "id");
    std::string base;
    if (id && id->isString() && !id->text.empty()) {
        base = id->text;
    } else {
        base = infoUrl;
        const std::size_t slash = base.rfind('/');
        if (slash != std::string::npos) base.erase(slash);
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string scheme = base.substr(0, base.find("://"));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if ((scheme != "http" && scheme != "https") || base.find("://") == std::string::npos ||
        base.find_first_of(" \t\r\n\"<>") != std::string::npos) {
        error = "IIIF info.json: its id is not an http or https URL";
        return false;
    }

    // Compliance: level 0 unless the profile says more.
    const JsonValue* profile = info.find("profile");
    const bool level0 = !(mentions(profile, "level1") || mentions(profile, "level2"));
    std::string format;
    if (version3) {
        format = firstFormat(info.find("preferredFormats"));
    } else if (profile && profile->isArray()) {
        for (const JsonValue& item : profile->items)
            if (item.isObject()) {
                const std::string declared = firstFormat(item.find("formats"));
                if (!declared.empty()) {
                    bool jpg = false;
                    for (const JsonValue& f : item.find("formats")->items)
                        jpg = jpg || (f.isString() && f.text == "jpg");
                    if (!jpg) format = declared;
                }
            }
    }
    if (format.empty()) format = "jpg";

    // The declared tiles (the first set: servers list their grid first).
    std::uint32_t tileWidth = 0, tileHeight = 0;
    std::vector<bool> factors;  // factors[k]: scale factor 2^k declared
    const JsonValue* tiles = info.find("tiles");
    if (tiles && tiles->isArray() && !tiles->items.empty()) {
        const JsonValue& first = tiles->items.front();
        if (!wholeNumber(first.find("width"), kMinTileSide, kMaxTileSide, tileWidth)) {
            error = "IIIF info.json: a tile width must be a whole number from 64 to 2048";
            return false;
        }
        tileHeight = tileWidth;
        if (first.find("height") &&
            !wholeNumber(first.find("height"), kMinTileSide, kMaxTileSide, tileHeight)) {
            error = "IIIF info.json: a tile height must be a whole number from 64 to 2048";
            return false;
        }
        const JsonValue* scales = first.find("scaleFactors");
        if (scales && scales->isArray())
            for (const JsonValue& s : scales->items) {
                std::uint32_t factor = 0;
                if (!wholeNumber(&s, 1, 2147483648.0, factor)) continue;
                if ((factor & (factor - 1)) != 0) continue;  // not a power of two: no level of the view
                std::size_t k = 0;
                while ((std::uint32_t{1} << k) < factor) ++k;
                if (k < kMaxLevels) {
                    if (factors.size() <= k) factors.resize(k + 1, false);
                    factors[k] = true;
                }
            }
        if (factors.empty()) factors.push_back(true);  // no factors: full resolution only
    }
    if (factors.empty() && level0) {
        error = "IIIF info.json: a level 0 server without tiles cannot be read a region at a time";
        return false;
    }

    layout = TileLayout();
    layout.format = version3 ? "iiif 3" : "iiif 2";
    layout.width = width;
    layout.height = height;
    std::vector<std::uint32_t> scale;  // per view level: the scale factor
    std::vector<bool> declared;        // per view level: from the declared tiles, or region requests
    for (std::size_t k = 0; k < kMaxLevels; ++k) {
        const bool fromTiles = k < factors.size() && factors[k] && (k == 0 || declared.back());
        if (!fromTiles) {
            // Level 0: only the declared levels. Otherwise region requests, while the level before needs
            // more than one view tile.
            if (level0) break;
            if (k > 0 && layout.levels.back().width <= kRegionTile &&
                layout.levels.back().height <= kRegionTile)
                break;
        }
        GridLevel g;
        g.width = halvedSide(width, k);
        g.height = halvedSide(height, k);
        g.tileWidth = fromTiles ? tileWidth : kRegionTile;
        g.tileHeight = fromTiles ? tileHeight : kRegionTile;
        layout.levels.push_back(g);
        scale.push_back(static_cast<std::uint32_t>(k));
        declared.push_back(fromTiles);
        if (fromTiles && k + 1 < factors.size() && factors[k + 1]) continue;
        if (level0) break;
    }
    if (layout.levels.empty()) {
        error = "IIIF info.json: no tiles at full resolution";
        return false;
    }
    // Past its tiles, a level 0 server may still offer the whole picture at the declared sizes: each
    // one that is half the level before gives a level, fetched whole.
    std::vector<bool> whole(layout.levels.size(), false);
    const JsonValue* sizes = info.find("sizes");
    while (level0 && sizes && sizes->isArray() && layout.levels.size() < kMaxLevels &&
           (layout.levels.back().width > kRegionTile || layout.levels.back().height > kRegionTile)) {
        const GridLevel finer = layout.levels.back();
        const auto half = [](std::uint32_t side, std::uint32_t finerSide) {
            return side == finerSide / 2 || side == (finerSide + 1) / 2;
        };
        GridLevel g;
        for (const JsonValue& size : sizes->items)
            if (wholeNumber(size.find("width"), 1, kMaxTileSide, g.width) &&
                wholeNumber(size.find("height"), 1, kMaxTileSide, g.height) && half(g.width, finer.width) &&
                half(g.height, finer.height))
                break;
            else
                g.width = 0;
        if (g.width == 0) break;
        g.tileWidth = g.width;
        g.tileHeight = g.height;
        layout.levels.push_back(g);
        scale.push_back(0);
        whole.push_back(true);
    }
    const std::vector<GridLevel> levels = layout.levels;
    layout.tileUrl = [=](std::size_t level, std::uint32_t column, std::uint32_t row) {
        const GridLevel& g = levels[level];
        if (whole[level])
            return base + "/full/" + std::to_string(g.width) + "," +
                   (version3 ? std::to_string(g.height) : std::string()) + "/0/default." + format;
        const std::uint64_t factor = std::uint64_t{1} << scale[level];
        const std::uint64_t x = std::uint64_t{column} * g.tileWidth * factor;
        const std::uint64_t y = std::uint64_t{row} * g.tileHeight * factor;
        const std::uint64_t w = std::min<std::uint64_t>(std::uint64_t{g.tileWidth} * factor, width - x);
        const std::uint64_t h = std::min<std::uint64_t>(std::uint64_t{g.tileHeight} * factor, height - y);
        const std::string size = std::to_string(ceilDiv(w, factor)) + "," +
                                 (version3 ? std::to_string(ceilDiv(h, factor)) : std::string());
        return base + "/" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," +
               std::to_string(h) + "/" + size + "/0/default." + format;
    };
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
