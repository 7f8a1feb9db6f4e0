// The first read to ask for the response waits on the fetcher and hands a copy to the others; a read
// that is cancelled stops waiting at once, the one waiting on the fetcher included unless others still
// want the tile (then it waits on, for them).
#include "shared_transfers.h"

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
    if (!shared->waited) {
        shared->waited = true;
        lock.unlock();
        HttpResponse response = fetcher_->wait(shared->transfer);
        {
            // Finished: later reads find the tile decoded, on disk, or fetch it afresh.
            std::lock_guard<std::mutex> map(mutex_);
            const auto found = underWay_.find(shared->key);
            if (found != underWay_.end() && found->second == shared) underWay_.erase(found);
        }
        lock.lock();
        shared->response = response;
        shared->done = true;
        shared->arrived.notify_all();
        return response;
    }
    while (!shared->done) {
        if (control.cancelled()) {
            HttpResponse cancelled;
            cancelled.outcome = HttpResponse::Outcome::Cancelled;
            return cancelled;
        }
        shared->arrived.wait_for(lock, std::chrono::milliseconds(10));
    }
    return shared->response;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
