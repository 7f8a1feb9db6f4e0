// A store on disk: one file an object. Reads use their own file handle, so any number run at once.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "zarr_store.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

struct File {
    std::FILE* handle = nullptr;
    ~File() {
        if (handle) std::fclose(handle);
    }
};

class DiskStore : public ZarrStore {
public:
    explicit DiskStore(std::string root) : root_(std::move(root)) {
        while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    }

    Result read(const std::string& key, std::size_t maxBytes, std::vector<unsigned char>& bytes,
                std::string& error, const TileReadControl*) const override {
        File file;
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
        File file;
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
    Result open(const std::string& key, File& file, std::uint64_t& size, std::string& error) const {
        const std::string path = root_ + "/" + key;
        file.handle = std::fopen(path.c_str(), "rb");
        struct stat status;
        if (!file.handle) {
            if (errno == ENOENT || errno == ENOTDIR) return Result::Missing;
            error = key + ": " + std::strerror(errno);
            return Result::Failed;
        }
        if (fstat(fileno(file.handle), &status) != 0 || !S_ISREG(status.st_mode)) {
            error = key + ": not a file";
            return Result::Failed;
        }
        size = std::uint64_t(status.st_size);
        return Result::Ok;
    }

    static Result readAt(const std::string& key, File& file, std::uint64_t offset, std::uint64_t length,
                         std::vector<unsigned char>& bytes, std::string& error) {
        bytes.resize(length);
        if (fseeko(file.handle, off_t(offset), SEEK_SET) != 0 ||
            std::fread(bytes.data(), 1, length, file.handle) != length) {
            error = key + ": cannot be read";
            return Result::Failed;
        }
        return Result::Ok;
    }

    std::string root_;
};

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

}  // namespace

std::shared_ptr<ZarrStore> diskZarrStore(const std::string& root) {
    return std::make_shared<DiskStore>(root);
}

bool isZarrDirectory(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".zarr") == 0) return true;
    for (const char* marker : {".zgroup", ".zattrs", ".zarray", "zarr.json", ".zmetadata"})
        if (exists(path + "/" + marker)) return true;
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
