// The multi handle belongs to one thread, which starts, drives, retries and ends every transfer; other
// threads only queue requests, ask for cancellation and wait, under one lock, waking the thread with
// curl_multi_wakeup. A stall is measured here rather than with libcurl's low-speed limit, whose
// granularity is a whole second.
#include "http_fetcher.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr unsigned kAttempts = 3;  // a reset or a server error is tried again twice
constexpr long kMaxRedirects = 5;
constexpr milliseconds kFirstBackoff{250};  // then 4 times as long, give or take a fifth

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Failures that a second attempt may not meet: the connection went away or the body came short.
bool transient(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_SSL_CONNECT_ERROR:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool httpUrl(const std::string& url, std::string& error) {
    CURLU* parsed = curl_url();
    if (!parsed) {
        error = "out of memory";
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    // The scheme is judged before the host, so that "file:///..." (which has none) hears why.
    bool ok = curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
              curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK;
    if (ok && lowered(scheme) != "http" && lowered(scheme) != "https") {
        error = std::string("only http and https URLs are read, not ") + scheme;
        ok = false;
    } else if (!ok || curl_url_get(parsed, CURLUPART_HOST, &host, 0) != CURLUE_OK) {
        error = "not a URL that can be read";
        ok = false;
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(parsed);
    return ok;
}

struct HttpFetcher::Transfer {
    enum class State { Queued, Running, Done };
    HttpRequest request;
    std::string host;  // scheme, host and port: what the per-host limit counts
    State state = State::Queued;
    bool cancelRequested = false;
    unsigned attempts = 0;
    Clock::time_point notBefore{};  // a retry waits for its back-off
    Clock::time_point lastActivity{};
    CURL* easy = nullptr;
    bool tooLarge = false;
    char errorText[CURL_ERROR_SIZE] = {};
    HttpResponse response;
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

    ~Impl() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        if (multi) curl_multi_wakeup(multi);
        if (thread.joinable()) thread.join();
        for (Handle& t : running) release(*t);
        for (Handle& t : running) complete(t, HttpResponse::Outcome::Cancelled, "stopped");
        for (Handle& t : queue) complete(t, HttpResponse::Outcome::Cancelled, "stopped");
        if (multi) curl_multi_cleanup(multi);
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        Transfer& t = *static_cast<Transfer*>(user);
        const std::size_t n = size * count;
        t.lastActivity = Clock::now();
        if (t.request.counters) t.request.counters->bytesFetched += n;
        if (t.response.body.size() + n > t.request.maxBytes) {
            t.tooLarge = true;
            return 0;  // ends the transfer with CURLE_WRITE_ERROR
        }
        try {
            t.response.body.insert(t.response.body.end(), data, data + n);
        } catch (...) {  // std::bad_alloc
            return 0;
        }
        return n;
    }
    static std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
        static_cast<Transfer*>(user)->lastActivity = Clock::now();
        return size * count;
    }

    bool begin(Transfer& t) {
        t.easy = curl_easy_init();
        if (!t.easy) return false;
        t.response = HttpResponse();
        t.tooLarge = false;
        t.errorText[0] = '\0';
        CURL* e = t.easy;
        const long timeoutMs = static_cast<long>(std::max<std::int64_t>(1, t.request.timeout.count()));
        curl_easy_setopt(e, CURLOPT_URL, t.request.url.c_str());
        curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L);  // credentials stay with the first host
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        curl_easy_setopt(e, CURLOPT_PIPEWAIT, 1L);  // wait to multiplex rather than open another connection
        // Compressed descriptors; never with ranges, whose offsets count the bytes as stored.
        if (t.request.rangeLength == 0) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.request.maxBytes));
        curl_easy_setopt(e, CURLOPT_USERAGENT, "Zelvan");
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
        if (t.request.certificates) {
            curl_blob blob{const_cast<char*>(t.request.certificates->data()), t.request.certificates->size(),
                           CURL_BLOB_NOCOPY};  // the request holds the text as long as the handle
            curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
        }
        std::string range;
        if (t.request.rangeLength > 0) {
            range = std::to_string(t.request.rangeFirst) + "-" +
                    std::to_string(t.request.rangeFirst + t.request.rangeLength - 1);
            curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());  // copied by libcurl
        }
        if (curl_multi_add_handle(multi, e) != CURLM_OK) {
            curl_easy_cleanup(e);
            t.easy = nullptr;
            return false;
        }
        t.state = Transfer::State::Running;
        t.lastActivity = Clock::now();
        ++t.attempts;
        ++runningPerHost[t.host];
        if (t.request.counters) {
            ++t.request.counters->requests;
            ++t.request.counters->inFlight;
        }
        return true;
    }

    // Takes a running transfer off the multi handle (loop thread).
    void release(Transfer& t) {
        if (!t.easy) return;
        long connects = 0;
        if (t.request.counters && curl_easy_getinfo(t.easy, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK)
            t.request.counters->connections += static_cast<std::uint64_t>(connects);
        curl_multi_remove_handle(multi, t.easy);
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
        if (--runningPerHost[t.host] == 0) runningPerHost.erase(t.host);
        if (t.request.counters) --t.request.counters->inFlight;
    }

    // Hands the response to its waiter (lock held or loop stopped).
    void complete(const Handle& t, HttpResponse::Outcome outcome, const std::string& error) {
        t->response.outcome = outcome;
        if (outcome != HttpResponse::Outcome::Ok) t->response.body.clear();
        if (!error.empty()) t->response.error = error;
        t->state = Transfer::State::Done;
        if (t->request.counters) {
            if (outcome == HttpResponse::Outcome::Cancelled) ++t->request.counters->cancelled;
            if (outcome == HttpResponse::Outcome::Failed) ++t->request.counters->failed;
        }
        finished.notify_all();
    }

    // After a failure worth another attempt: back to the front of the queue after a back-off, or failed.
    void retryOrFail(const Handle& t, const std::string& error) {
        if (t->attempts >= kAttempts) return complete(t, HttpResponse::Outcome::Failed, error);
        const double backoff = static_cast<double>(kFirstBackoff.count()) * std::pow(4.0, t->attempts - 1);
        const double spread = 0.8 + 0.4 * static_cast<double>(jitter() % 1000) / 1000.0;
        t->notBefore = Clock::now() + milliseconds(static_cast<std::int64_t>(backoff * spread));
        t->state = Transfer::State::Queued;
        queue.push_front(t);
    }

    void finish(const Handle& t, CURLcode code) {
        long status = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
        curl_off_t retryAfter = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RETRY_AFTER, &retryAfter);
        char* type = nullptr;
        curl_easy_getinfo(t->easy, CURLINFO_CONTENT_TYPE, &type);
        long version = 0;
        curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version);
        if (version == CURL_HTTP_VERSION_2_0)
            http2Hosts.insert(t->host);
        else if (version != 0)
            http2Hosts.erase(t->host);
        HttpResponse& r = t->response;
        r.status = status;
        if (type) r.contentType = type;
        for (std::size_t i = 0;; ++i) {
            curl_header* header = nullptr;
            if (curl_easy_header(t->easy, "Cache-Control", i, CURLH_HEADER, -1, &header) != CURLHE_OK) break;
            if (lowered(header->value).find("no-store") != std::string::npos) r.noStore = true;
            if (i + 1 >= header->amount) break;
        }
        if (t->request.rangeLength > 0) {
            curl_header* header = nullptr;
            if (curl_easy_header(t->easy, "Content-Range", 0, CURLH_HEADER, -1, &header) == CURLHE_OK) {
                const char* slash = std::strchr(header->value, '/');
                if (slash) r.totalLength = std::strtoull(slash + 1, nullptr, 10);
            }
        }
        const std::string detail = t->errorText[0] ? std::string(t->errorText) : curl_easy_strerror(code);
        release(*t);

        std::lock_guard<std::mutex> lock(mutex);
        if (t->cancelRequested) return complete(t, HttpResponse::Outcome::Cancelled, "cancelled");
        if (code == CURLE_OK) {
            const long expected = t->request.rangeLength > 0 ? 206 : 200;
            if (status == expected) return complete(t, HttpResponse::Outcome::Ok, "");
            if ((status == 429 || status == 503) && retryAfter > 0) {
                r.retryAfter = milliseconds(std::min<curl_off_t>(retryAfter, 24 * 3600) * 1000);
                return complete(t, HttpResponse::Outcome::RetryLater, "HTTP " + std::to_string(status));
            }
            if (status >= 500 || status == 429) return retryOrFail(t, "HTTP " + std::to_string(status));
            if (status == 200 && expected == 206)
                return complete(t, HttpResponse::Outcome::Failed,
                                "the server does not answer range requests");
            return complete(t, HttpResponse::Outcome::Failed, "HTTP " + std::to_string(status));
        }
        if (t->tooLarge || code == CURLE_FILESIZE_EXCEEDED)
            return complete(t, HttpResponse::Outcome::Failed,
                            "larger than " + std::to_string(t->request.maxBytes) + " bytes");
        if (code == CURLE_PEER_FAILED_VERIFICATION)
            return complete(t, HttpResponse::Outcome::Failed,
                            "the server's certificate could not be verified (" + detail + ")");
        if (transient(code)) return retryOrFail(t, detail);
        return complete(t, HttpResponse::Outcome::Failed, detail);
    }

    // Starts what the per-host limits allow, in the order asked (lock held).
    void startQueued(Clock::time_point now) {
        for (auto it = queue.begin(); it != queue.end();) {
            Transfer& t = **it;
            const auto found = runningPerHost.find(t.host);
            const unsigned busy = found == runningPerHost.end() ? 0 : found->second;
            const unsigned limit =
                std::max(1u, t.request.perHost) * (http2Hosts.count(t.host) ? kStreamsPerSlot : 1);
            if (t.notBefore > now || busy >= limit) {
                ++it;
                continue;
            }
            Handle handle = *it;
            it = queue.erase(it);
            if (begin(t))
                running.push_back(handle);
            else
                complete(handle, HttpResponse::Outcome::Failed, "cannot start a transfer");
        }
    }

    void handleCancels() {
        std::lock_guard<std::mutex> lock(mutex);
        for (Handle& t : cancels) {
            if (t->state == Transfer::State::Done) continue;
            if (t->state == Transfer::State::Running) {
                release(*t);
                running.erase(std::find(running.begin(), running.end(), t));
            } else {
                queue.erase(std::remove(queue.begin(), queue.end(), t), queue.end());
            }
            complete(t, HttpResponse::Outcome::Cancelled, "cancelled");
        }
        cancels.clear();
    }

    // Fails the transfers that have had no data for their timeout; true when any did.
    bool failStalled(Clock::time_point now) {
        const std::size_t before = running.size();
        for (std::size_t i = 0; i < running.size();) {
            Handle t = running[i];
            if (now - t->lastActivity <= t->request.timeout) {
                ++i;
                continue;
            }
            release(*t);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            std::lock_guard<std::mutex> lock(mutex);
            complete(t, HttpResponse::Outcome::Failed,
                     "no data for " + std::to_string(t->request.timeout.count()) + " ms");
        }
        return running.size() != before;
    }

    // Out of memory, the loop drops nothing it holds and tries again a little later: the thread must not
    // end with an exception, which would end the program.
    void loop() {
        for (;;) {
            try {
                if (!turn()) return;
            } catch (...) {  // std::bad_alloc
                std::this_thread::sleep_for(milliseconds(10));
            }
        }
    }

    // One turn of the loop; false once stopping.
    bool turn() {
        handleCancels();
        Clock::time_point now = Clock::now();
        Clock::time_point nextRetry = now + milliseconds(1000);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) return false;
            startQueued(now);
            // Only retries waiting out their back-off: the rest wait for a slot, which a transfer ending
            // frees, and that wakes the poll.
            for (const Handle& t : queue)
                if (t->notBefore > now) nextRetry = std::min(nextRetry, t->notBefore);
        }
        int active = 0;
        curl_multi_perform(multi, &active);
        int left = 0;
        bool ended = false;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* done = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &done);
            const CURLcode code = message->data.result;
            const auto found = std::find_if(running.begin(), running.end(),
                                            [done](const Handle& h) { return h.get() == done; });
            if (found == running.end()) continue;
            Handle t = *found;
            running.erase(found);
            finish(t, code);
            ended = true;
        }
        now = Clock::now();
        ended = failStalled(now) || ended;
        // A transfer that ended freed its host's slot: the next turn starts what waits for it at once,
        // rather than after the poll (up to a second when nothing else runs).
        if (ended) return true;
        // Poll until a socket moves, a wake-up, a retry is due, or the next stall check.
        milliseconds wait = std::chrono::duration_cast<milliseconds>(nextRetry - now);
        if (!running.empty()) wait = std::min(wait, milliseconds(20));
        wait = std::max(wait, milliseconds(0));
        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        if (curlWait >= 0) wait = std::min(wait, milliseconds(curlWait));
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
        return true;
    }
};

