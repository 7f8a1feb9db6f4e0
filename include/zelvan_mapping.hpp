/*
 * Zelvan for C++: what a picture's samples are (SampleLayout) and how they become colours on screen
 * (DisplayMapping): per channel a colour, limits, a curve, a gamma and an inversion, the channels added
 * up; or, for one channel, a colormap. The tile view applies it as raw tiles become textures
 * (zelvan_mapping_tables.hpp); validate() and the text parsers are for the programs that take a mapping
 * from their users.
 *
 *     zelvan::DisplayMapping m;
 *     zelvan::ChannelMapping dapi, gfp;
 *     std::string error;
 *     zelvan::parseChannel("0:#0000FF:100:4000:sqrt", dapi, error);
 *     zelvan::parseChannel("1:#00FF00:200:9000", gfp, error);
 *     m.channels = {dapi, gfp};
 *     const std::string why = m.validate(layout);   // empty, or one line saying what is wrong
 *
 * Header-only C++17; nothing here calls OpenGL.
 */
#ifndef ZELVAN_MAPPING_HPP
#define ZELVAN_MAPPING_HPP

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace zelvan {

/* The type of one sample. Bgra8 is a picture's own colour, blue-green-red-alpha bytes, drawn as it is. */
enum class SampleType { Bgra8, UInt8, UInt16, Int16, Float32 };

/* A picture's pixels: `channels` samples of `type` interleaved (Bgra8: 4, the colour's bytes). */
struct SampleLayout {
    SampleType type = SampleType::Bgra8;
    unsigned channels = 4;
};
constexpr unsigned kMaxChannels = 64;

inline std::size_t sampleBytes(SampleType type) noexcept {
    switch (type) {
        case SampleType::UInt16:
        case SampleType::Int16:
            return 2;
        case SampleType::Float32:
            return 4;
        default:
            return 1;
    }
}
inline std::size_t pixelBytes(const SampleLayout& layout) noexcept {
    return sampleBytes(layout.type) * layout.channels;
}
/* Why a layout cannot be drawn, or null when it can. */
inline const char* checkLayout(const SampleLayout& layout) noexcept {
    switch (layout.type) {
        case SampleType::Bgra8:
            return layout.channels == 4 ? nullptr : "a picture of its own colours has 4 channels";
        case SampleType::UInt8:
        case SampleType::UInt16:
        case SampleType::Int16:
        case SampleType::Float32:
            return layout.channels >= 1 && layout.channels <= kMaxChannels ? nullptr
                                                                           : "a picture has 1 to 64 channels";
    }
    return "unknown sample type";
}

/* t, the sample between the limits (0 to 1), shaped: t, sqrt(t), log10(1000 t + 1) / log10(1001),
 * asinh(10 t) / asinh(10). */
enum class Curve { Linear, SquareRoot, Log, Asinh };
enum class Colormap { None, Grey, Viridis, Magma, Inferno, Cividis };

/* A colour, each component 0 to 255 (fractions allowed). */
struct Rgb {
    double red = 255, green = 255, blue = 255;
};

/* How one channel shows: v -> t = clamp((v - min) / (max - min), 0, 1) -> curve -> to the power gamma ->
 * 1 - that if inverted; the result times the colour is the channel's share of the pixel. */
struct ChannelMapping {
    unsigned channel = 0;  // the sample's place in the pixel
    Rgb colour;
    bool visible = true;
    double min = 0, max = 1;
    Curve curve = Curve::Linear;
    double gamma = 1;  // 0.1 to 10
    bool inverted = false;
};

/* A picture's display: its channels' shares added up, each component clamped to 255 and rounded; with a
 * colormap, one channel whose shaped value picks the colour (interpolated between the table's 256
 * entries) instead. A pixel with a NaN or infinite sample in a visible channel shows nonFinite. */
struct DisplayMapping {
    std::vector<ChannelMapping> channels;
    Colormap colormap = Colormap::None;
    Rgb nonFinite{255, 0, 255};

    /* Empty when the mapping can draw a picture of `layout`, else one line saying why not. */
    std::string validate(const SampleLayout& layout) const;
};

constexpr double kMinGamma = 0.1, kMaxGamma = 10;

namespace detail {
inline bool colourInRange(const Rgb& c) noexcept {
    const auto in = [](double v) { return v >= 0 && v <= 255; };  // false for NaN
    return in(c.red) && in(c.green) && in(c.blue);
}
}  // namespace detail

inline std::string DisplayMapping::validate(const SampleLayout& layout) const {
    if (const char* bad = checkLayout(layout)) return bad;
    if (layout.type == SampleType::Bgra8) return "the picture has colours of its own: no mapping applies";
    if (channels.empty()) return "no channel to show";
    if (channels.size() > layout.channels)
        return std::to_string(channels.size()) + " channels mapped, but the picture has " +
               std::to_string(layout.channels);
    if (colormap != Colormap::None && channels.size() != 1) return "a colormap shows exactly one channel";
    if (static_cast<unsigned>(colormap) > static_cast<unsigned>(Colormap::Cividis)) return "unknown colormap";
    if (!detail::colourInRange(nonFinite)) return "the colour for NaN and infinity is out of 0 to 255";
    for (const ChannelMapping& c : channels) {
        const std::string which = "channel " + std::to_string(c.channel) + ": ";
        if (c.channel >= layout.channels)
            return which + "the picture has only " + std::to_string(layout.channels) + " channels";
        if (!std::isfinite(c.min) || !std::isfinite(c.max)) return which + "limits must be finite numbers";
        if (c.min == c.max) return which + "min equals max";
        // Both the span and its inverse finite: t = (v - min) / (max - min) never overflows.
        if (!std::isfinite(c.max - c.min) || !std::isfinite(1 / (c.max - c.min)))
            return which + "limits too far apart or too close together";
        if (!(c.gamma >= kMinGamma && c.gamma <= kMaxGamma)) return which + "gamma must be 0.1 to 10";
        if (static_cast<unsigned>(c.curve) > static_cast<unsigned>(Curve::Asinh))
            return which + "unknown curve";
        if (!detail::colourInRange(c.colour)) return which + "a colour component is out of 0 to 255";
    }
    return {};
}

/* A mapping for a picture nobody has set one for: one channel grey, else the first three red, green and
 * blue; limits the type's whole range (0 to 1 for floats). */
inline DisplayMapping defaultMapping(const SampleLayout& layout) {
    DisplayMapping m;
    if (checkLayout(layout) != nullptr || layout.type == SampleType::Bgra8) return m;
    double low = 0, high = 1;
    if (layout.type == SampleType::UInt8) high = 255;
    if (layout.type == SampleType::UInt16) high = 65535;
    if (layout.type == SampleType::Int16) low = -32768, high = 32767;
    const Rgb primaries[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    const unsigned shown = layout.channels < 3 ? 1 : 3;
    for (unsigned i = 0; i < shown; ++i) {
        ChannelMapping c;
        c.channel = i;
        c.min = low;
        c.max = high;
        if (shown == 3) c.colour = primaries[i];
        m.channels.push_back(c);
    }
    return m;
}

// ---- text ----

inline const char* curveName(Curve curve) noexcept {
    switch (curve) {
        case Curve::Linear:
            return "linear";
        case Curve::SquareRoot:
            return "sqrt";
        case Curve::Log:
            return "log";
        case Curve::Asinh:
            return "asinh";
    }
    return "?";
}
inline const char* colormapName(Colormap map) noexcept {
    switch (map) {
        case Colormap::None:
            return "none";
        case Colormap::Grey:
            return "grey";
        case Colormap::Viridis:
            return "viridis";
        case Colormap::Magma:
            return "magma";
        case Colormap::Inferno:
            return "inferno";
        case Colormap::Cividis:
            return "cividis";
    }
    return "?";
}
/* "linear", "sqrt", "log" or "asinh"; false for anything else. */
inline bool parseCurve(const std::string& text, Curve& out) noexcept {
    for (Curve c : {Curve::Linear, Curve::SquareRoot, Curve::Log, Curve::Asinh})
        if (text == curveName(c)) return out = c, true;
    return false;
}
/* "none", "grey" (or "gray"), "viridis", "magma", "inferno" or "cividis"; false for anything else. */
inline bool parseColormap(const std::string& text, Colormap& out) noexcept {
    if (text == "gray") return out = Colormap::Grey, true;
    for (Colormap m : {Colormap::None, Colormap::Grey, Colormap::Viridis, Colormap::Magma, Colormap::Inferno,
                       Colormap::Cividis})
        if (text == colormapName(m)) return out = m, true;
    return false;
}

namespace detail {
/* Splits at ':'. */
inline std::vector<std::string> fields(const std::string& text) {
    std::vector<std::string> out(1);
    for (char ch : text)
        if (ch == ':')
            out.emplace_back();
        else
            out.back() += ch;
    return out;
}
/* Text quoted for a one-line message: control characters shown as '?', at most 40 characters. */
inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < 40; ++i)
        out += static_cast<unsigned char>(text[i]) < 32 || text[i] == 127 ? '?' : text[i];
    return out + (text.size() > 40 ? "...'" : "'");
}
/* The whole text as a number (C locale whatever the program's locale). */
template <typename T>
bool wholeNumber(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, out);
    return !text.empty() && r.ec == std::errc() && r.ptr == end;
}
}  // namespace detail

