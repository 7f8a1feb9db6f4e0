#pragma once
// A file on a server read at random through HTTP range requests, a block at a time: blocks of 256 KiB are
// kept in memory (a bounded number, least recently used dropped first) and on disk with the fetched
// tiles, so that a reader's many small reads (libtiff's) become few requests. A block under way is
// shared by the reads that wait for it, and cancelled once every one of them has been.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lru_cache.h"
#include "remote/network/remote_requests.h"
#include "remote/network/shared_transfers.h"

namespace zelvan {
namespace sources {
namespace detail {

class RangeBlocks {
public:
    static constexpr std::uint64_t kBlockBytes = 256 * 1024;
    static constexpr std::size_t kBlocksKept = 64;

    // The file at `url`, fetched through `requests` (not null).
    RangeBlocks(std::string url, std::shared_ptr<RemoteRequests> requests);

    // Learns the file's length (from the first block's Content-Range); false with the reason.
    bool open(std::string& error);
    std::uint64_t length() const { return length_; }
    // Copies up to `size` bytes from `offset` (within one block) into `out`, for the read `control`
    // belongs to: the count, 0 at the end, -1 on failure (then lastError() says why) or once that read is
    // cancelled (then it does not).
    std::int64_t read(std::uint64_t offset, void* out, std::uint64_t size, TileReadControl& control);
    std::string lastError() const;

private:
    using Block = std::shared_ptr<const std::vector<unsigned char>>;
    Block block(std::uint64_t index, TileReadControl& control, std::string& error);
    HttpResponse fetchShared(std::uint64_t index, HttpRequest request, TileReadControl& control);
    void keep(std::uint64_t index, const Block& block);

    const std::string url_;
    std::shared_ptr<RemoteRequests> requests_;
    SharedTransfers transfers_;  // keyed by block index
    std::uint64_t length_ = 0;
    mutable std::mutex mutex_;
    LruCache<std::uint64_t, Block> blocks_{kBlocksKept};  // by index
    std::string lastError_;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
