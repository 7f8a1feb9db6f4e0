// Which kind of picture a URL names: a {z}/{x}/{y} template by its placeholders; an OME-Zarr store, a
// TIFF, a Deep Zoom descriptor or an IIIF info.json by its name or, failing that, by what the server
// sends (a store by its root's metadata); an IIIF image's base URL by the info.json found under it.
#include "remote_opening.h"

#include <string>

#include "remote/formats/tile_layout.h"
#include "remote/network/http_fetcher.h"
#include "remote/network/remote_requests.h"
#include "remote/storage/object_storage.h"
#include "remote/tiff/remote_tiff.h"
#include "remote_picture.h"
#ifdef ZELVAN_SOURCES_ZARR
#include "zarr_remote_store.h"
#endif

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

// A descriptor's text, from the disk cache or the server; false with the reason.
bool fetchDescriptor(const RemoteRequests& requests, const std::string& url, std::string& text,
                     std::string& contentType, std::string& error) {
    HttpResponse response = requests.fetch(url, requests.request(url, kMaxDescriptorBytes));
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
    return true;
}

bool looksLikeJson(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string::npos && text[first] == '{';
}

// Deep Zoom's JSON form, told from an info.json by its Image member with a tile size.
bool looksLikeDziJson(const std::string& text) {
    return looksLikeJson(text) && text.find("\"Image\"") != std::string::npos &&
           text.find("\"TileSize\"") != std::string::npos;
}

bool tiffMagic(const std::string& text) {
    return text.compare(0, 4, std::string("II*\0", 4)) == 0 ||
           text.compare(0, 4, std::string("MM\0*", 4)) == 0 ||
           text.compare(0, 4, std::string("II+\0", 4)) == 0 ||
           text.compare(0, 4, std::string("MM\0+", 4)) == 0;
}

// The layout of a tiled picture; or `tiff` set, for a TIFF to be read by range requests.
bool layoutFor(const RemoteRequests& requests, const std::string& url, const OpenOptions& options,
               TileLayout& layout, bool& tiff, std::string& error) {
    if (url.find('{') != std::string::npos) return templateLayout(url, options, layout, error);
    const std::string path = pathOf(url);
    std::string text, type;
    if (endsWith(path, ".tif") || endsWith(path, ".tiff")) {
        tiff = true;
        return true;
    }
    if (endsWith(path, ".dzi") || endsWith(path, ".xml"))
        return fetchDescriptor(requests, url, text, type, error) && dziLayout(url, text, layout, error);
    const std::string whole = lowered(url.substr(0, url.find('#')));
    if (endsWith(whole, "/info.json"))
        return fetchDescriptor(requests, url, text, type, error) && iiifLayout(url, text, layout, error);

    // An IIIF image's base URL has its info.json under it; anything else says what it is when fetched
    // (a body too large for a descriptor may be a TIFF).
    std::string base = url.substr(0, url.find('#'));
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string probeError;
    if (fetchDescriptor(requests, base + "/info.json", text, type, probeError) && looksLikeJson(text))
        return iiifLayout(base + "/info.json", text, layout, error);
    if (!fetchDescriptor(requests, url, text, type, error)) {
        tiff = error.rfind("larger than", 0) == 0;
        return tiff;
    }
    if (type.find("image/tiff") != std::string::npos || tiffMagic(text)) {
        tiff = true;
        return true;
    }
    if (looksLikeDziJson(text)) return dziLayout(url, text, layout, error);
    if (looksLikeJson(text)) return iiifLayout(url, text, layout, error);
    if (text.find("<Image") != std::string::npos && text.find("TileSize") != std::string::npos)
        return dziLayout(url, text, layout, error);
    error = "neither an IIIF image, a Deep Zoom descriptor nor a TIFF";
    return false;
}

}  // namespace

std::unique_ptr<PictureSource> openRemote(const std::string& address, const OpenOptions& options,
                                          std::string& error) {
    if (!isUrl(address)) {
        error = address + ": not a URL (a scheme, then \"://\")";
        return nullptr;
    }
    // An object store's picture: fetched from its endpoint, its requests signed as the store asks.
    StoreRoute store;
    if (!routeToStore(address, options, store, error)) {
        error = address + ": " + error;
        return nullptr;
    }
    const std::string& url = store.url;
    // The template's placeholders are no part of a URL's syntax: the scheme is checked on a tile's URL.
    std::string checked = url, why;
    for (const char* key : {"{z}", "{x}", "{y}", "{-y}"})
        for (std::size_t at = checked.find(key); at != std::string::npos; at = checked.find(key))
            checked.replace(at, std::string(key).size(), "0");
    if (!httpUrl(checked, why)) {
        error = url + ": " + why;
        return nullptr;
    }
    std::shared_ptr<RemoteRequests> requests = RemoteRequests::open(options, why, std::move(store.access));
    if (!requests) {
        error = url + ": " + why;
        return nullptr;
    }
    // What libvips logs while this picture's tiles decode is told as this picture's.
    Warnings warnings = std::make_shared<WarningSink>(url, options.warning);
#ifdef ZELVAN_SOURCES_ZARR
    if (zarrUrl(url)) return openRemoteZarr(url, requests, options, false, error);
#endif
    TileLayout layout;
    bool tiff = false;
    if (!layoutFor(*requests, url, options, layout, tiff, why)) {
#ifdef ZELVAN_SOURCES_ZARR
        // A store named otherwise answers for its root's metadata; a descriptor or a TIFF by its name that
        // failed (refused, missing, broken) is not asked again under other names.
        if (url.find('{') == std::string::npos && !namesAnotherFormat(url))
            if (auto zarr = openRemoteZarr(url, requests, options, true, error); zarr || !error.empty())
                return zarr;
#endif
        error = url + ": " + why;
        return nullptr;
    }
    if (tiff) {
        std::unique_ptr<PictureSource> source = openRemoteTiff(url, requests, std::move(warnings), why);
        if (!source) error = url + ": " + why;
        return source;
    }
    return makeRemotePicture(std::move(layout), std::move(requests), std::move(warnings));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
