// The length is kept on disk too (under the URL with "#length"), so that a second visit needs no request
// at all; a block on disk is named by its byte range.
#include "range_blocks.h"

#include <algorithm>
#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

RangeBlocks::RangeBlocks(std::string url, std::shared_ptr<HttpFetcher> fetcher,
                         std::shared_ptr<TransferCounters> counters, RemoteSettings settings)
    : url_(std::move(url)),
      fetcher_(std::move(fetcher)),
      counters_(std::move(counters)),
      settings_(std::move(settings)),
      transfers_(fetcher_) {}

HttpRequest RangeBlocks::rangeRequest(std::uint64_t first, std::uint64_t size) const {
    HttpRequest request;
    request.url = url_;
    request.rangeFirst = first;
    request.rangeLength = size;
    request.maxBytes = static_cast<std::size_t>(size);
    request.timeout = settings_.timeout;
    request.perHost = settings_.requestsPerHost;
    request.certificates = settings_.certificates;
    request.counters = counters_;
    return request;
}

bool RangeBlocks::open(std::string& error) {
    std::vector<unsigned char> stored;
    if (settings_.cache && settings_.cache->load(url_ + "#length", 32, stored)) {
        counters_->bytesFromCache += stored.size();
        length_ = std::strtoull(std::string(stored.begin(), stored.end()).c_str(), nullptr, 10);
        if (length_ > 0) return true;
    }
    HttpResponse response = fetcher_->fetch(rangeRequest(0, kBlockBytes));
    if (response.outcome != HttpResponse::Outcome::Ok) {
        error = response.error;
        return false;
    }
    if (response.totalLength == 0 || response.body.empty()) {
        error = "the server does not say the file's length";
        return false;
    }
    length_ = response.totalLength;
    const std::string text = std::to_string(length_);
    if (settings_.cache && !response.noStore) {
        settings_.cache->store(url_ + "#length", std::vector<unsigned char>(text.begin(), text.end()));
        settings_.cache->store(url_ + "#0-" + std::to_string(response.body.size()), response.body);
    }
    keep(0, std::make_shared<const std::vector<unsigned char>>(std::move(response.body)));
    return true;
}

void RangeBlocks::keep(std::uint64_t index, const Block& block) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_.count(index)) return;
    blocks_.emplace_front(index, block);
    index_[index] = blocks_.begin();
    while (blocks_.size() > kBlocksKept) {
        index_.erase(blocks_.back().first);
        blocks_.pop_back();
    }
}

// A read left behind by the others (cancelled) gets Outcome::Cancelled at once; the transfer itself is
// cancelled when the last read waiting for it leaves.
HttpResponse RangeBlocks::fetchShared(std::uint64_t index, std::uint64_t first, std::uint64_t size,
                                      TileReadControl& control) {
    struct LeaveAtEnd {
        SharedTransfers& all;
        SharedTransfers::Handle shared;
        ~LeaveAtEnd() { all.leave(shared); }
    } joined{transfers_, transfers_.join(index, rangeRequest(first, size))};
    return transfers_.response(joined.shared, control);
}

RangeBlocks::Block RangeBlocks::block(std::uint64_t index, TileReadControl& control, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = index_.find(index);
        if (found != index_.end()) {
            blocks_.splice(blocks_.begin(), blocks_, found->second);
            return found->second->second;
        }
    }
    const std::uint64_t first = index * kBlockBytes;
    const std::uint64_t size = std::min(kBlockBytes, length_ - first);
    const std::string key = url_ + "#" + std::to_string(first) + "-" + std::to_string(first + size);
    std::vector<unsigned char> body;
    if (settings_.cache && settings_.cache->load(key, size, body) && body.size() == size) {
        counters_->bytesFromCache += body.size();
    } else {
        HttpResponse response = fetchShared(index, first, size, control);
        if (response.outcome != HttpResponse::Outcome::Ok) {
            error = response.error;
            return nullptr;
        }
        if (response.body.size() != size) {
            error = "a range came back " + std::to_string(response.body.size()) + " bytes long, not " +
                    std::to_string(size);
            return nullptr;
        }
        body = std::move(response.body);
        if (settings_.cache && !response.noStore) settings_.cache->store(key, body);
    }
    Block kept = std::make_shared<const std::vector<unsigned char>>(std::move(body));
    keep(index, kept);
    return kept;
}

std::int64_t RangeBlocks::read(std::uint64_t offset, void* out, std::uint64_t size,
                               TileReadControl& control) {
    if (control.cancelled()) return -1;
    if (offset >= length_ || size == 0) return 0;
    std::string error;
    const Block b = block(offset / kBlockBytes, control, error);
    if (!b) {
        if (control.cancelled()) return -1;  // no failure of the picture's
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_ = url_ + ": " + error;
        return -1;
    }
    const std::uint64_t within = offset % kBlockBytes;
    if (within >= b->size()) return 0;
    const std::uint64_t n = std::min<std::uint64_t>(size, b->size() - within);
    std::memcpy(out, b->data() + within, n);
    return static_cast<std::int64_t>(n);
}

std::string RangeBlocks::lastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
