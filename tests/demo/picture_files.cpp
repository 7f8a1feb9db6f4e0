#include "picture_files.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace demo_test {

void PrintTo(const Rgba& pixel, std::ostream* out) {
    *out << "(" << int(pixel.r) << ", " << int(pixel.g) << ", " << int(pixel.b) << ", " << int(pixel.a)
         << ")";
}

Picture quadrants(std::uint32_t width, std::uint32_t height) {
    Picture picture(width, height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const bool right = x >= width / 2, bottom = y >= height / 2;
            picture.at(x, y) = bottom ? (right ? Rgba{255, 255, 255, 255} : Rgba{0, 0, 255, 255})
                                      : (right ? Rgba{0, 255, 0, 255} : Rgba{255, 0, 0, 255});
        }
    return picture;
}

void writePng(const std::string& path, const Picture& picture, PngKind kind) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = picture.width;
    image.height = picture.height;
    // The simplified API converts from the RGBA buffer to the colour type asked for.
    std::vector<std::uint8_t> bytes;
    for (const Rgba& p : picture.pixels) {
        if (kind == PngKind::Grey) {
            bytes.push_back(p.g);
        } else {
            bytes.insert(bytes.end(), {p.r, p.g, p.b});
            if (kind == PngKind::Rgba) bytes.push_back(p.a);
        }
    }
    image.format = kind == PngKind::Grey  ? PNG_FORMAT_GRAY
                   : kind == PngKind::Rgb ? PNG_FORMAT_RGB
                                          : PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr)) << image.message;
}

void writeJpeg(const std::string& path, const Picture& picture, JpegKind kind) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = picture.width;
    cinfo.image_height = picture.height;
    const bool grey = kind == JpegKind::Grey, cmyk = kind == JpegKind::Cmyk;
    cinfo.input_components = grey ? 1 : cmyk ? 4 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        row.clear();
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const Rgba p = picture.at(x, y);
            if (grey)
                row.push_back(p.g);
            else if (cmyk)
                row.insert(row.end(), {p.r, p.g, p.b, 255});  // inverted inks; no black
            else
                row.insert(row.end(), {p.r, p.g, p.b});
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

namespace {

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(value >> shift));
}

void appendChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> chunk(type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    putBigEndian(out, std::uint32_t(data.size()));
    out.insert(out.end(), chunk.begin(), chunk.end());
    putBigEndian(out, std::uint32_t(crc32(0, chunk.data(), uInt(chunk.size()))));
}

}  // namespace

void writePngClaimingSize(const std::string& path, std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> bytes = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> header;
    putBigEndian(header, width);
    putBigEndian(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, no interlacing
    appendChunk(bytes, "IHDR", header);
    // A little real compressed data: the file is well formed up to where the pixels run out.
    std::vector<std::uint8_t> zeros(64, 0), compressed(128);
    uLongf length = uLongf(compressed.size());
    compress(compressed.data(), &length, zeros.data(), uLong(zeros.size()));
    compressed.resize(length);
    appendChunk(bytes, "IDAT", compressed);
    appendChunk(bytes, "IEND", {});
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Picture readPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << path << ": " << image.message;
        return {};
    }
    image.format = PNG_FORMAT_RGBA;
    Picture picture(image.width, image.height);
    if (!png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << path << ": " << image.message;
        return {};
    }
    return picture;
}

void truncateFile(const std::string& path, double fraction) {
    const auto size = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, std::uintmax_t(double(size) * fraction));
}

int colourDistance(Rgba a, Rgba b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
}

}  // namespace demo_test
