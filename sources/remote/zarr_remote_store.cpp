// Objects fetched by key under the store's URL, through the picture's requests, so that the disk cache
// keeps chunks as it keeps tiles. A range from an object's end first learns the object's length (one
// byte asked for, its Content-Range read), kept for the next.
#include "zarr_remote_store.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "zarr/zarr_metadata.h"
#include "zarr/zarr_opening.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

class RemoteStore : public ZarrStore {
public:
    RemoteStore(const std::string& url, std::shared_ptr<RemoteRequests> requests)
        : requests_(std::move(requests)) {
        const std::size_t query = url.find_first_of("?#");
        base_ = url.substr(0, query);
        if (query != std::string::npos && url[query] == '?')
            query_ = url.substr(query, url.find('#') - query);
        while (!base_.empty() && base_.back() == '/') base_.pop_back();
        name_ = url;
    }

    Result read(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& bytes,
                std::string& error, const TileReadControl* control) const override {
        const std::string url = urlOf(key);
        return answer(requests_->fetch(url, requests_->request(url, maxBytes), nullptr, network(control)),
                      key, bytes, error);
    }

    Result readRange(const std::string& key, std::uint64_t offset, std::uint64_t length, bool fromEnd,
                     std::vector<unsigned char>& bytes, std::string& error,
                     const TileReadControl* control) const override {
        const std::string url = urlOf(key);
        if (fromEnd) {
            std::uint64_t size = 0;
            const Result sized = lengthOf(key, url, size, error, control);
            if (sized != Result::Ok) return sized;
            if (offset > size || length > size - offset) {
                error = key + ": shorter than the bytes asked for";
                return Result::Failed;
            }
            offset = size - offset - length;
        }
        if (length == 0) {
            bytes.clear();
            return Result::Ok;
        }
        const std::string cacheKey = url + "#" + std::to_string(offset) + "-" + std::to_string(length);
        const Result result = answer(requests_->fetch(cacheKey, requests_->rangeRequest(url, offset, length),
                                                      nullptr, network(control)),
                                     key, bytes, error);
        if (result == Result::Ok && bytes.size() != length) {
            error = key + ": the server sent another length than asked for";
            return Result::Failed;
        }
        return result;
    }

    const std::string& name() const override { return name_; }
    bool remote() const override { return true; }
    TransferStats transfers() const override { return requests_->stats(); }

private:
    std::string urlOf(const std::string& key) const { return base_ + "/" + key + query_; }

    // A transfer that a read's cancellation stops at once (the fetcher's own way without a read).
    RemoteRequests::Network network(const TileReadControl* control) const {
        if (!control) return nullptr;
        const std::shared_ptr<HttpFetcher> fetcher = requests_->fetcher();
        return [fetcher, control](HttpRequest request) {
            const HttpFetcher::Handle transfer = fetcher->start(std::move(request));
            HttpResponse response;
            while (!fetcher->waitFor(transfer, std::chrono::milliseconds(20), response))
                if (control->cancelled()) fetcher->cancel(transfer);
            return response;
        };
    }

    static Result answer(HttpResponse response, const std::string& key, std::vector<unsigned char>& bytes,
                         std::string& error) {
        if (response.outcome == HttpResponse::Outcome::Ok) {
            bytes = std::move(response.body);
            return Result::Ok;
        }
        // Only "not found" is a chunk never written. A refusal (403) stays a failure, so that a key the store
        // refuses shows as the coarser level and a line saying why, never as the fill value. (S3 answers 403
        // for a missing object to a reader not allowed to list the bucket: such a reader needs ListBucket.)
        if (response.status == 404 || response.status == 410) return Result::Missing;
        error = key + ": " + (response.error.empty() ? "cannot be fetched" : response.error);
        return Result::Failed;
    }

    Result lengthOf(const std::string& key, const std::string& url, std::uint64_t& size, std::string& error,
                    const TileReadControl* control) const {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto known = lengths_.find(key);
            if (known != lengths_.end()) {
                size = known->second;
                return Result::Ok;
            }
        }
        const RemoteRequests::Network fetch = network(control);
        HttpRequest first = requests_->rangeRequest(url, 0, 1);
        HttpResponse response =
            fetch ? fetch(std::move(first)) : requests_->fetcher()->fetch(std::move(first));
        std::vector<unsigned char> ignored;
        const Result result = answer(response, key, ignored, error);
        if (result != Result::Ok) return result;
        if (response.totalLength == 0) {
            error = key + ": the server does not say the object's length";
            return Result::Failed;
        }
        size = response.totalLength;
        std::lock_guard<std::mutex> lock(mutex_);
        if (lengths_.size() > 100000) lengths_.clear();
        lengths_[key] = size;
        return Result::Ok;
    }

    std::shared_ptr<RemoteRequests> requests_;
    std::string base_, query_, name_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, std::uint64_t> lengths_;
};

}  // namespace

std::shared_ptr<ZarrStore> remoteZarrStore(const std::string& url, std::shared_ptr<RemoteRequests> requests) {
    return std::make_shared<RemoteStore>(url, std::move(requests));
}

std::unique_ptr<PictureSource> openRemoteZarr(const std::string& url,
                                              std::shared_ptr<RemoteRequests> requests,
                                              const OpenOptions& options, bool probe, std::string& error) {
    const std::shared_ptr<ZarrStore> store = remoteZarrStore(url, std::move(requests));
    if (probe) {
        std::vector<unsigned char> bytes;
        std::string ignored;
        if (store->read("zarr.json", kMaxMetadataBytes, bytes, ignored, nullptr) != ZarrStore::Result::Ok &&
            store->read(".zattrs", kMaxMetadataBytes, bytes, ignored, nullptr) != ZarrStore::Result::Ok)
            return nullptr;
    }
    return openZarr(store, options, error);
}

namespace {

// The URL's path, without its query, fragment and last slashes, in lower case.
std::string lowerPath(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    while (!path.empty() && path.back() == '/') path.pop_back();
    for (char& c : path)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return path;
}

bool endsWith(const std::string& text, const char* end) {
    const std::size_t n = std::strlen(end);
    return text.size() > n && text.compare(text.size() - n, n, end) == 0;
}

}  // namespace

bool zarrUrl(const std::string& url) { return endsWith(lowerPath(url), ".zarr"); }

bool namesAnotherFormat(const std::string& url) {
    const std::string path = lowerPath(url);
    for (const char* end :
         {".dzi", ".json", ".xml", ".tif", ".tiff", ".tf8", ".btf", ".jpg", ".png", ".webp"})
        if (endsWith(path, end)) return true;
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
