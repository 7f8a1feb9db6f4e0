/*
 * Zelvan sources: pictures on disk and on servers, opened as tile sources for zelvan::TileView.
 *
 *     zelvan::sources::Opened opened = zelvan::sources::open("slide.tiff");        // or an https URL
 *     if (!opened) { std::fprintf(stderr, "%s\n", opened.error.c_str()); return 1; }
 *     zelvan::TileView view(*opened.source);                 // the source outlives the view
 *
 * A path is read through libvips: every format it reads, upright (the orientation tag applied), in sRGB
 * (an embedded ICC profile applied), 16-bit and float samples mapped to 8 bits. A pyramidal file's own
 * levels are read; a plain picture too large to read at random is written once into a pyramidal TIFF
 * in the cache. A URL (http or https, or s3://bucket/key for object storage) may name an IIIF image
 * (its info.json or its base URL), a Deep Zoom .dzi, a pyramidal TIFF read by range requests, an
 * {z}/{x}/{y} tile template (with the picture's size given in the options), or an OME-Zarr store, which
 * may also be a directory on disk.
 *
 * This is the companion library Zelvan::sources (libzelvan_sources), built where libvips (and, for
 * URLs, libcurl) are found. libzelvan itself needs none of them.
 *
 * Errors: no function here throws; failures are an empty result with one line saying why.
 * Threads: open, parseDisplayRange and the sources they give may be used from any thread; a source's
 *   reads from several at once (as TileView's workers make them). Every remote picture of a process
 *   shares one thread that runs its transfers, started with the first and ended with the last.
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

/* Marks Zelvan::sources' exported functions (ZELVAN_SOURCES_STATIC for its static library, as ZELVAN_API). */
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
    enum class Mode { Default, Auto, Fixed }; /* as the format says, percentiles, min to max */
    Mode mode = Mode::Default;
    double min = 0, max = 0; /* Fixed only: the sample values shown as 0 and 255 */
};

