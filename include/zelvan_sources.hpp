/*
 * Zelvan sources: pictures on disk and on servers, opened as tile sources for zelvan::TileView.
 *
 *     zelvan::sources::Opened opened = zelvan::sources::open("slide.tiff");        // or an https URL
 *     if (!opened) { std::fprintf(stderr, "%s\n", opened.error.c_str()); return 1; }
 *     zelvan::TileView view(library, *opened.source);
 *
 * A path is read through libvips: every format it reads, upright (the orientation tag applied), in sRGB
 * (an embedded ICC profile applied), 16-bit and float samples mapped to 8 bits. A pyramidal file's own
 * levels are read; a plain picture too large to read at random is written once into a pyramidal TIFF
 * in the cache. A URL (http or https only) may name an IIIF image (its info.json or its base URL), a
 * Deep Zoom .dzi, a pyramidal TIFF read by range requests, or an {z}/{x}/{y} tile template (with the
 * picture's size given in the options).
 *
 * This is the companion library Zelvan::sources (libzelvan_sources), built where libvips (and, for
 * URLs, libcurl) are found. libzelvan itself needs none of them.
 */
#ifndef ZELVAN_SOURCES_HPP
#define ZELVAN_SOURCES_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zelvan_tiles_source.hpp"

#if defined(ZELVAN_SOURCES_STATIC)
#define ZELVAN_SOURCES_API
#elif defined(_WIN32)
#if defined(ZELVAN_SOURCES_BUILDING)
#define ZELVAN_SOURCES_API __declspec(dllexport)
#else
#define ZELVAN_SOURCES_API __declspec(dllimport)
#endif
#else
#define ZELVAN_SOURCES_API __attribute__((visibility("default")))
#endif

namespace zelvan {
namespace sources {

/* How 16-bit and float samples become 8-bit ones: as their format says (8-bit as they are, 16-bit
 * integers over their full range, float and FITS from the picture's own percentiles), from the
 * picture's 0.5th to 99.5th percentiles, or a fixed range in sample units. */
struct DisplayRange {
    enum class Mode { Default, Auto, Fixed };
    Mode mode = Mode::Default;
    double min = 0, max = 0; /* Fixed only */
};

struct OpenOptions {
    /* The cache of pyramids written for large plain pictures and of fetched tiles. Empty:
     * $XDG_CACHE_HOME/zelvan, or ~/.cache/zelvan. */
    std::string cacheDirectory;
    /* The cache's size limit in bytes, the least recently used files removed past it; 0: no limit. */
    std::uint64_t cacheLimitBytes = std::uint64_t{10} << 30;
    /* Keep fetched tiles in the cache (a server's "Cache-Control: no-store" is honoured either way). */
    bool cacheRemote = true;
    /* A picture on disk of a single level (most PNGs and JPEGs, a plain TIFF) is decoded whole, its
     * coarser levels computed from it, while its pixels take at most this many bytes at 4 a pixel;
     * a larger one is written once into a pyramidal TIFF in the cache and read from there. */
    std::uint64_t plainPictureLimitBytes = std::uint64_t{256} << 20;

    DisplayRange range;
    /* Offer pictures on disk whose samples are more than colours as they are, for a program that maps
     * them itself (TileView::setMapping): 16-bit, signed, 32-bit and float samples, 8-bit ones of more
     * than four bands, and a TIFF of several pages all of level 0's size, its pages joined as channels
     * (OME-TIFF channels, channel stacks). Their source's sampleLayout() says the type (8-bit, 16-bit
     * unsigned or signed, float: 32-bit integers and doubles become floats) and the channel count (at
     * most 64: past that the picture is shown as colours), and readSamples() gives them interleaved,
     * at every level, the coarser ones averaged in the samples' own type (NaN left out of the mean).
     * The display range then does not apply to them. 8-bit grey, grey with alpha, RGB and RGBA
     * pictures, and pictures on servers, keep their colours either way. */
    bool rawSamples = false;

    /* Remote pictures: how long a request may wait for the server to connect or to send more bytes
     * before it fails, and how many requests run at once to one host (to a host that answers over
     * HTTP/2, where they share one connection, four times as many). */
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    unsigned requestsPerHost = 6;
    /* A PEM file of certificate authorities to trust over https besides the system's, for servers whose
     * certificates a private authority signed. The system's are those of the bundle file libcurl was
     * built to read (as on Linux); where it has none and its TLS library asks the system itself, only
     * this file's are trusted. Empty: the system's only. A file that cannot be read fails the opening. */
    std::string trustedCertificates;

