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
 * Errors: results only. Nothing here throws but DisplayMapping::validate, which says so; the parsers and
 *   defaultMapping catch running out of memory and give their failure result.
 * Threads: every function may run on any thread, several at once, on objects no other thread changes
 *   meanwhile.
 */
#ifndef ZELVAN_MAPPING_HPP
#define ZELVAN_MAPPING_HPP

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace zelvan {

/* The type of one sample. Bgra8 is a picture's own colour, blue-green-red-alpha bytes, drawn as it is;
 * UInt8, UInt16 and Int16 integers, Float32 IEEE single precision, in the machine's byte order. */
enum class SampleType { Bgra8, UInt8, UInt16, Int16, Float32 };

/* A picture's pixels: `channels` samples of `type` interleaved (Bgra8: 4, the colour's bytes). The
 * default is a picture of its own colours. */
struct SampleLayout {
    SampleType type = SampleType::Bgra8;
    unsigned channels = 4;
};
/* The most channels a typed picture may have (checkLayout refuses more): a mapping adds up at most this
 * many channels' shares without overflow. */
constexpr unsigned kMaxChannels = 64;

/* The bytes of one sample of `type`: 1 for Bgra8 (one of its four bytes) and UInt8, 2 for UInt16 and
 * Int16, 4 for Float32; 1 for a value outside the enumeration. Threads: any. Cost: a switch. */
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
/* The bytes of one pixel of `layout`: sampleBytes(type) x channels (4 for Bgra8); not checked against
 * checkLayout (a layout it refuses gives its product all the same). Threads: any. Cost: a multiplication. */
inline std::size_t pixelBytes(const SampleLayout& layout) noexcept {
    return sampleBytes(layout.type) * layout.channels;
}
/* Why a layout cannot be drawn (Bgra8 with other than 4 channels, another type with 0 or more than
 * kMaxChannels, a type outside the enumeration): a static string of one line; null when it can.
 * Threads: any. Cost: a switch. */
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
/* The colour a single channel's shaped value picks when a mapping has a colormap: None (the channel's own
 * colour, scaled), Grey (black to white), or the perceptually uniform Viridis, Magma, Inferno and
 * Cividis (zelvan_mapping_colormaps.hpp), each 256 entries interpolated, from low values to high. */
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

    /* Empty when the mapping can draw a picture of `layout`, else one line saying why not (the first
     * fault found: the layout, a picture of its own colours, no channel, more channels than the picture,
     * a colormap with other than one channel, then each channel's index, limits, gamma, curve, colour).
     * Threads: any. Cost: linear in the channels.
     * Throws: std::bad_alloc when memory for the line runs out, and nothing else. */
    std::string validate(const SampleLayout& layout) const;
};

constexpr double kMinGamma = 0.1, kMaxGamma = 10;

namespace detail {
/* The channel's value for a sample `v`: t between the limits, shaped by the curve, the gamma and the
 * inversion; 0 to 1. For finite v. */
inline double limitedT(const ChannelMapping& c, double v) noexcept {
    return std::clamp((v - c.min) / (c.max - c.min), 0.0, 1.0);
}
inline double shapedT(const ChannelMapping& c, double t) noexcept {
    double y = t;
    if (c.curve == Curve::SquareRoot) y = std::sqrt(t);
    // log1p: log10(1000 t + 1) without losing tiny t, which a gamma below 1 would make visible.
    if (c.curve == Curve::Log) y = std::log1p(1000 * t) / std::log(1001.0);
    if (c.curve == Curve::Asinh) y = std::asinh(10 * t) / std::asinh(10.0);
    if (c.gamma != 1) y = std::pow(y, c.gamma);
    return c.inverted ? 1 - y : y;
}

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
 * blue; limits the type's whole range (0 to 1 for floats).
 * Returns: a mapping without channels for Bgra8, for a layout checkLayout refuses, and when memory runs
 * out (validate refuses it: "no channel to show"). Threads: any. Cost: at most three channels. */
inline DisplayMapping defaultMapping(const SampleLayout& layout) noexcept {
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
        try {
            m.channels.push_back(c);
        } catch (...) {  // std::bad_alloc
            return DisplayMapping{};
        }
    }
    return m;
}

// ---- text ----

/* A curve's name as parseCurve and parseChannel read it: "linear", "sqrt", "log" or "asinh"; "?" for a
 * value outside the enumeration. A static string. Threads: any. Cost: a switch. */
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
/* A colormap's name as parseColormap reads it: "none", "grey", "viridis", "magma", "inferno" or
 * "cividis"; "?" for a value outside the enumeration. A static string. Threads: any. Cost: a switch. */
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
/* "linear", "sqrt", "log" or "asinh" (exactly, lower case) into `out`; false, `out` unchanged, for
 * anything else. Threads: any. Cost: up to four comparisons. */
inline bool parseCurve(const std::string& text, Curve& out) noexcept {
    for (Curve c : {Curve::Linear, Curve::SquareRoot, Curve::Log, Curve::Asinh})
        if (text == curveName(c)) return out = c, true;
    return false;
}
/* "none", "grey" (or "gray"), "viridis", "magma", "inferno" or "cividis" (exactly, lower case) into
 * `out`; false, `out` unchanged, for anything else. Threads: any. Cost: up to seven comparisons. */
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
/* parseChannel's work, which may throw std::bad_alloc. */
inline bool parseChannelText(const std::string& text, ChannelMapping& out, std::string& error) {
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
}  // namespace detail

/*
 * One channel from "INDEX:#RRGGBB:MIN:MAX[:CURVE[:GAMMA]]" (curve linear, sqrt, log or asinh; a "-" before
 * the curve's name inverts: "2:#FF00FF:0:1000:-log:0.8"); numbers in the C locale, the colour in
 * hexadecimal, either case. The result goes to `out`, visible, the rest of it as ChannelMapping's
 * defaults (curve linear, gamma 1, not inverted).
 * Returns: false, `out` unchanged, with a one-line reason in `error` when the text is not such (or
 * "out of memory", or `error` empty when even that cannot be made); the channel's other checks (limits,
 * gamma's range, the index against the picture) are validate()'s. Threads: any. Cost: linear in text.
 */
inline bool parseChannel(const std::string& text, ChannelMapping& out, std::string& error) noexcept {
    try {
        return detail::parseChannelText(text, out, error);
    } catch (...) {  // std::bad_alloc
        try {
            error = "out of memory";
        } catch (...) {
            error.clear();
        }
        return false;
    }
}

}  // namespace zelvan

#endif /* ZELVAN_MAPPING_HPP */
