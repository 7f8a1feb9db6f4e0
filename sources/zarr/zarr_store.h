#pragma once
// Where a Zarr store's objects come from, by key ("0/.zarray", "0/c/0/1/3"): a directory on disk here,
// a server in remote/. A missing object is told apart from one that could not be read: a missing chunk
// is the fill value, a chunk that fails fails its read.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

class ZarrStore {
public:
    enum class Result { Ok, Missing, Failed };

    virtual ~ZarrStore() = default;
    // The whole object under `key` into `bytes`; Failed, with one line in `error`, for one larger than
    // `maxBytes` or one that cannot be read. A transfer under way ends as Failed once `control` (which may
    // be null) says the read is cancelled. Any thread, several at once; blocks.
    virtual Result read(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& bytes,
                        std::string& error, const TileReadControl* control) const = 0;
    // `length` bytes of the object under `key`, from `offset` after its start or, `fromEnd`, the last
    // `length` bytes but `offset` (offset 0: the object's end). An object shorter than asked fails.
    virtual Result readRange(const std::string& key, std::uint64_t offset, std::uint64_t length, bool fromEnd,
                             std::vector<unsigned char>& bytes, std::string& error,
                             const TileReadControl* control) const = 0;
    // The store as messages name it (a path or a URL), and whether it is on a server.
    virtual const std::string& name() const = 0;
    virtual bool remote() const { return false; }
    virtual TransferStats transfers() const { return {}; }
};

// A store in the directory `root`; keys are relative paths under it (the metadata's paths are checked to
// stay inside it).
std::shared_ptr<ZarrStore> diskZarrStore(const std::string& root);

// Whether `path` is a directory holding a Zarr group or array's metadata (.zgroup, .zattrs, .zarray,
// zarr.json or .zmetadata), or a directory whose name ends with ".zarr". Cost: a few stat calls.
bool isZarrDirectory(const std::string& path);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