/* How open() (and openBands, writePyramid) reads a picture. The defaults suit a viewer. */
struct OpenOptions {
    /* The cache of pyramids written for large plain pictures and of fetched tiles. Empty:
     * $XDG_CACHE_HOME/zelvan, or ~/.cache/zelvan. */
    std::string cacheDirectory;
    /* The cache's size limit in bytes, the least recently used files (by modification time, which a use
     * refreshes) removed past it; 0: no limit. What counts: the sizes (st_size) of the regular files
     * under a cache directory of Zelvan's own (one it made, marked by its CACHEDIR.TAG, which does not
     * count): pyramids, response bodies kept by URL, in any subdirectory; in a directory the caller
     * named that is not Zelvan's own, only the pyramids at its top. Room is made before a file is put in
     * place, so that the cache stays within the limit at every moment: a fetched body is written only
     * once room is made for it (one larger than the limit is not kept), a pyramid renamed into place
     * only then (its temporary files take room until it is). The one exception: files this process uses
     * (the pyramids of the pictures it opened) are never removed, so a pyramid larger than the room the
     * others leave puts the cache above the limit while it is in use. Enforced also when the picture
     * opens. Within one process every store keeps the limit; processes sharing a directory each keep it
     * at their own stores. */
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
     * before it fails (for good: resets, refused connections and 5xx answers are what is tried again, up
     * to three attempts in all, after a back-off), and how many requests run at once
     * to one host, counted across every remote picture of the process (to a host that answers over
     * HTTP/2, where they share one connection, four times as many); 0 counts as 1. More wait in the
     * order asked. The tile view bounds them too: each of its workers (4 on a machine of up to 4
     * hardware threads, TileViewOptions::workers) reads one view tile at a time and asks at once for
     * the server tiles it covers, 4 for 256-pixel tiles aligned with its 512-pixel ones (an OME-Zarr
     * store's chunks: up to 8 at once, one a channel for chunks holding one): a view then has at most
     * 4 x 4 = 16 requests of its own under way or waiting (4 x 8 = 32 for OME-Zarr; briefly more while
     * a cancelled read's are taken off), so a requestsPerHost above that changes nothing for one view. */
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

    /* Pictures with time points or depth (OME-Zarr's t and z axes): the plane shown, counted from 0;
     * one past the picture's last fails the opening. PictureSource::openPlane shows another later. */
    unsigned timePoint = 0, depth = 0;

    /* Object storage (S3 and stores that speak its protocol): s3://bucket/key URLs, fetched from the
     * store's endpoint, and http(s) URLs at a store: at `endpoint` (path style, or the bucket's name before
     * its host) or, without one, at an AWS S3 host (s3.<region>.amazonaws.com,
     * <bucket>.s3.<region>.amazonaws.com). Each empty field is taken as the AWS tools take it. The key,
     * secret and token come together from one place: these fields when a key or a secret is set here
     * (both needed), else AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_SESSION_TOKEN, else the
     * profile's in ~/.aws/credentials (AWS_SHARED_CREDENTIALS_FILE), else in ~/.aws/config (AWS_CONFIG_FILE,
     * whose sections are "[profile NAME]" and "[default]"). The region: the one an AWS host's name says,
     * AWS_REGION, AWS_DEFAULT_REGION, the profile's region in the config file, else us-east-1. The
     * endpoint: AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL, else AWS's own (an s3:// URL becomes
     * https://<bucket>.s3.<region>.amazonaws.com/<key>, path style for a bucket whose name has dots; a key
     * is taken as written, "%" included). The profile: AWS_PROFILE, else "default"; one named here or
     * there that neither file has fails the opening when keys are looked for in it, as does a shared file
     * that cannot be read (its line's number said, never its text). Requests to the store are signed (AWS
     * Signature Version 4, by libcurl, the payload unsigned) when a key is found and neither
     * `unsignedRequests` nor AWS_NO_SIGN_REQUEST (true, yes or 1) says a public bucket is meant and the
     * URL is not presigned (X-Amz-Signature in its query: it goes, and is cached, as written); requests to
     * any other host never are. A key is never written into a message, a log, a cache file or its name
     * (bodies are kept by the endpoint's URL, which holds none; cacheRemote false keeps a private bucket's
     * out of the cache), and never sent to another host (a redirect to one is followed unsigned, without the
     * session token). A store's refusal is told in one line: access denied, a signature refused, a key id
     * unknown, a token expired, no such object or bucket; a store asking to slow down (503) is tried again
     * after a back-off, as any server is. */
    struct ObjectStorage {
        std::string accessKeyId, secretAccessKey, sessionToken;
        std::string region;    /* us-east-1, eu-west-3, ... */
        std::string endpoint;  /* scheme and host (and port) of an S3-compatible store: http://host:9000 */
        std::string profile;   /* the profile of the shared files to read */
        bool pathStyle = true; /* at `endpoint`: endpoint/bucket/key, else bucket.endpoint-host/key */
        bool unsignedRequests = false;
    } objectStorage;

    /* Told each warning about a picture that is still shown (metadata that cannot be used, damage
     * that leaves the pixels readable), one line each naming the picture, each line once in a
     * process. Called on the thread that reads (a tile view's workers too), one call at a time.
     * Empty: printed on stderr. */
    std::function<void(const std::string& line)> warning;
    /* Told how far writing a large plain picture into the cache has come, 0 to 1, on the thread
     * that opens it; may be empty. */
    std::function<void(double done)> progress;
};

/* What is known of an opened picture, fixed once it is open. */
struct PictureInfo {
    std::uint32_t width = 0, height = 0; /* level 0 in pixels, after orientation */
    unsigned bands = 0;                  /* in the file: 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA, or more */
    unsigned bitsPerSample = 8;          /* in the file, per band */
    bool floatSamples = false;           /* complex samples count as float */
    bool signedSamples = false;          /* true for float too */
    std::vector<TileSize> levels;        /* as the tile source gives them, finest first */
    bool orientationApplied = false;     /* the file's orientation tag turned the picture */
    /* What was read: on disk, libvips' loader without its "load" ("png", "jpeg", "tiff", "webp",
     * "heif", "jp2k", "openslide", "fits", "gif", "svg", "pdf", "magick", "vips", ...), a large plain
     * picture keeping its own though it is read through its cached pyramid; on a server, "iiif 2",
     * "iiif 3", "dzi", "tiff" (a TIFF by range requests; bands 3 for the tiled formats), or "xyz" and
     * "tms" for templates (rows from the top, from the bottom); "ome-zarr 0.4" or "ome-zarr 0.5" for an
     * OME-Zarr store, wherever it is. */
    std::string format;
    bool remote = false; /* read over http or https */

    /* Scientific pictures (OME-Zarr, OME-TIFF): the channels' names as the file gives them (empty where it
     * names none), the physical size of a level-0 pixel in micrometres (0 where unknown), and the planes:
     * how many time points and depths there are, and which one this source shows. */
    std::vector<std::string> channelNames;
    double pixelWidthMicrons = 0, pixelHeightMicrons = 0;
    unsigned timePoints = 1, depths = 1;
    unsigned timePoint = 0, depth = 0;
};

/*
 * What one picture's transfers have done since it was opened, its descriptor's included (all zero for a
 * picture on disk). The counts are of this process's attempts, not of what a server logs: an attempt
 * is counted when it is handed to libcurl, before any byte is sent, so a server sees fewer requests
 * than `requests` when attempts are cancelled while they wait to connect or for a connection to share,
 * and a read a view no longer wants is cancelled at once (`cancelled`). A server tile several reads
 * want is fetched once; a redirect followed is one attempt.
 */
struct TransferStats {
    /* Attempts handed to libcurl and not ended: connecting, waiting for a connection, sending or
     * receiving. Requests waiting for their host's turn (requestsPerHost) or for a retry are not in it. */
    std::size_t requestsInFlight = 0;
    /* Attempts handed to libcurl: each retry counts again; requests cancelled while queued, and bodies
     * found in the cache, do not count; attempts cancelled before their request was sent do. */
    std::uint64_t requests = 0;
    /* Body bytes libcurl delivered (after any Content-Encoding is undone, headers left out), of every
     * attempt: bodies cut off by a cancellation, a stall or a failure, and error pages' bodies, count
     * as far as they came. Not the bytes on the wire. */
    std::uint64_t bytesFetched = 0;
    /* Body bytes read from the cache instead of the network (descriptors, server tiles, TIFF blocks). */
    std::uint64_t bytesFromCache = 0;
    /* Requests ended by a cancellation, whether queued, waiting for a retry or under way (each once,
     * however many attempts it had made); and those still running when the last picture closed. */
    std::uint64_t cancelled = 0;
    /* Requests that failed for good (after their retries, or at once where a retry cannot help: a 4xx
     * answer, a body too large, a certificate refused), and server tiles that came but could not be
     * decoded. An answer asking to retry later (429 or 503 with Retry-After) is neither failed nor
     * cancelled: the view tries that tile again after the time asked. */
    std::uint64_t failed = 0;
    /* Connections libcurl opened for these attempts (0 for an attempt that reused one): with kept
     * connections at most requestsPerHost to a host over HTTP/1.1, one over HTTP/2, which carries four
     * times as many requests at once. */
    std::uint64_t connections = 0;
};

/* A picture's tile source: reads are safe from several threads at once, as TileView asks; it must
 * outlive every view made from it. */
class PictureSource : public TileSource {
public:
    /* What is known of the picture; the same object, unchanged, for the source's life. Any thread.
     * Cost: none. Never throws. */
    virtual const PictureInfo& info() const = 0;
    /* Why the last read that failed failed, in one line; empty if none has. Any thread. Throws
     * std::bad_alloc only when the copy cannot be made. */
    virtual std::string lastError() const = 0;
    /* The counts so far (see TransferStats), each read atomically but not all at one instant. Any
     * thread, as often as every frame. Cost: a few atomic loads. Never throws. */
    virtual TransferStats transfers() const { return {}; }
    /* Another plane of the same picture (0 <= timePoint < info().timePoints, likewise depth): a new source
     * sharing this one's descriptors, connections and caches, so nothing is opened or fetched again; a
     * view is made from it as from any source (this one may be destroyed first). Null, with the reason
     * in one line in `error`, for a plane out of range, or a picture without planes. Any thread. Never
     * throws. */
    virtual std::unique_ptr<PictureSource> openPlane(unsigned timePoint, unsigned depth,
                                                     std::string& error) const {
        (void)timePoint, (void)depth;
        try {
            error = "this picture has one plane";
        } catch (...) {  // std::bad_alloc: no reason, and no source either
        }
        return nullptr;
    }
};

/* What open() gives: a source, or why there is none. */
struct Opened {
    std::unique_ptr<PictureSource> source; /* empty when the picture cannot be opened */
    std::string error;                     /* one line naming the picture, when source is empty */
    explicit operator bool() const noexcept { return source != nullptr; }
};

/* Whether open() takes `address` for a URL rather than a path: a scheme of two characters or more (a
 * letter, then letters, digits, "+", "-" or ".", in any case) followed by "://", as in
 * "https://host/slide.tiff" or "file:///photo.png". Anything else is a path, a Windows drive letter
 * ("C:/photo.png", "C://photo.png") too. Nothing past the scheme is checked: open() reads http, https and
 * s3 URLs only (the scheme in any case) and refuses any other scheme, and a URL without a host, with the
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

/* Opens a path or an http(s) or s3:// URL. Never throws: a picture that cannot be opened gives an empty
 * source and the reason in one line.
 * Cost: a picture on disk, its header and levels (no pixel, but that a small plain picture is decoded
 * whole, up to plainPictureLimitBytes); a remote one, its descriptor (or the first blocks of a TIFF)
 * over the network, up to `timeout` per attempt. Opening a large plain picture the first time writes
 * its pyramid into the cache, which takes as long as reading it; should SIGINT, SIGTERM or SIGHUP stop
 * the program meanwhile, the file being written is removed first (the handler then calls the one the
 * program had set, or ends the program as the signal would have).
 * Threads: any, several at once, but for one: two threads of one process opening the same large plain
 * picture before its pyramid is cached write the same temporary files; open it on one thread first.
 * options.progress is called on the calling thread, options.warning also later from the reads. */
ZELVAN_SOURCES_API Opened open(const std::string& pathOrUrl, const OpenOptions& options = {});

/* "auto" or "MIN,MAX" (MIN < MAX, both finite, in sample units) as a DisplayRange (Auto or Fixed);
 * false, `range` unchanged, with the reason in one line in `error`, otherwise. Any thread. Never throws. */
ZELVAN_SOURCES_API bool parseDisplayRange(const std::string& text, DisplayRange& range, std::string& error);

}  // namespace sources
}  // namespace zelvan

#endif /* ZELVAN_SOURCES_HPP */
