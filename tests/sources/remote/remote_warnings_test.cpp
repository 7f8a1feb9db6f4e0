// Each picture's warnings reach its own handler, naming it: a remote picture whose tiles make libvips
// warn, read while a pyramid is written on another thread from a damaged file of its own. libvips logs
// through one process-wide handler, on whichever thread decodes, so the two must not be mixed up. Through
// the library as programs link it, so that its handler of libvips' log is the only one.
#include <gtest/gtest.h>

#include <fstream>
#include <vips/vips8>

#include "damaged_pictures.h"
#include "test_servers.h"
#include "zelvan_sources_bands.hpp"

namespace remote_test {
namespace {

using vips::VImage;

// A JPEG of one flat colour (red 200, green 100, blue 50) with junk before its scan, which libjpeg warns
// of ("7 extraneous bytes before marker") as it reads the header, and decodes past.
std::string damagedJpeg(int width, int height) {
    const VImage flat = VImage::black(width, height, VImage::option()->set("bands", 3))
                            .linear({1, 1, 1}, {200, 100, 50})
                            .cast(VIPS_FORMAT_UCHAR);
    VipsBlob* blob = flat.jpegsave_buffer(
        VImage::option()->set("Q", 100)->set("subsample_mode", VIPS_FOREIGN_SUBSAMPLE_OFF));
    std::size_t size = 0;
    const auto* data = static_cast<const char*>(vips_blob_get(blob, &size));
    std::string bytes(data, size);
    vips_area_unref(VIPS_AREA(blob));
    bytes.insert(bytes.find("\xff\xda"), "garbage");
    return bytes;
}

using damaged_pictures::bigEndian;
using damaged_pictures::pngChunk;
using damaged_pictures::Told;

// A PNG of the same flat colour whose compressed stream holds three rows more than the picture: the
// decoder warns of them as it finishes the pixels, where they are computed (not at the header).
std::string overlongPng(int width, int height) {
    std::string raw;
    for (int y = 0; y < height + 3; ++y) {
        raw += '\0';  // no filter
        for (int x = 0; x < width; ++x) raw += "\xc8\x64\x32";
    }
    uLongf size = compressBound(uLong(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(&packed[0]), &size, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
    packed.resize(size);
    const std::string header = bigEndian(std::uint32_t(width)) + bigEndian(std::uint32_t(height)) +
                               std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", packed) +
           pngChunk("IEND", "");
}

TEST(RemoteWarnings, EachPictureIsToldItsOwnWhileAnotherIsWritten) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    ASSERT_EQ(VIPS_INIT("zelvan-test"), 0);
    // A Deep Zoom tree of a 64 x 48 picture, one tile a level, every tile damaged.
    const std::string www = servers().directory + "/www";
    std::ofstream(www + "/warned.dzi") << "<?xml version=\"1.0\"?><Image TileSize=\"256\" Overlap=\"0\" "
                                          "Format=\"png\"><Size Width=\"64\" Height=\"48\"/></Image>";
    for (int level = 6, width = 64, height = 48; level >= 0;
         --level, width = (width + 1) / 2, height = (height + 1) / 2) {
        const std::string folder = www + "/warned_files/" + std::to_string(level);
        ASSERT_TRUE(runToEnd({"/bin/mkdir", "-p", folder}));
        std::ofstream(folder + "/0_0.png", std::ios::binary) << overlongPng(width, height);
    }
    // A plain picture on disk, damaged too, large enough to be written over several steps.
    const std::string onDisk = servers().directory + "/warned-on-disk.jpg";
    std::ofstream(onDisk, std::ios::binary) << damagedJpeg(1024, 1024);

    // The pyramid is written up to its first step, where it waits until the remote picture is read.
    Told diskTold, remoteTold;
    damaged_pictures::PausedPyramid pyramid(onDisk, servers().directory + "/warned-pyramid.tif", diskTold);

    zelvan::sources::OpenOptions remoteOptions;
    remoteOptions.cacheRemote = false;
    remoteOptions.warning = remoteTold.handler();
    const std::string url = servers().direct("warned.dzi");
    zelvan::sources::Opened remote = zelvan::sources::open(url, remoteOptions);
    std::vector<std::uint8_t> bgra(64 * 48 * 4);
    zelvan::TileReadControl control;
    const bool ok = remote && remote.source->readTile(0, 0, 0, 64, 48, bgra.data(), 64 * 4, control);
    pyramid.finish();

    ASSERT_TRUE(remote) << remote.error;
    ASSERT_TRUE(ok) << remote.source->lastError();
    const int expected[4] = {50, 100, 200, 255};  // blue, green, red, alpha
    int worst = 0;
    for (std::size_t i = 0; i < bgra.size(); i += 4)
        for (int k = 0; k < 4; ++k) worst = std::max(worst, std::abs(bgra[i + k] - expected[k]));
    EXPECT_LE(worst, 3) << "the damaged tiles decode";

    // Each told its own damage (too much data on the server, junk on disk), named as its own.
    remoteTold.expectOwn(url, "IDAT");
    diskTold.expectOwn(onDisk, "7 extraneous bytes");
}

}  // namespace
}  // namespace remote_test
