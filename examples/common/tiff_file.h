#pragma once
// An open TIFF file whose libtiff errors and warnings are caught instead of printed; failures
// become DemoError ("photo.tif: cannot decode this TIFF file (...)").
#include <tiffio.h>

#include <cstdint>
#include <string>

namespace zelvan_demo {

class TiffFile {
public:
    explicit TiffFile(const std::string& path);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return tiff_; }
    const std::string& name() const { return name_; }

    [[noreturn]] void fail(const std::string& reason) const;
    // Fails with what libtiff last reported since clearError().
    [[noreturn]] void failWithLibtiffError() const;
    void clearError() { error_[0] = 0; }

    // Fails unless strip or tile `index` (what names which) lies within the file, so that a
    // damaged offset is reported as such and never makes libtiff allocate what the file lacks.
    void checkWithinFile(std::uint32_t index, const char* what) const;

private:
    static int onError(TIFF*, void* self, const char* module, const char* format, va_list args);
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

    std::string name_;
    char error_[512] = {};  // no allocation inside libtiff's callback
    TIFF* tiff_ = nullptr;
    std::uint64_t size_ = 0;
};

// The largest strip, tile or row buffer a TIFF may ask for; anything larger is a damaged file.
constexpr std::uint64_t kMaxTiffChunkBytes = 256u << 20;

}  // namespace zelvan_demo
