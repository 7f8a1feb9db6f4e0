// A user of Zelvan::sources: a picture file written here (a binary PPM) opened as a tile source and
// in bands, its pixels checked. No OpenGL is needed to read.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "zelvan_sources_bands.hpp"

namespace {

constexpr unsigned kWidth = 40, kHeight = 30;

unsigned char sample(unsigned x, unsigned y, unsigned c) {
    return (unsigned char)(c == 0 ? x * 6 : c == 1 ? y * 8 : 77);
}

int fail(const std::string& why) {
    std::fprintf(stderr, "open_picture: %s\n", why.c_str());
    return 1;
}

// Blue-green-red-alpha rows of the picture, as Zelvan::sources gives them.
bool matches(const std::vector<unsigned char>& bgra) {
    for (unsigned y = 0; y < kHeight; ++y)
        for (unsigned x = 0; x < kWidth; ++x) {
            const unsigned char* p = &bgra[(y * kWidth + x) * 4];
            if (p[0] != sample(x, y, 2) || p[1] != sample(x, y, 1) || p[2] != sample(x, y, 0) || p[3] != 255)
                return false;
        }
    return true;
}

}  // namespace

int main() {
    const char* temporary = std::getenv("TMPDIR");
    const std::string path =
        std::string(temporary != nullptr ? temporary : "/tmp") + "/zelvan-package-picture.ppm";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return fail("cannot write " + path);
    std::fprintf(file, "P6\n%u %u\n255\n", kWidth, kHeight);
    for (unsigned y = 0; y < kHeight; ++y)
        for (unsigned x = 0; x < kWidth; ++x)
            for (unsigned c = 0; c < 3; ++c) std::fputc(sample(x, y, c), file);
    std::fclose(file);

    std::vector<unsigned char> pixels(kWidth * kHeight * 4);
    const zelvan::sources::Opened opened = zelvan::sources::open(path);
    if (!opened) return fail(opened.error);
    if (opened.source->info().width != kWidth ||
        !opened.source->read(0, 0, 0, kWidth, kHeight, pixels.data(), kWidth * 4) || !matches(pixels))
        return fail("the tiles of " + path + " are not its pixels: " + opened.source->lastError());
    const zelvan::sources::OpenedBands bands = zelvan::sources::openBands(path);
    if (!bands || bands.reader->readRows(pixels.data(), kWidth * 4, kHeight) != kHeight || !matches(pixels))
        return fail("the bands of " + path + " are not its pixels: " + bands.error);
    const zelvan::sources::Opened missing = zelvan::sources::open(path + ".missing");
    std::remove(path.c_str());
    if (missing || missing.error.empty()) return fail("a missing file opened, or failed without a reason");
    return 0;
}
