#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "image_decoders.h"
#include "program.h"

namespace zelvan_demo {

namespace {

std::uint64_t readUnsigned(const unsigned char* bytes, int count, bool bigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value |= std::uint64_t(bytes[bigEndian ? i : count - 1 - i]) << (8 * (count - 1 - i));
    return value;
}

// True when the header points at a first directory beyond the end: what a cut-off file looks
// like, since libtiff writes the directory after the pixels.
bool directoryBeyondEnd(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    unsigned char header[16] = {};
    if (!file || std::fread(header, 1, sizeof header, file.get()) < 8) return false;
    const bool bigEndian = header[0] == 'M', bigTiff = header[bigEndian ? 3 : 2] == 43;
    const std::uint64_t directory =
        bigTiff ? readUnsigned(header + 8, 8, bigEndian) : readUnsigned(header + 4, 4, bigEndian);
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file.get());
    return size >= 0 && directory >= std::uint64_t(size);
}

}  // namespace

TiffFile::TiffFile(const std::string& path) : name_(path) {
    // Messages about no file in particular would otherwise go to stderr.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         TIFFOpenOptionsFree);
    if (!options) throw DemoError(name_ + ": not enough memory to start the TIFF decoder");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(kMaxTiffChunkBytes));
    // "m": read, not map, so that a file larger than memory stays out of the process's resident set.
    tiff_ = TIFFOpenExt(path.c_str(), "rm", options.get());
    if (tiff_ == nullptr) {
        if (directoryBeyondEnd(path)) fail("the file ends too early; it is truncated");
        failWithLibtiffError();
    }
    size_ = TIFFGetSizeProc(tiff_)(TIFFClientdata(tiff_));
}

TiffFile::~TiffFile() {
    if (tiff_ != nullptr) TIFFClose(tiff_);
}

void TiffFile::fail(const std::string& reason) const {
    throw DemoError(name_ + ": cannot decode this TIFF file (" + reason + ")");
}

void TiffFile::failWithLibtiffError() const {
    if (error_[0] == 0) fail("unreadable data");
    // libtiff's word for sizes that cannot be multiplied out: width, height, tiles or strips.
    if (std::strstr(error_, "overflow") != nullptr) fail(std::string("its sizes are too large; ") + error_);
    fail(error_);
}

void TiffFile::checkWithinFile(std::uint32_t index, const char* what) const {
    int bad = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff_, index, &bad);
    const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tiff_, index, &bad);
    if (bad != 0) failWithLibtiffError();
    if (offset > size_ || bytes > size_ - offset)
        fail(std::string(what) + " " + std::to_string(index) +
             " lies past the end of the file; it is truncated or damaged");
}

int TiffFile::onError(TIFF*, void* self, const char*, const char* format, va_list args) {
    auto* file = static_cast<TiffFile*>(self);
    // The first message since the last clearError is the cause; later ones are consequences.
    if (file->error_[0] == 0) std::vsnprintf(file->error_, sizeof file->error_, format, args);
    return 1;  // handled: libtiff's global handler stays silent
}

}  // namespace zelvan_demo
