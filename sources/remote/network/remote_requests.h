#pragma once
// A picture's requests, the one place they are made: each built from the settings the picture was opened
// with (timeout, requests per host, the authorities trusted), counted in the picture's TransferCounters,
// and a body's one path: the disk cache, else the server, then the disk cache again unless the server
// said no-store.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cache/fetched_tiles.h"
#include "http_fetcher.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// An object store's part in a picture's requests: those to its origin are signed (when `signing` is set)
// and their failures told in the store's words; every other request goes as it would without it.
struct StoreAccess {
    std::string origin;                           // as originOf gives it; empty: no store
    std::shared_ptr<const StoreSigning> signing;  // null: unsigned requests
    FailureExplainer explainFailure;
};

struct RemoteSettings {
    std::chrono::milliseconds timeout{30000};
    unsigned requestsPerHost = 6;
    std::shared_ptr<const std::string> certificates;  // for HttpRequest::certificates
    std::shared_ptr<FetchedTiles> cache;              // null: nothing kept on disk
    StoreAccess store;
};

class RemoteRequests {
public:
    // Takes what a picture's requests need from `options`: the shared fetcher, its timeout and requests
    // per host (at least 1 ms and 1), the authorities of `trustedCertificates`, and the cache directory
    // (one that cannot be made leaves bodies unkept, never the picture unopened), and the object store
    // the picture is in, if any. Null, with the reason in one line, when libcurl cannot be set up or the
    // certificates cannot be read.
    static std::shared_ptr<RemoteRequests> open(const OpenOptions& options, std::string& error,
                                                StoreAccess store = {});

    RemoteRequests(std::shared_ptr<HttpFetcher> fetcher, RemoteSettings settings);

    // The fetcher every picture shares, for transfers a caller shares among its reads; never null.
    const std::shared_ptr<HttpFetcher>& fetcher() const { return fetcher_; }
    // What the picture's requests have done; read by TransferStats, counted by anything of the picture's.
    TransferCounters& counters() const { return *counters_; }
    // What the counters say now. Any thread.
    TransferStats stats() const;

    // A request for `url`'s whole body, failing past `maxBytes`; signed when `url` is the store's.
    HttpRequest request(const std::string& url, std::size_t maxBytes) const;
    // A request for `length` (> 0) bytes of `url` from `first`.
    HttpRequest rangeRequest(const std::string& url, std::uint64_t first, std::uint64_t length) const;

    // What a body must be to be used; false with the reason.
    using Check = std::function<bool(const std::vector<unsigned char>& body, std::string& why)>;
    // How a request travels: the fetcher's fetch() unless a caller shares transfers.
    using Network = std::function<HttpResponse(HttpRequest request)>;

    // The body kept on disk under `key`, at most `maxBytes` long and passing `check` (when given), counted
    // as bytes from the cache; false without a cache or such a body. Any thread; reads a file.
    bool load(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& body,
              const Check& check = nullptr) const;
    // Keeps `body` on disk under `key`, unless `noStore` or there is no cache; a failure only leaves it
    // out. Any thread; writes a file.
    void store(const std::string& key, const std::vector<unsigned char>& body, bool noStore) const;

    // The whole path: load(key, request.maxBytes, check), else `request` through `network` (the fetcher
    // when null), stored under `key` once Ok and passing `check`. A body from disk comes as Ok with
    // status 0 and no content type; a fetched one failing `check` as Failed with its reason. Blocks;
    // any thread; throws std::bad_alloc.
    HttpResponse fetch(const std::string& key, HttpRequest request, const Check& check = nullptr,
                       const Network& network = nullptr) const;

private:
    std::shared_ptr<HttpFetcher> fetcher_;
    std::shared_ptr<TransferCounters> counters_;
    RemoteSettings settings_;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
