#include "image_file.h"

#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "demo_error.h"
#include "jpeg_reader.h"
#include "png_reader.h"

namespace zelvan_demo {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool isJpeg(const unsigned char* start, std::size_t length) {
    return length >= 3 && start[0] == 0xFF && start[1] == 0xD8 && start[2] == 0xFF;
}

}  // namespace

BgraImage loadImageFile(const std::string& path, const ProgressFn& rowsDone) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw DemoError(path + ": cannot open (" + std::strerror(errno) + ")");
    struct stat status {};
    if (fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode))
        throw DemoError(path + ": is a directory, not an image");

    unsigned char start[8] = {};
    const std::size_t length = std::fread(start, 1, sizeof start, file.get());
    std::rewind(file.get());
    if (length == sizeof start && png_sig_cmp(start, 0, sizeof start) == 0)
        return readPng(file.get(), path, rowsDone);
    if (isJpeg(start, length)) return readJpeg(file.get(), path, rowsDone);
    throw DemoError(path + ": not a PNG or JPEG image");
}

}  // namespace zelvan_demo