/*
 * One channel from "INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]]" (curve linear, sqrt, log or asinh; a "-" before
 * the curve's name inverts: "2:#FF00FF:0:1000:-log:0.8"). False, with a one-line reason in `error`, when
 * the text is not such; the channel's other checks are validate()'s.
 */
inline bool parseChannel(const std::string& text, ChannelMapping& out, std::string& error) {
    const std::vector<std::string> f = detail::fields(text);
    ChannelMapping c;
    if (f.size() < 4 || f.size() > 6) {
        error = detail::quoted(text) + ": expected INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]]";
        return false;
    }
    unsigned colour = 0;
    if (!detail::wholeNumber(f[0], c.channel)) {
        error = detail::quoted(f[0]) + " is no channel index";
        return false;
    }
    if (f[1].size() != 7 || f[1][0] != '#' ||
        std::from_chars(f[1].data() + 1, f[1].data() + 7, colour, 16).ptr != f[1].data() + 7) {
        error = detail::quoted(f[1]) + " is no colour: expected #RRGGBB";
        return false;
    }
    c.colour = {double(colour >> 16 & 255), double(colour >> 8 & 255), double(colour & 255)};
    if (!detail::wholeNumber(f[2], c.min) || !detail::wholeNumber(f[3], c.max)) {
        error = detail::quoted(f[2] + ":" + f[3]) + ": limits must be numbers";
        return false;
    }
    if (f.size() > 4) {
        std::string curve = f[4];
        c.inverted = !curve.empty() && curve[0] == '-';
        if (c.inverted) curve.erase(0, 1);
        if (!parseCurve(curve, c.curve)) {
            error = "unknown curve " + detail::quoted(f[4]) + ": expected linear, sqrt, log or asinh";
            return false;
        }
    }
    if (f.size() > 5 && !detail::wholeNumber(f[5], c.gamma)) {
        error = detail::quoted(f[5]) + ": gamma must be a number";
        return false;
    }
    out = c;
    return true;
}

}  // namespace zelvan

#endif /* ZELVAN_MAPPING_HPP */
