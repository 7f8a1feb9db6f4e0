// The queue and the endings of transfers: which queued transfer may start (per host, in the order asked,
// a retry after its back-off), how a transfer that ended is judged (done, retried, failed, or a busy
// server's "retry after"), cancellations asked for by other threads, and stalls.
#include <algorithm>
#include <cmath>

#include "fetcher_state.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

using std::chrono::milliseconds;

constexpr unsigned kAttempts = 3;           // a reset or a server error is tried again twice
constexpr milliseconds kFirstBackoff{250};  // then 4 times as long, give or take a fifth

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

void HttpFetcher::Impl::complete(const Handle& t, HttpResponse::Outcome outcome, const std::string& error) {
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

void HttpFetcher::Impl::retryOrFail(const Handle& t, const std::string& error) {
    if (t->attempts >= kAttempts) return complete(t, HttpResponse::Outcome::Failed, error);
    const double backoff = static_cast<double>(kFirstBackoff.count()) * std::pow(4.0, t->attempts - 1);
    const double spread = 0.8 + 0.4 * static_cast<double>(jitter() % 1000) / 1000.0;
    t->notBefore = FetchClock::now() + milliseconds(static_cast<std::int64_t>(backoff * spread));
    t->state = Transfer::State::Queued;
    queue.push_front(t);
}

void HttpFetcher::Impl::redirect(const Handle& t, const std::string& location) {
    if (++t->redirects > static_cast<unsigned>(kMaxRedirects))
        return complete(t, HttpResponse::Outcome::Failed, "too many redirects");
    if (originOf(location) != t->request.signing->origin) t->request.signing.reset();
    t->request.url = location;
    t->host = hostKey(location);
    t->attempts = 0;
    t->notBefore = FetchClock::time_point{};
    t->state = Transfer::State::Queued;
    queue.push_front(t);
}

std::string HttpFetcher::Impl::failureText(const Transfer& t, long status) {
    std::string text;
    if (t.request.explainFailure) {
        try {
            text = t.request.explainFailure(status, t.response.body, t.request.signing != nullptr);
        } catch (...) {  // std::bad_alloc: the status says enough
        }
    }
    return text.empty() ? "HTTP " + std::to_string(status) : text;
}

void HttpFetcher::Impl::settle(const Handle& t, const TransferResult& result) {
    const long status = result.status;
    std::lock_guard<std::mutex> lock(mutex);
    if (t->cancelRequested) return complete(t, HttpResponse::Outcome::Cancelled, "cancelled");
    if (result.code == CURLE_OK) {
        const long expected = t->request.rangeLength > 0 ? 206 : 200;
        if (status == expected) return complete(t, HttpResponse::Outcome::Ok, "");
        if (status >= 300 && status < 400 && !result.location.empty()) return redirect(t, result.location);
        if ((status == 429 || status == 503) && result.retryAfter > 0) {
            t->response.retryAfter = milliseconds(std::min<curl_off_t>(result.retryAfter, 24 * 3600) * 1000);
            return complete(t, HttpResponse::Outcome::RetryLater, "HTTP " + std::to_string(status));
        }
        if (status >= 500 || status == 429) return retryOrFail(t, failureText(*t, status));
        if (status == 200 && expected == 206)
            return complete(t, HttpResponse::Outcome::Failed, "the server does not answer range requests");
        return complete(t, HttpResponse::Outcome::Failed, failureText(*t, status));
    }
    if (t->tooLarge || result.code == CURLE_FILESIZE_EXCEEDED)
        return complete(t, HttpResponse::Outcome::Failed,
                        "larger than " + std::to_string(t->request.maxBytes) + " bytes");
    if (result.code == CURLE_PEER_FAILED_VERIFICATION)
        return complete(t, HttpResponse::Outcome::Failed,
                        "the server's certificate could not be verified (" + result.detail + ")");
    if (transient(result.code)) return retryOrFail(t, result.detail);
    return complete(t, HttpResponse::Outcome::Failed, result.detail);
}

void HttpFetcher::Impl::startQueued(FetchClock::time_point now) {
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

void HttpFetcher::Impl::handleCancels() {
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

bool HttpFetcher::Impl::failStalled(FetchClock::time_point now) {
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

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
