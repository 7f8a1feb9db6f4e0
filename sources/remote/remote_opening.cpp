// Which kind of picture a URL names: a {z}/{x}/{y} template by its placeholders; a TIFF, a Deep Zoom
// descriptor or an IIIF info.json by its name or, failing that, by what the server sends; an IIIF
// image's base URL by the info.json found under it.
#include "remote_opening.h"

#include <string>

#include "../cache/cache_directory.h"
#include "../cache/fetched_tiles.h"
#include "http_fetcher.h"
#include "json_reader.h"
#include "remote_picture.h"
#include "remote_tiff.h"
#include "tile_layout.h"
#include "trusted_certificates.h"
#include "xml_reader.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxDescriptorBytes = std::size_t{4} << 20;

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The URL's path, lower-cased, without query or fragment: what its name ends with.
std::string pathOf(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    return lowered(path);
}

struct Context {
    std::shared_ptr<HttpFetcher> fetcher;
    std::shared_ptr<TransferCounters> counters;
    RemoteSettings settings;
};

// A descriptor's text, from the disk cache or the server; false with the reason.
bool fetchDescriptor(Context& context, const std::string& url, std::string& text, std::string& contentType,
                     std::string& error) {
    std::vector<unsigned char> body;
    if (context.settings.cache && context.settings.cache->load(url, kMaxDescriptorBytes, body)) {
        context.counters->bytesFromCache += body.size();
        text.assign(body.begin(), body.end());
        return true;
    }
    HttpRequest request;
    request.url = url;
    request.maxBytes = kMaxDescriptorBytes;
    request.timeout = context.settings.timeout;
    request.perHost = context.settings.requestsPerHost;
    request.certificates = context.settings.certificates;
    request.counters = context.counters;
    HttpResponse response = context.fetcher->fetch(std::move(request));
    if (response.outcome == HttpResponse::Outcome::RetryLater) {
        error = response.error + ": the server is busy, retry after " +
                std::to_string(response.retryAfter.count() / 1000) + " s";
        return false;
    }
    if (response.outcome != HttpResponse::Outcome::Ok) {
        error = response.error;
        return false;
    }
    contentType = lowered(response.contentType);
    text.assign(response.body.begin(), response.body.end());
    if (context.settings.cache && !response.noStore) context.settings.cache->store(url, response.body);
    return true;
}

bool looksLikeJson(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string::npos && text[first] == '{';
}

bool iiifFrom(const std::string& url, const std::string& text, TileLayout& layout, std::string& error) {
    JsonValue info;
    if (!parseJson(text, info, error)) return false;
    return iiifLayout(url, info, layout, error);
}

bool dziFrom(const std::string& url, const std::string& text, TileLayout& layout, std::string& error) {
    XmlElement image;
    if (!parseXml(text, image, error)) return false;
    return dziLayout(url, image, layout, error);
}

bool tiffMagic(const std::string& text) {
    return text.compare(0, 4, std::string("II*\0", 4)) == 0 ||
           text.compare(0, 4, std::string("MM\0*", 4)) == 0 ||
           text.compare(0, 4, std::string("II+\0", 4)) == 0 ||
           text.compare(0, 4, std::string("MM\0+", 4)) == 0;
}

// The layout of a tiled picture; or `tiff` set, for a TIFF to be read by range requests.
bool layoutFor(Context& context, const std::string& url, const OpenOptions& options, TileLayout& layout,
               bool& tiff, std::string& error) {
    if (url.find('{') != std::string::npos) return templateLayout(url, options, layout, error);
    const std::string path = pathOf(url);
    std::string text, type;
    if (endsWith(path, ".tif") || endsWith(path, ".tiff")) {
        tiff = true;
        return true;
    }
    if (endsWith(path, ".dzi") || endsWith(path, ".xml"))
        return fetchDescriptor(context, url, text, type, error) && dziFrom(url, text, layout, error);
    const std::string whole = lowered(url.substr(0, url.find('#')));
    if (endsWith(whole, "/info.json"))
        return fetchDescriptor(context, url, text, type, error) && iiifFrom(url, text, layout, error);

    // An IIIF image's base URL has its info.json under it; anything else says what it is when fetched
    // (a body too large for a descriptor may be a TIFF).
    std::string base = url.substr(0, url.find('#'));
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string probeError;
    if (fetchDescriptor(context, base + "/info.json", text, type, probeError) && looksLikeJson(text))
        return iiifFrom(base + "/info.json", text, layout, error);
    if (!fetchDescriptor(context, url, text, type, error)) {
        tiff = error.rfind("larger than", 0) == 0;
        return tiff;
    }
    if (type.find("image/tiff") != std::string::npos || tiffMagic(text)) {
        tiff = true;
        return true;
    }
    if (looksLikeJson(text)) return iiifFrom(url, text, layout, error);
    if (text.find("<Image") != std::string::npos && text.find("TileSize") != std::string::npos)
        return dziFrom(url, text, layout, error);
    error = "neither an IIIF image, a Deep Zoom descriptor nor a TIFF";
    return false;
}

}  // namespace

std::unique_ptr<PictureSource> openRemote(const std::string& url, const OpenOptions& options,
                                          std::string& error) {
    if (!isUrl(url)) {
        error = url + ": not a URL (a scheme, then \"://\")";
        return nullptr;
    }
    // The template's placeholders are no part of a URL's syntax: the scheme is checked on a tile's URL.
    std::string checked = url, why;
    for (const char* key : {"{z}", "{x}", "{y}", "{-y}"})
        for (std::size_t at = checked.find(key); at != std::string::npos; at = checked.find(key))
            checked.replace(at, std::string(key).size(), "0");
    if (!httpUrl(checked, why)) {
        error = url + ": " + why;
        return nullptr;
    }
    Context context;
    context.fetcher = HttpFetcher::shared(why);
    if (!context.fetcher) {
        error = url + ": " + why;
        return nullptr;
    }
    context.counters = std::make_shared<TransferCounters>();
    context.settings.timeout = std::max(options.timeout, std::chrono::milliseconds(1));
    context.settings.requestsPerHost = std::max(1u, options.requestsPerHost);
    if (!trustedCertificates(options.trustedCertificates, context.settings.certificates, why)) {
        error = url + ": " + why;
        return nullptr;
    }
    if (options.cacheRemote) {
        // A cache directory that cannot be made leaves tiles unkept, never the picture unopened.
        try {
            const std::string directory = cacheDirectoryFor(options);
            prepareCacheDirectory(directory);
            context.settings.cache = std::make_shared<FetchedTiles>(directory, options.cacheLimitBytes);
        } catch (const std::runtime_error&) {
        }
    }
    TileLayout layout;
    bool tiff = false;
    if (!layoutFor(context, url, options, layout, tiff, why)) {
        error = url + ": " + why;
        return nullptr;
    }
    if (tiff) {
        std::unique_ptr<PictureSource> source =
            openRemoteTiff(url, context.fetcher, context.counters, context.settings, why);
        if (!source) error = url + ": " + why;
        return source;
    }
    return makeRemotePicture(std::move(layout), context.fetcher, context.counters, context.settings);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
