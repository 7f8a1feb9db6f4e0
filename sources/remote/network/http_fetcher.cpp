// The fetcher's face: the one shared instance, requests queued and waited for, cancellation asked for.
// Other threads only queue requests, ask for cancellation and wait, under one lock, waking the loop
// thread (fetcher_loop.cpp), which starts, drives, retries and ends every transfer.
#include <algorithm>

#include "fetcher_state.h"

namespace zelvan {
namespace sources {
namespace detail {

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

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
    if (ok && lowerAscii(scheme) != "http" && lowerAscii(scheme) != "https") {
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

std::string originOf(const std::string& url) {
    CURLU* parsed = curl_url();
    if (!parsed) return {};
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    std::string origin;
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
        origin = lowerAscii(std::string(scheme) + "://" + host + ":" + port);
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return origin;
}

std::string hostKey(const std::string& url) {
    // Scheme, host and port, as far as the text says: what the per-host limit groups by.
    const std::size_t from = url.find("://");
    const std::size_t hostStart = from == std::string::npos ? 0 : from + 3;
    std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    std::string host = url.substr(0, hostEnd);
    const std::size_t at = host.rfind('@');
    if (at != std::string::npos && at >= hostStart) host.erase(hostStart, at + 1 - hostStart);
    return lowerAscii(host);
}

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
    t->host = hostKey(request.url);
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