std::shared_ptr<HttpFetcher> HttpFetcher::shared(std::string& error) {
    static std::mutex sharedMutex;
    static std::weak_ptr<HttpFetcher> current;
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    std::lock_guard<std::mutex> lock(sharedMutex);
    if (initialised != CURLE_OK) {
        error = "libcurl cannot be set up";
        return nullptr;
    }
    if (std::shared_ptr<HttpFetcher> existing = current.lock()) return existing;
    std::shared_ptr<HttpFetcher> fetcher(new HttpFetcher);
    fetcher->impl_.reset(new Impl);
    Impl& impl = *fetcher->impl_;
    impl.multi = curl_multi_init();
    if (!impl.multi) {
        error = "libcurl cannot be set up";
        return nullptr;
    }
    curl_multi_setopt(impl.multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(impl.multi, CURLMOPT_MAXCONNECTS, 64L);
    impl.thread = std::thread([&impl] { impl.loop(); });
    current = fetcher;
    return fetcher;
}

HttpFetcher::~HttpFetcher() = default;

HttpFetcher::Handle HttpFetcher::start(HttpRequest request) {
    Handle t = std::make_shared<Transfer>();
    // Scheme, host and port, as far as the text says: what the per-host limit groups by.
    const std::string& url = request.url;
    const std::size_t from = url.find("://");
    const std::size_t hostStart = from == std::string::npos ? 0 : from + 3;
    std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    std::string host = url.substr(0, hostEnd);
    const std::size_t at = host.rfind('@');
    if (at != std::string::npos && at >= hostStart) host.erase(hostStart, at + 1 - hostStart);
    t->host = lowered(host);
    t->request = std::move(request);
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->queue.push_back(t);
    }
    curl_multi_wakeup(impl_->multi);
    return t;
}

HttpResponse HttpFetcher::wait(const Handle& transfer) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->finished.wait(lock, [&] { return transfer->state == Transfer::State::Done; });
    return std::move(transfer->response);
}

bool HttpFetcher::waitFor(const Handle& transfer, std::chrono::milliseconds time, HttpResponse& response) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (!impl_->finished.wait_for(lock, time, [&] { return transfer->state == Transfer::State::Done; }))
        return false;
    response = std::move(transfer->response);
    return true;
}

void HttpFetcher::cancel(const Handle& transfer) {
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        if (transfer->state == Transfer::State::Done || transfer->cancelRequested) return;
        transfer->cancelRequested = true;
        impl_->cancels.push_back(transfer);
    }
    curl_multi_wakeup(impl_->multi);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
