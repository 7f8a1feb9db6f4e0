// Writes the grid picture of grid_image.h as a PNG or TIFF of any size without holding it in
// memory, for scale tests and seed files:
//   zelvan-make-test-image OUT.png WIDTH HEIGHT [--interlaced]
//   zelvan-make-test-image OUT.tif WIDTH HEIGHT [--tiles SIDE | --strips ROWS] [--classic]
//       [--compression none|lzw|deflate|packbits|jpeg] [--orientation 1-8]
//       [--kind rgb|rgba|grey|grey-alpha|palette|grey16|rgb16]
// TIFFs are tiled BigTIFFs (512-pixel tiles, no compression, RGB) unless told otherwise.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>
#include <string>

#include "grid_image.h"

using namespace demo_test;

namespace {

std::uint32_t number(const char* text) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*text == 0 || *end != 0 || value == 0 || value > 0xffffffffu)
        throw std::runtime_error(std::string("not a positive number: ") + text);
    return std::uint32_t(value);
}

template <typename T>
T lookUp(const std::map<std::string, T>& names, const std::string& name) {
    const auto found = names.find(name);
    if (found == names.end()) throw std::runtime_error("unknown value: " + name);
    return found->second;
}

void run(int argc, char** argv) {
    if (argc < 4) throw std::runtime_error("usage: zelvan-make-test-image OUTPUT WIDTH HEIGHT [options]");
    const std::string path = argv[1];
    TiffLayout layout;
    layout.width = number(argv[2]);
    layout.height = number(argv[3]);
    layout.tileSize = 512;
    GridKind kind = GridKind::Rgb;
    bool interlaced = false;
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--interlaced") {
            interlaced = true;
            continue;
        }
        if (option == "--classic") {
            layout.bigTiff = false;
            continue;
        }
        ++i;
        if (option == "--tiles") {
            layout.tileSize = number(value);
        } else if (option == "--strips") {
            layout.tileSize = 0;
            layout.rowsPerStrip = number(value);
        } else if (option == "--orientation") {
            layout.orientation = std::uint16_t(number(value));
        } else if (option == "--compression") {
            layout.compression = lookUp<std::uint16_t>({{"none", COMPRESSION_NONE},
                                                        {"lzw", COMPRESSION_LZW},
                                                        {"deflate", COMPRESSION_ADOBE_DEFLATE},
                                                        {"packbits", COMPRESSION_PACKBITS},
                                                        {"jpeg", COMPRESSION_JPEG}},
                                                       value);
            if (layout.compression == COMPRESSION_JPEG) layout.photometric = PHOTOMETRIC_YCBCR;
        } else if (option == "--kind") {
            kind = lookUp<GridKind>({{"rgb", GridKind::Rgb},
                                     {"rgba", GridKind::Rgba},
                                     {"grey", GridKind::Grey},
                                     {"grey-alpha", GridKind::GreyAlpha},
                                     {"palette", GridKind::Palette},
                                     {"grey16", GridKind::Grey16},
                                     {"rgb16", GridKind::Rgb16}},
                                    value);
        } else {
            throw std::runtime_error("unknown option: " + option);
        }
    }
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0)
        writeGridPng(path, layout.width, layout.height, interlaced);
    else
        writeGridTiff(path, layout, kind);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        run(argc, argv);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelvan-make-test-image: %s\n", error.what());
        return 1;
    }
}
