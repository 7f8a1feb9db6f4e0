// OME-Zarr stores served by lighttpd, read through the remote room: every sample as written (v2
// consolidated, v3 sharded with its index at either end, read by byte ranges), a chunk the server answers
// 404 for as the fill value, a store named otherwise found by its metadata, a store without metadata
// refused in one line; a read's chunks fetched together.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "remote_reading.h"
#include "test_servers.h"
#include "zarr_stores.h"

namespace remote_test {
namespace {

TEST(RemoteZarr, StoresReadAsWritten) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    servers().setRules("");
    const std::string stores = servers().directory + "/www/zarr";
    const std::string why = zarr_test::writeStores(stores);
    if (!why.empty()) GTEST_SKIP() << why;
    ASSERT_EQ(
        symlink((stores + "/v3_u2_zstd.zarr").c_str(), (stores + "/plain").c_str()) == 0 || errno == EEXIST,
        true);
    const struct {
        const char* path;
        const char* expected;
        const char* format;
    } cases[] = {{"u2_zstd_blosc.zarr", "u2_zstd_blosc.zarr", "ome-zarr 0.4"},
                 {"f8_none.zarr/", "f8_none.zarr", "ome-zarr 0.4"},  // a chunk answers 404
                 {"v3_sharded.zarr", "v3_sharded.zarr", "ome-zarr 0.5"},
                 {"v3_shard_start.zarr", "v3_shard_start.zarr", "ome-zarr 0.5"},
                 {"plain", "v3_u2_zstd.zarr", "ome-zarr 0.5"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        const std::unique_ptr<zelvan::sources::PictureSource> source =
            openPicture(servers().direct(std::string("zarr/") + c.path), testOptions(), error);
        ASSERT_TRUE(source) << error;
        EXPECT_TRUE(source->info().remote);
        EXPECT_EQ(source->info().format, c.format);
        for (std::size_t level = 0; level < source->levelCount(); ++level) {
            const std::vector<unsigned char> read = zarr_test::readLevel(*source, level);
            const std::vector<unsigned char> expected =
                zarr_test::expectedSamples(stores, c.expected, int(level));
            ASSERT_EQ(read.size(), expected.size()) << source->lastError();
            EXPECT_EQ(std::memcmp(read.data(), expected.data(), read.size()), 0) << "level " << level;
        }
        // Each chunk is fetched once: read again, the level comes from the decoded chunks kept.
        const std::uint64_t requests = source->transfers().requests;
        EXPECT_GT(requests, 0u);
        EXPECT_FALSE(zarr_test::readLevel(*source, 0).empty());
        EXPECT_EQ(source->transfers().requests, requests);
    }
    std::string error;
    EXPECT_FALSE(openPicture(servers().direct("zarr/nothing.zarr"), testOptions(), error));
    EXPECT_NE(error.find("nothing.zarr"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

// A chunk the server refuses (403) fails its reads, the coarser levels still read: the fill value would
// hide pixels that exist.
TEST(RemoteZarr, RefusedChunksFailTheirReads) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    const std::string stores = servers().directory + "/www/zarr";
    const std::string why = zarr_test::writeStores(stores);
    if (!why.empty()) GTEST_SKIP() << why;
    servers().setRules("u2_zstd_blosc.zarr/0/ 403\n");  // level 0's chunks; the metadata is consolidated
    std::string error;
    const auto source = openPicture(servers().proxied("zarr/u2_zstd_blosc.zarr"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_TRUE(zarr_test::readLevel(*source, 0).empty());
    EXPECT_NE(source->lastError().find("403"), std::string::npos) << source->lastError();
    EXPECT_EQ(zarr_test::readLevel(*source, 1), zarr_test::expectedSamples(stores, "u2_zstd_blosc.zarr", 1));
    servers().setRules("");
}

// One read's chunks are fetched at once: held back by the proxy, level 0's twelve chunks are under way
// together, and the whole level still reads as written.
TEST(RemoteZarr, ReadFetchesItsChunksAtOnce) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    const std::string stores = servers().directory + "/www/zarr";
    const std::string why = zarr_test::writeStores(stores);
    if (!why.empty()) GTEST_SKIP() << why;
    servers().setRules("u2_zstd_blosc.zarr/0/ delay 0 300\n");  // the log starts anew
    std::string error;
    const auto source = openPicture(servers().proxied("zarr/u2_zstd_blosc.zarr"), testOptions(), error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(zarr_test::readLevel(*source, 0), zarr_test::expectedSamples(stores, "u2_zstd_blosc.zarr", 0));
    // The log's lines: "PATH FAULT RUNNING AUTH"; the most a chunk of level 0 found under way with it.
    std::istringstream log(servers().log());
    servers().setRules("");
    int most = 0;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string path, fault;
        int running = 0;
        if (fields >> path >> fault >> running && path.find("u2_zstd_blosc.zarr/0/") != std::string::npos)
            most = std::max(most, running);
    }
    EXPECT_GT(most, 1);
}

}  // namespace
}  // namespace remote_test
