// A body on disk is counted as it is used, never as it is read: one that fails its check is fetched
// again and counted as fetched.
#include "remote_requests.h"

#include <algorithm>
#include <stdexcept>

#include "cache/cache_directory.h"
#include "trusted_certificates.h"

namespace zelvan {
namespace sources {
namespace detail {

std::shared_ptr<RemoteRequests> RemoteRequests::open(const OpenOptions& options, std::string& error,
                                                     StoreAccess store) {
    std::shared_ptr<HttpFetcher> fetcher = HttpFetcher::shared(error);
    if (!fetcher) return nullptr;
    RemoteSettings settings;
    settings.timeout = std::max(options.timeout, std::chrono::milliseconds(1));
    settings.requestsPerHost = std::max(1u, options.requestsPerHost);
    settings.store = std::move(store);
    if (!trustedCertificates(options.trustedCertificates, settings.certificates, error)) return nullptr;
    if (options.cacheRemote) {
        try {
            const std::string directory = cacheDirectoryFor(options);
            prepareCacheDirectory(directory);
            settings.cache = std::make_shared<FetchedTiles>(directory, options.cacheLimitBytes);
        } catch (const std::runtime_error&) {
        }
    }
    return std::make_shared<RemoteRequests>(std::move(fetcher), std::move(settings));
}

RemoteRequests::RemoteRequests(std::shared_ptr<HttpFetcher> fetcher, RemoteSettings settings)
    : fetcher_(std::move(fetcher)),
      counters_(std::make_shared<TransferCounters>()),
      settings_(std::move(settings)) {}

TransferStats RemoteRequests::stats() const {
    const TransferCounters& counters = *counters_;
    TransferStats s;
    s.requestsInFlight = counters.inFlight.load();
    s.requests = counters.requests.load();
    s.bytesFetched = counters.bytesFetched.load();
    s.bytesFromCache = counters.bytesFromCache.load();
    s.cancelled = counters.cancelled.load();
    s.failed = counters.failed.load();
    s.connections = counters.connections.load();
    return s;
}

HttpRequest RemoteRequests::request(const std::string& url, std::size_t maxBytes) const {
    HttpRequest request;
    request.url = url;
    request.maxBytes = maxBytes;
    request.timeout = settings_.timeout;
    request.perHost = settings_.requestsPerHost;
    request.certificates = settings_.certificates;
    request.counters = counters_;
    if (!settings_.store.origin.empty() && originOf(url) == settings_.store.origin) {
        request.signing = settings_.store.signing;
        request.explainFailure = settings_.store.explainFailure;
    }
    return request;
}

HttpRequest RemoteRequests::rangeRequest(const std::string& url, std::uint64_t first,
                                         std::uint64_t length) const {
    HttpRequest range = request(url, static_cast<std::size_t>(length));
    range.rangeFirst = first;
    range.rangeLength = length;
    return range;
}

bool RemoteRequests::load(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& body,
                          const Check& check) const {
    std::string ignored;
    if (!settings_.cache || !settings_.cache->load(key, maxBytes, body) || (check && !check(body, ignored)))
        return false;
    counters_->bytesFromCache += body.size();
    return true;
}

void RemoteRequests::store(const std::string& key, const std::vector<unsigned char>& body,
                           bool noStore) const {
    if (settings_.cache && !noStore) settings_.cache->store(key, body);
}

HttpResponse RemoteRequests::fetch(const std::string& key, HttpRequest request, const Check& check,
                                   const Network& network) const {
    HttpResponse response;
    if (load(key, request.maxBytes, response.body, check)) {
        response.outcome = HttpResponse::Outcome::Ok;
        return response;
    }
    response = network ? network(std::move(request)) : fetcher_->fetch(std::move(request));
    if (response.outcome != HttpResponse::Outcome::Ok) return response;
    if (check && !check(response.body, response.error)) {
        response.outcome = HttpResponse::Outcome::Failed;
        response.body.clear();
        return response;
    }
    store(key, response.body, response.noStore);
    return response;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
