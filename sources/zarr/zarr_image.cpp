// Chunks read once for every read that wants them: a view tile over larger chunks finds the chunk its
// neighbour decoded, and one decoding at the moment is waited for rather than decoded again.
#include "zarr_image.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>

#include "zarr_codecs.h"

namespace zelvan {
namespace sources {
namespace detail {

ChunkCache::ChunkCache(std::size_t limitBytes) : kept_(limitBytes) {}

bool ChunkCache::get(const std::string& key, const Make& make, const TileReadControl& control, Chunk& chunk,
                     std::string& error) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (const Chunk* found = kept_.find(key)) {
                chunk = *found;
                return true;
            }
            if (making_.count(key) == 0) break;
            if (control.cancelled()) {
                error = "cancelled";
                return false;
            }
            made_.wait_for(lock, std::chrono::milliseconds(50));
        }
        making_.insert(key);
    }
    bool made = false;
    try {
        made = make(chunk, error);
    } catch (...) {
        made = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    making_.erase(key);
    made_.notify_all();
    if (!made) {
        if (error.empty()) error = "out of memory";
        return false;
    }
    try {
        kept_.put(key, chunk);
    } catch (...) {  // std::bad_alloc: used once, not kept
    }
    return true;
}

namespace {

std::string describe(ZarrStore::Result result, const std::string& key, const std::string& error) {
    return result == ZarrStore::Result::Missing ? key + ": missing" : error;
}

}  // namespace

bool readChunk(const ZarrImage& image, std::size_t level, const std::vector<std::uint64_t>& chunkIndex,
               const TileReadControl& control, ChunkCache::Chunk& chunk, std::string& error) {
    const ZarrArray& array = image.levels[level].array;
    const ZarrStore& store = *image.store;
    std::uint64_t slot = 0;
    const std::string key = chunkKey(array, image.levels[level].path, chunkIndex, &slot);
    const auto decoded = [&](ZarrStore::Result result, std::vector<unsigned char>& bytes,
                             ChunkCache::Chunk& made, std::string& why) {
        if (result == ZarrStore::Result::Missing) {
            made = std::make_shared<const std::vector<unsigned char>>();
            return true;
        }
        std::vector<unsigned char> samples;
        if (result != ZarrStore::Result::Ok) return false;
        if (!decodeChunk(array, std::move(bytes), samples, why)) {
            why = key + ": " + why;
            return false;
        }
        made = std::make_shared<const std::vector<unsigned char>>(std::move(samples));
        return true;
    };
    if (array.shard.empty())
        return image.cache->get(
            key,
            [&](ChunkCache::Chunk& made, std::string& why) {
                std::vector<unsigned char> bytes;
                return decoded(store.read(key, kMaxStoredChunkBytes, bytes, why, &control), bytes, made, why);
            },
            control, chunk, error);

    ChunkCache::Chunk index;
    const auto readIndex = [&](ChunkCache::Chunk& made, std::string& why) {
        std::vector<unsigned char> bytes;
        const ZarrStore::Result result =
            store.readRange(key, 0, shardIndexBytes(array), array.indexAtEnd, bytes, why, &control);
        if (result == ZarrStore::Result::Missing) {
            made = std::make_shared<const std::vector<unsigned char>>();
            return true;
        }
        std::vector<std::uint64_t> pairs;
        if (result != ZarrStore::Result::Ok) return false;
        if (!decodeShardIndex(array, std::move(bytes), pairs, why)) {
            why = key + ": " + why;
            return false;
        }
        const auto* first = reinterpret_cast<const unsigned char*>(pairs.data());
        made = std::make_shared<const std::vector<unsigned char>>(first, first + pairs.size() * 8);
        return true;
    };
    if (!image.cache->get(key + "#index", readIndex, control, index, error)) return false;
    if (index->empty()) {  // no shard: every chunk in it is the fill value
        chunk = index;
        return true;
    }
    std::uint64_t place[2];
    std::memcpy(place, index->data() + slot * 16, 16);
    if (place[0] == ~std::uint64_t{0} && place[1] == ~std::uint64_t{0}) {
        chunk = std::make_shared<const std::vector<unsigned char>>();
        return true;
    }
    if (place[1] > kMaxStoredChunkBytes) {
        error = key + ": a chunk in the shard is larger than 256 MiB";
        return false;
    }
    return image.cache->get(
        key + "#" + std::to_string(slot),
        [&](ChunkCache::Chunk& made, std::string& why) {
            std::vector<unsigned char> bytes;
            ZarrStore::Result result = store.readRange(key, place[0], place[1], false, bytes, why, &control);
            if (result == ZarrStore::Result::Missing) {  // the shard vanished after its index was read
                why = describe(result, key, why);
                return false;
            }
            return decoded(result, bytes, made, why);
        },
        control, chunk, error);
}

bool readChunks(const ZarrImage& image, std::size_t level,
                const std::vector<std::vector<std::uint64_t>>& chunkIndexes, const TileReadControl& control,
                std::vector<ChunkCache::Chunk>& chunks, std::string& error) {
    const std::size_t count = chunkIndexes.size();
    chunks.assign(count, nullptr);
    std::vector<std::string> whys(count);
    std::vector<char> read(count, 0);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < count;) {
            if (control.cancelled()) {
                whys[i] = "cancelled";
                next = count;
                break;
            }
            try {
                read[i] = readChunk(image, level, chunkIndexes[i], control, chunks[i], whys[i]);
            } catch (...) {
                whys[i] = "out of memory";
            }
            if (!read[i]) next = count;  // the read fails: no more chunks for it
        }
    };
    std::vector<std::future<void>> helpers;
    if (image.store->remote())
        for (std::size_t i = 1; i < std::min(count, kChunksAtOnce); ++i) try {
                helpers.push_back(std::async(std::launch::async, work));
            } catch (...) {  // no thread to be had: fewer at once
                break;
            }
    work();
    for (std::future<void>& helper : helpers) helper.wait();
    for (std::size_t i = 0; i < count; ++i)
        if (!read[i]) {
            error = whys[i].empty() ? "cancelled" : whys[i];
            return false;
        }
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
