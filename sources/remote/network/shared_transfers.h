#pragma once
// Server tiles being fetched, shared by the reads that need them: neighbouring view tiles over a grid
// that does not match the server's (Deep Zoom's 254 pixels and overlap, say) ask for the same server tile
// at once, and it is fetched once. A transfer is cancelled when the last read that wanted it lets go
// before it finished; a finished one is shared until then.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "http_fetcher.h"
#include "zelvan_tiles_source.hpp"

namespace zelvan {
namespace sources {
namespace detail {

class SharedTransfers {
public:
    struct Shared;
    using Handle = std::shared_ptr<Shared>;

    explicit SharedTransfers(std::shared_ptr<HttpFetcher> fetcher) : fetcher_(std::move(fetcher)) {}

    // The transfer of `request` under `key`: the one under way, or one started now. Each join is
    // matched by one leave.
    Handle join(std::uint64_t key, HttpRequest request);
    // The read no longer needs it; the last to leave before it finished cancels it.
    void leave(const Handle& shared);
    // Its response, once it has come; Cancelled soon after `control` is (while another read may still
    // wait for the same transfer).
    HttpResponse response(const Handle& shared, TileReadControl& control);

private:
    std::shared_ptr<HttpFetcher> fetcher_;
    std::mutex mutex_;
    std::map<std::uint64_t, Handle> underWay_;
};

struct SharedTransfers::Shared {
    std::uint64_t key = 0;
    HttpFetcher::Handle transfer;
    unsigned users = 0;  // under SharedTransfers::mutex_
    std::mutex mutex;
    std::condition_variable arrived;
    bool waiting = false;  // a read is waiting on the fetcher; the others wait for it
    bool done = false;
    HttpResponse response;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
