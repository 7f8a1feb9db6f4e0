// The length is kept on disk too (under the URL with "#length"), so that a second visit needs no request
// at all; a block on disk is named by its byte range.
#include "range_blocks.h"

#include <algorithm>
#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

RangeBlocks::RangeBlocks(std::string url, std::shared_ptr<RemoteRequests> requests)
    : url_(std::move(url)), requests_(std::move(requests)), transfers_(requests_->fetcher()) {}

bool RangeBlocks::open(std::string& error) {
    std::vector<unsigned char> stored;
    if (requests_->load(url_ + "#length", 32, stored)) {
        length_ = std::strtoull(std::string(stored.begin(), stored.end()).c_str(), nullptr, 10);
        if (length_ > 0) return true;
    }
    HttpResponse response = requests_->fetcher()->fetch(requests_->rangeRequest(url_, 0, kBlockBytes));
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
    requests_->store(url_ + "#length", std::vector<unsigned char>(text.begin(), text.end()),
                     response.noStore);
    requests_->store(url_ + "#0-" + std::to_string(response.body.size()), response.body, response.noStore);
    keep(0, std::make_shared<const std::vector<unsigned char>>(std::move(response.body)));
    return true;
}

void RangeBlocks::keep(std::uint64_t index, const Block& block) {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.put(index, block);
}

// A read left behind by the others (cancelled) gets Outcome::Cancelled at once; the transfer itself is
// cancelled when the last read waiting for it leaves.
HttpResponse RangeBlocks::fetchShared(std::uint64_t index, HttpRequest request, TileReadControl& control) {
    struct LeaveAtEnd {
        SharedTransfers& all;
        SharedTransfers::Handle shared;
        ~LeaveAtEnd() { all.leave(shared); }
    } joined{transfers_, transfers_.join(index, std::move(request))};
    return transfers_.response(joined.shared, control);
}

RangeBlocks::Block RangeBlocks::block(std::uint64_t index, TileReadControl& control, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const Block* kept = blocks_.find(index)) return *kept;
    }
    const std::uint64_t first = index * kBlockBytes;
    const std::uint64_t size = std::min(kBlockBytes, length_ - first);
    const std::string key = url_ + "#" + std::to_string(first) + "-" + std::to_string(first + size);
    // A shorter block on disk is fetched again; a shorter answer fails.
    const auto whole = [size](const std::vector<unsigned char>& body, std::string& why) {
        if (body.size() == size) return true;
        why = "a range came back " + std::to_string(body.size()) + " bytes long, not " + std::to_string(size);
        return false;
    };
    HttpResponse response = requests_->fetch(
        key, requests_->rangeRequest(url_, first, size), whole,
        [&](HttpRequest request) { return fetchShared(index, std::move(request), control); });
    if (response.outcome != HttpResponse::Outcome::Ok) {
        error = response.error;
        return nullptr;
    }
    Block kept = std::make_shared<const std::vector<unsigned char>>(std::move(response.body));
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
