// The loop thread, which alone touches the multi handle: each turn ends the cancelled, starts what the
// queue allows, lets libcurl move, judges what ended and fails what stalled, then polls until a socket
// moves, another thread wakes it (curl_multi_wakeup), a retry is due or the next stall check. A stall is
// measured here rather than with libcurl's low-speed limit, whose granularity is a whole second.
#include <algorithm>

#include "fetcher_state.h"

namespace zelvan {
namespace sources {
namespace detail {

using std::chrono::milliseconds;

HttpFetcher::Impl::~Impl() {
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

// Out of memory, the loop drops nothing it holds and tries again a little later: the thread must not end
// with an exception, which would end the program.
void HttpFetcher::Impl::loop() {
    for (;;) {
        try {
            if (!turn()) return;
        } catch (...) {  // std::bad_alloc
            std::this_thread::sleep_for(milliseconds(10));
        }
    }
}

bool HttpFetcher::Impl::turn() {
    handleCancels();
    FetchClock::time_point now = FetchClock::now();
    FetchClock::time_point nextRetry = now + milliseconds(1000);
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
        const auto found =
            std::find_if(running.begin(), running.end(), [done](const Handle& h) { return h.get() == done; });
        if (found == running.end()) continue;
        Handle t = *found;
        running.erase(found);
        finish(t, code);
        ended = true;
    }
    now = FetchClock::now();
    ended = failStalled(now) || ended;
    // A transfer that ended freed its host's slot: the next turn starts what waits for it at once, rather
    // than after the poll (up to a second when nothing else runs).
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

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
