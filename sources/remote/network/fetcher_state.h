#pragma once
// The inside of HttpFetcher, shared by its files: a transfer's record (Transfer), and the state the
// loop thread keeps (HttpFetcher::Impl) with the parts that work on it: the loop (fetcher_loop.cpp), one
// transfer's easy handle, from its options to its result (easy_transfer.cpp), and the queue with its
// per-host limits, retries and endings (transfer_queue.cpp). Only the fetcher's files include it.
#include <curl/curl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "http_fetcher.h"

namespace zelvan {
namespace sources {
namespace detail {

using FetchClock = std::chrono::steady_clock;

// ASCII letters made lower case: schemes, hosts and header values compared without case.
std::string lowerAscii(std::string text);
// What the per-host limit groups a URL by: its scheme, host and port as the text spells them.
std::string hostKey(const std::string& url);

// Redirects followed for one request, by libcurl or, for a signed one, by the queue.
constexpr long kMaxRedirects = 5;

struct HttpFetcher::Transfer {
    enum class State { Queued, Running, Done };
    HttpRequest request;
    std::string host;  // scheme, host and port: what the per-host limit counts
    State state = State::Queued;
    bool cancelRequested = false;
    unsigned attempts = 0;
    FetchClock::time_point notBefore{};  // a retry waits for its back-off
    FetchClock::time_point lastActivity{};
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;  // a signed request's own, freed with the easy handle
    unsigned redirects = 0;         // followed by the queue (signed requests)
    bool tooLarge = false;
    char errorText[CURL_ERROR_SIZE] = {};
    HttpResponse response;
};

// What a transfer's easy handle said when it ended, read before the handle goes.
struct TransferResult {
    CURLcode code = CURLE_OK;
    long status = 0;
    curl_off_t retryAfter = 0;  // seconds, from Retry-After
    std::string detail;         // libcurl's words for `code`
    std::string location;       // a signed request's redirect, which libcurl does not follow
};

struct HttpFetcher::Impl {
    CURLM* multi = nullptr;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable finished;
    bool stopping = false;
    std::deque<Handle> queue;     // in the order asked; retries go back to the front
    std::vector<Handle> cancels;  // asked for by other threads, handled by the loop
    std::vector<Handle> running;  // the loop's own
    std::map<std::string, unsigned> runningPerHost;
    std::set<std::string> http2Hosts;  // as their last answer said
    std::minstd_rand jitter{12345};

    // Stops the loop and ends what is queued or running as cancelled.
    ~Impl();

    // easy_transfer.cpp, on the loop thread.
    // Sets up `t`'s easy handle from its request and adds it to the multi handle; false when libcurl
    // cannot.
    bool begin(Transfer& t);
    // Takes a running transfer off the multi handle, counting its connections.
    void release(Transfer& t);
    // Reads the response's status and headers into `t`, learns whether its host speaks HTTP/2, then
    // releases it and settles its outcome.
    void finish(const Handle& t, CURLcode code);

    // transfer_queue.cpp.
    // Hands the response to its waiter (lock held or loop stopped).
    void complete(const Handle& t, HttpResponse::Outcome outcome, const std::string& error);
    // After a failure worth another attempt: back to the front of the queue after a back-off, or failed
    // (lock held).
    void retryOrFail(const Handle& t, const std::string& error);
    // A signed request's redirect: back to the front of the queue for `location`, signed only when that
    // is the store's origin; failed past kMaxRedirects (lock held).
    void redirect(const Handle& t, const std::string& location);
    // Why an answer of `status` failed: the request's explainer's words, else "HTTP <status>".
    static std::string failureText(const Transfer& t, long status);
    // The outcome of a transfer that ended with `result`: completed, retried or failed (takes the lock).
    void settle(const Handle& t, const TransferResult& result);
    // Starts what the per-host limits allow, in the order asked (lock held).
    void startQueued(FetchClock::time_point now);
    // Ends the transfers other threads asked to cancel (takes the lock).
    void handleCancels();
    // Fails the transfers that have had no data for their timeout; true when any did.
    bool failStalled(FetchClock::time_point now);

    // fetcher_loop.cpp.
    // The thread's body: turns until stopping.
    void loop();
    // One turn of the loop; false once stopping.
    bool turn();
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
