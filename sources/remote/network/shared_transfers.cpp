// One read at a time waits on the fetcher, in short turns, and the response it gets is copied to the
// others; a cancelled read stops waiting within a turn, leaving the wait to a read still waiting.
#include "shared_transfers.h"

namespace {
constexpr std::chrono::milliseconds kPoll{10};
}  // namespace

namespace zelvan {
namespace sources {
namespace detail {

SharedTransfers::Handle SharedTransfers::join(std::uint64_t key, HttpRequest request) {
    std::lock_guard<std::mutex> lock(mutex_);
    Handle& shared = underWay_[key];
    if (!shared) {
        shared = std::make_shared<Shared>();
        shared->key = key;
        shared->transfer = fetcher_->start(std::move(request));
    }
    ++shared->users;
    return shared;
}

void SharedTransfers::leave(const Handle& shared) {
    bool cancel = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--shared->users > 0) return;
        const auto found = underWay_.find(shared->key);
        if (found != underWay_.end() && found->second == shared) underWay_.erase(found);
        std::lock_guard<std::mutex> own(shared->mutex);
        cancel = !shared->done;
    }
    if (cancel) fetcher_->cancel(shared->transfer);
}

HttpResponse SharedTransfers::response(const Handle& shared, TileReadControl& control) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    for (;;) {
        if (shared->done) return shared->response;
        if (control.cancelled()) {
            HttpResponse cancelled;
            cancelled.outcome = HttpResponse::Outcome::Cancelled;
            return cancelled;
        }
        if (shared->waiting) {
            shared->arrived.wait_for(lock, kPoll);
            continue;
        }
        // This read waits on the fetcher, a little at a time, so that it can hand the wait to another
        // when it is cancelled.
        shared->waiting = true;
        lock.unlock();
        HttpResponse response;
        // Once finished it stays joinable until its last read leaves, which has decoded it by then: a read
        // that comes in between shares the response rather than fetching the tile again.
        const bool ended = fetcher_->waitFor(shared->transfer, kPoll, response);
        lock.lock();
        shared->waiting = false;
        if (ended) {
            shared->response = std::move(response);
            shared->done = true;
        }
        shared->arrived.notify_all();
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
