// A store on disk: one file an object. Reads open their own stream, so any number run at once.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "zarr_store.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

namespace fs = std::filesystem;

class DiskStore : public ZarrStore {
public:
    explicit DiskStore(std::string root) : root_(std::move(root)) {
        while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    }

    Result read(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& bytes,
                std::string& error, const TileReadControl*) const override {
        std::ifstream file;
        std::uint64_t size = 0;
        const Result opened = open(key, file, size, error);
        if (opened != Result::Ok) return opened;
        if (size > maxBytes) {
            error = key + ": larger than " + std::to_string(maxBytes) + " bytes";
            return Result::Failed;
        }
        return readAt(key, file, 0, size, bytes, error);
    }

    Result readRange(const std::string& key, std::uint64_t offset, std::uint64_t length, bool fromEnd,
                     std::vector<unsigned char>& bytes, std::string& error,
                     const TileReadControl*) const override {
        std::ifstream file;
        std::uint64_t size = 0;
        const Result opened = open(key, file, size, error);
        if (opened != Result::Ok) return opened;
        if (offset > size || length > size - offset) {
            error = key + ": shorter than the bytes asked for";
            return Result::Failed;
        }
        return readAt(key, file, fromEnd ? size - offset - length : offset, length, bytes, error);
    }

    const std::string& name() const override { return root_; }

private:
    Result open(const std::string& key, std::ifstream& file, std::uint64_t& size, std::string& error) const {
        const fs::path path = fs::u8path(root_ + "/" + key);
        std::error_code failure;
        const fs::file_status status = fs::status(path, failure);
        if (status.type() == fs::file_type::not_found) return Result::Missing;
        if (failure || status.type() != fs::file_type::regular) {
            error = key + ": " + (failure ? failure.message() : std::string("not a file"));
            return Result::Failed;
        }
        size = fs::file_size(path, failure);
        file.open(path, std::ios::binary);
        if (failure || !file) {
            error = key + ": cannot be opened";
            return Result::Failed;
        }
        return Result::Ok;
    }

    static Result readAt(const std::string& key, std::ifstream& file, std::uint64_t offset,
                         std::uint64_t length, std::vector<unsigned char>& bytes, std::string& error) {
        bytes.resize(length);
        file.seekg(std::streamoff(offset));
        if (length > 0) file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(length));
        if (!file) {
            error = key + ": cannot be read";
            return Result::Failed;
        }
        return Result::Ok;
    }

    std::string root_;
};

}  // namespace

std::shared_ptr<ZarrStore> diskZarrStore(const std::string& root) {
    return std::make_shared<DiskStore>(root);
}

bool isZarrDirectory(const std::string& path) {
    std::error_code failure;
    const fs::path directory = fs::u8path(path);
    if (!fs::is_directory(directory, failure)) return false;
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".zarr") == 0) return true;
    for (const char* marker : {".zgroup", ".zattrs", ".zarray", "zarr.json", ".zmetadata"})
        if (fs::exists(directory / marker, failure)) return true;
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