    /* {z}/{x}/{y} templates say nothing of the picture: its full size and level count go here (the
     * finest level is z = levels - 1, each coarser one half of it). {-y} or tms: rows counted from the
     * bottom. */
    std::uint32_t templateWidth = 0, templateHeight = 0;
    unsigned templateLevels = 0;
    unsigned templateTileSize = 256;

    /* Told each warning about a picture that is still shown (metadata that cannot be used, damage
     * that leaves the pixels readable), one line each naming the picture, each line once in a
     * process. Called on the thread that reads (a tile view's workers too), one call at a time.
     * Empty: printed on stderr. */
    std::function<void(const std::string& line)> warning;
    /* Told how far writing a large plain picture into the cache has come, 0 to 1, on the thread
     * that opens it; may be empty. */
    std::function<void(double done)> progress;
};

/* What is known of an opened picture. */
struct PictureInfo {
    std::uint32_t width = 0, height = 0; /* level 0, after orientation */
    unsigned bands = 0;                  /* in the file: 1 grey, 3 RGB, 4 RGBA, or more */
    unsigned bitsPerSample = 8;
    bool floatSamples = false;
    bool signedSamples = false;
    std::vector<TileSize> levels;    /* as the tile source gives them, finest first */
    bool orientationApplied = false; /* the file's orientation tag turned the picture */
    std::string format;              /* "png", "tiff", "iiif 3", "dzi", "xyz", ... */
    bool remote = false;
};

/* What has moved over the network so far (all zero for a picture on disk). */
struct TransferStats {
    std::size_t requestsInFlight = 0;
    std::uint64_t requests = 0;
    std::uint64_t bytesFetched = 0; /* from the network, not from the cache */
    std::uint64_t bytesFromCache = 0;
    std::uint64_t cancelled = 0; /* requests stopped because their tile was no longer wanted */
    std::uint64_t failed = 0;
    /* Connections opened for these requests: with kept connections at most requestsPerHost to a host
     * over HTTP/1.1, one over HTTP/2, which carries four times as many requests at once. */
    std::uint64_t connections = 0;
};

/* A picture's tile source: reads are safe from several threads at once, as TileView asks. */
class PictureSource : public TileSource {
public:
    virtual const PictureInfo& info() const = 0;
    /* Why the last read that failed failed, in one line; empty if none has. */
    virtual std::string lastError() const = 0;
    virtual TransferStats transfers() const { return {}; }
};

struct Opened {
    std::unique_ptr<PictureSource> source;
    std::string error; /* one line, when source is empty */
    explicit operator bool() const noexcept { return source != nullptr; }
};

/* Whether open() takes `address` for a URL rather than a path: a scheme of two characters or more (a
 * letter, then letters, digits, "+", "-" or ".", in any case) followed by "://", as in
 * "https://host/slide.tiff" or "file:///photo.png". Anything else is a path, a Windows drive letter
 * ("C:/photo.png", "C://photo.png") too. Nothing past the scheme is checked: open() reads http and https
 * URLs only (the scheme in any case) and refuses any other scheme, and a URL without a host, with the
 * reason in one line. Never throws; any thread; cost: a look at the scheme's characters. */
inline bool isUrl(const std::string& address) {
    /* Inline, so that each room of the library (and a program deciding before it opens) has the same
     * rule without linking one another. */
    const std::size_t colon = address.find(':');
    if (colon == std::string::npos || colon < 2 || address.compare(colon, 3, "://") != 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = address[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other)) return false;
    }
    return true;
}

/* Opens a path or an http(s) URL. Never throws: a picture that cannot be opened gives an empty source
 * and the reason in one line. Opening a large plain picture the first time writes its pyramid into
 * the cache, which takes as long as reading it; should SIGINT, SIGTERM or SIGHUP stop the program
 * meanwhile, the file being written is removed first (the handler then calls the one the program had
 * set, or ends the program as the signal would have). */
ZELVAN_SOURCES_API Opened open(const std::string& pathOrUrl, const OpenOptions& options = {});

/* "auto" or "MIN,MAX" (MIN < MAX, both finite) as a DisplayRange; false, with the reason, otherwise. */
ZELVAN_SOURCES_API bool parseDisplayRange(const std::string& text, DisplayRange& range, std::string& error);

}  // namespace sources
}  // namespace zelvan

#endif /* ZELVAN_SOURCES_HPP */
