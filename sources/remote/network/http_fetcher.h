#pragma once
// Fetching over http and https: one libcurl multi handle, shared by every remote picture and driven by a
// thread of its own. A request is queued behind its host's (at most `perHost` run at once, in the order
// asked; to a host that has answered over HTTP/2, where they share one connection, kStreamsPerSlot times
// as many), runs with connection reuse and HTTP/2 multiplexing, is retried with back-off after resets and
// server errors, and can be cancelled at any time, which removes it from the transfer at once.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// What one picture's requests have done, counted as they happen (read by TransferStats).
struct TransferCounters {
    std::atomic<std::size_t> inFlight{0};
    std::atomic<std::uint64_t> requests{0};
    std::atomic<std::uint64_t> bytesFetched{0};
    std::atomic<std::uint64_t> bytesFromCache{0};
    std::atomic<std::uint64_t> cancelled{0};
    std::atomic<std::uint64_t> failed{0};
    std::atomic<std::uint64_t> connections{0};
};

// Streams on one HTTP/2 connection cost a server far less than connections: a request's `perHost` is
// multiplied by this for a host known to speak it.
constexpr unsigned kStreamsPerSlot = 4;

// How an object store's requests are signed: AWS Signature Version 4, by libcurl, with the payload left
// unsigned. A request carries it only to `origin`; a redirect elsewhere is followed without it.
struct StoreSigning {
    std::string origin;  // the store's scheme, host and port, as originOf gives them
    std::string region;  // signed into the request's scope
    std::string accessKeyId, secretAccessKey, sessionToken;  // the token may be empty
};

// A failed answer's status and body (a store's error document) in a few words; empty: "HTTP <status>".
// Called on the fetcher's thread; must not throw, nor name a key.
using FailureExplainer =
    std::function<std::string(long status, const std::vector<unsigned char>& body, bool signedRequest)>;

struct HttpRequest {
    std::string url;
    std::size_t maxBytes = std::size_t{32} << 20;  // a longer body fails the request
    std::chrono::milliseconds timeout{30000};      // to connect, and without a byte once connected
    unsigned perHost = 6;
    std::uint64_t rangeFirst = 0, rangeLength = 0;    // a byte range (206 expected); length 0: the whole body
    std::shared_ptr<TransferCounters> counters;       // may be null
    std::shared_ptr<const std::string> certificates;  // the authorities trusted, PEM; null: libcurl's own
    std::shared_ptr<const StoreSigning> signing;      // null: unsigned
    FailureExplainer explainFailure;                  // may be empty
};

struct HttpResponse {
    enum class Outcome { Ok, Failed, Cancelled, RetryLater };
    Outcome outcome = Outcome::Failed;
    long status = 0;
    std::vector<unsigned char> body;
    std::string contentType;
    bool noStore = false;                     // Cache-Control: no-store
    std::chrono::milliseconds retryAfter{0};  // RetryLater: what the server asked for
    std::uint64_t totalLength = 0;            // with a range: the resource's length, from Content-Range
    std::string error;                        // Failed: why, in a few words
};

class HttpFetcher {
public:
    struct Transfer;
    using Handle = std::shared_ptr<Transfer>;

    // The fetcher every picture shares, started on first use and stopped when the last holder lets go;
    // null (with `error`) when libcurl cannot be set up.
    static std::shared_ptr<HttpFetcher> shared(std::string& error);

    ~HttpFetcher();
    HttpFetcher(const HttpFetcher&) = delete;
    HttpFetcher& operator=(const HttpFetcher&) = delete;

    // Queues the request; its response comes from wait().
    Handle start(HttpRequest request);
    // Blocks until the request has finished, failed or been cancelled.
    HttpResponse wait(const Handle& transfer);
    // The same for at most `time`: false, with `response` untouched, when it has not ended by then.
    bool waitFor(const Handle& transfer, std::chrono::milliseconds time, HttpResponse& response);
    // Stops the request: queued, waiting for a retry or under way, it ends now with Outcome::Cancelled.
    // Safe from any thread, also after it finished (then nothing happens).
    void cancel(const Handle& transfer);

    // start() then wait().
    HttpResponse fetch(HttpRequest request) { return wait(start(std::move(request))); }

    struct Impl;

private:
    HttpFetcher() = default;
    std::unique_ptr<Impl> impl_;
};

// Only http and https: true for those URLs, false with a one-line reason for anything else.
bool httpUrl(const std::string& url, std::string& error);
// The URL's scheme, host and port ("https://host:443"), lower case, the scheme's default port spelled out;
// empty for a URL libcurl cannot parse or without a host. Never throws but std::bad_alloc.
std::string originOf(const std::string& url);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
