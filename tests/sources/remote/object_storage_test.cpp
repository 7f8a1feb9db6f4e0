// Pictures in object stores, against moto's S3 server (s3_store.py): a private bucket read only when
// signed, Deep Zoom and a TIFF by ranges, by s3:// and by path-style URLs, pixels exact, no key cached; a
// wrong secret in one line that names no key; keys from a profile in the shared files; a public bucket
// unsigned; SlowDown tried again, then told; and from the servers' side, which requests came signed and
// that a redirect to another host carries none.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "remote_reading.h"
#ifdef ZELVAN_ZARR_STORES
#include "zarr_stores.h"
#endif

namespace remote_test {
namespace {

struct Store {
    ChildProcess process;
    std::string missing, log;
    std::string zarrMissing = "built without OME-Zarr";
    int privatePort = 0, publicPort = 0;
    std::string keyId, secret;

    Store() {
        // The Python moto_server was installed for (pyenv's, a virtual environment's), else the first.
        const std::string moto = findProgram("moto_server");
        std::string python = moto.substr(0, moto.rfind('/') + 1) + "python3";
        if (moto.empty() || ::access(python.c_str(), X_OK) != 0) python = findProgram("python3");
        if (!servers().missing.empty()) missing = servers().missing;
        if (moto.empty() || python.empty())
            missing = "needs moto_server and boto3 (pip install 'moto[server]' boto3)";
        if (!missing.empty()) return;
#ifdef ZELVAN_ZARR_STORES
        // The buckets hold the OME-Zarr stores too, written before the buckets are filled.
        zarrMissing = zarr_test::writeStores(servers().directory + "/www/zarr");
#endif
        log = servers().directory + "/store.log";
        std::string line;
        int otherPort = 0;
        if (process.start({python, ZELVAN_S3_STORE, servers().directory + "/www", log}, &line))
            std::istringstream(line) >> privatePort >> publicPort >> otherPort >> keyId >> secret;
        if (secret.empty()) missing = "the object store did not start (moto_server and boto3 in python3?)";
        // The settings are the tests' own: none of the machine's, no shared files.
        for (const char* name :
             {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN", "AWS_PROFILE", "AWS_REGION",
              "AWS_DEFAULT_REGION", "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_S3", "AWS_NO_SIGN_REQUEST"})
            ::unsetenv(name);
        ::setenv("AWS_SHARED_CREDENTIALS_FILE", (servers().directory + "/none").c_str(), 1);
        ::setenv("AWS_CONFIG_FILE", (servers().directory + "/none").c_str(), 1);
    }
    std::string endpoint(int port) const { return "http://127.0.0.1:" + std::to_string(port); }
    // The relay's log lines since the last call.
    std::string take() const {
        const std::string text = readFile(log);
        std::ofstream(log, std::ios::trunc).flush();
        return text;
    }
};

const Store& store() {
    static Store instance;
    return instance;
}

#define NEED_STORE() \
    if (!store().missing.empty()) GTEST_SKIP() << store().missing

zelvan::sources::OpenOptions storeOptions(int port, bool withKey) {
    zelvan::sources::OpenOptions options = testOptions();
    options.objectStorage.endpoint = store().endpoint(port);
    if (withKey) options.objectStorage.accessKeyId = store().keyId;
    if (withKey) options.objectStorage.secretAccessKey = store().secret;
    return options;
}

// Opens `url` and reads level 0's first 512 x 512 pixels, which must be the picture's exactly.
void expectExact(const std::string& url, const zelvan::sources::OpenOptions& options,
                 const std::string& format) {
    SCOPED_TRACE(url);
    std::string error;
    auto source = openPicture(url, options, error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(source->info().format, format);
    const Read read = readRect(*source, 0, 0, 0, 512, 512);
    ASSERT_TRUE(read.ok) << source->lastError();
    EXPECT_EQ(largestDifference(read, 0, 0, 0, 512, 512), 0);
}

TEST(ObjectStorage, PrivateBucketReadOnlySigned) {
    NEED_STORE();
    std::string error;
    store().take();
    EXPECT_FALSE(openPicture("s3://private/deep.dzi", storeOptions(store().privatePort, false), error));
    EXPECT_NE(error.find("access denied by the store to an unsigned request"), std::string::npos) << error;
    EXPECT_EQ(count(store().take(), "unsigned"), 1u);

    expectExact("s3://private/deep.dzi", storeOptions(store().privatePort, true), "dzi");
    expectExact(store().endpoint(store().privatePort) + "/private/pyramid.tif",
                storeOptions(store().privatePort, true), "tiff");
    const std::string requests = store().take();
    EXPECT_GE(count(requests, "private GET /private/deep_files/"), 4u) << requests;
    EXPECT_GE(count(requests, "private GET /private/pyramid.tif"), 2u) << requests;
    EXPECT_EQ(count(requests, " signed"), count(requests, "\n")) << requests;

    // Bodies are kept by the endpoint's URL: no cache file, nor its name, holds the key id or the secret.
    zelvan::sources::OpenOptions cached = testOptions(servers().directory + "/store-cache");
    cached.objectStorage = storeOptions(store().privatePort, true).objectStorage;
    expectExact("s3://private/deep.dzi", cached, "dzi");
    std::string stored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(cached.cacheDirectory))
        stored += entry.path().string() + readFile(entry.path().string());
    EXPECT_NE(stored.find("/private/deep_files/11/0_0.webp"), std::string::npos);
    EXPECT_EQ(stored.find(store().keyId), std::string::npos);
    EXPECT_EQ(stored.find(store().secret), std::string::npos);
}

// OME-Zarr from a private bucket: every request signed, shards by byte ranges, a missing chunk the fill.
TEST(ObjectStorage, OmeZarrStoresFromAPrivateBucket) {
    NEED_STORE();
    if (!store().zarrMissing.empty()) GTEST_SKIP() << store().zarrMissing;
    store().take();
    for (const char* name : {"v3_sharded.zarr", "f8_none.zarr"}) {
        SCOPED_TRACE(name);
        std::string error;
        const auto source = openPicture(std::string("s3://private/zarr/") + name,
                                        storeOptions(store().privatePort, true), error);
        ASSERT_TRUE(source) << error;
        const std::vector<unsigned char> read = zarr_test::readLevel(*source, 0);
        EXPECT_EQ(read, zarr_test::expectedSamples(servers().directory + "/www/zarr", name, 0))
            << source->lastError();
    }
    const std::string requests = store().take();
    EXPECT_GE(count(requests, "private GET /private/zarr/v3_sharded.zarr/"), 3u) << requests;
    EXPECT_EQ(count(requests, " signed"), count(requests, "\n")) << requests;
}

TEST(ObjectStorage, WrongSecretFailsInOneLineWithoutIt) {
    NEED_STORE();
    zelvan::sources::OpenOptions options = storeOptions(store().privatePort, true);
    options.objectStorage.secretAccessKey = "Wrong/Secret+Never+Shown";
    std::string error;
    EXPECT_FALSE(openPicture("s3://private/deep.dzi", options, error));
    EXPECT_NE(error.find("refused the request's signature"), std::string::npos) << error;
    EXPECT_EQ(error.find("Never+Shown"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

TEST(ObjectStorage, KeysFromTheProfileInTheSharedFiles) {
    NEED_STORE();
    const std::string credentials = servers().directory + "/credentials",
                      config = servers().directory + "/config";
    std::ofstream(credentials) << "[default]\naws_access_key_id = nobody\naws_secret_access_key = nothing\n\n"
                               << "# the tests' user\n[viewer]\naws_access_key_id=" << store().keyId
                               << "\naws_secret_access_key: " << store().secret << "\r\n";
    std::ofstream(config)
        << "[default]\nregion = us-west-1\n[profile viewer]\ns3 =\n  addressing_style = path\n"
        << "region = eu-west-3\n";
    ::setenv("AWS_SHARED_CREDENTIALS_FILE", credentials.c_str(), 1);
    ::setenv("AWS_CONFIG_FILE", config.c_str(), 1);
    ::setenv("AWS_PROFILE", "viewer", 1);
    ::setenv("AWS_ENDPOINT_URL", store().endpoint(store().privatePort).c_str(), 1);
    store().take();
    expectExact("s3://private/deep.dzi", testOptions(), "dzi");
    EXPECT_EQ(count(store().take(), "private GET /private/deep_files/11/0_0.webp signed no-token eu-west-3"),
              1u);

    // A broken file is refused by its line's number, never by its text.
    std::ofstream(credentials, std::ios::app) << "aws_session_token_without_value " << store().secret << "\n";
    std::string error;
    EXPECT_FALSE(openPicture("s3://private/deep.dzi", testOptions(), error));
    EXPECT_NE(error.find("credentials: line 9: neither a section"), std::string::npos) << error;
    EXPECT_EQ(error.find(store().secret), std::string::npos) << error;
    for (const char* name : {"AWS_PROFILE", "AWS_ENDPOINT_URL"}) ::unsetenv(name);
    ::setenv("AWS_SHARED_CREDENTIALS_FILE", (servers().directory + "/none").c_str(), 1);
    ::setenv("AWS_CONFIG_FILE", (servers().directory + "/none").c_str(), 1);
}

TEST(ObjectStorage, PublicBucketUnsignedAndOtherHostsNeverSigned) {
    NEED_STORE();
    store().take();
    ::setenv("AWS_NO_SIGN_REQUEST", "yes", 1);
    expectExact("s3://public/pyramid.tif", storeOptions(store().publicPort, true), "tiff");
    ::unsetenv("AWS_NO_SIGN_REQUEST");
    // A key for one store is never sent to another.
    expectExact(store().endpoint(store().publicPort) + "/public/deep.dzi",
                storeOptions(store().privatePort, true), "dzi");
    const std::string requests = store().take();
    EXPECT_GE(count(requests, "public GET /public/"), 4u) << requests;
    EXPECT_EQ(count(requests, " unsigned"), count(requests, "\n")) << requests;
}

// A store under load answers 503 SlowDown: each request is tried again after a back-off, and one that
// never gets through fails in the store's one line.
TEST(ObjectStorage, SlowDownIsTriedAgainThenToldInOneLine) {
    NEED_STORE();
    zelvan::sources::OpenOptions options = storeOptions(store().publicPort, false);
    options.objectStorage.unsignedRequests = true;
    store().take();
    expectExact("s3://throttled/deep.dzi", options, "dzi");
    const std::string requests = store().take();
    EXPECT_EQ(count(requests, "GET /throttled/deep.dzi "), 3u) << requests;
    std::string error;
    EXPECT_FALSE(openPicture("s3://overloaded/deep.dzi", options, error));
    EXPECT_NE(error.find("the store asked to slow down, and still did after the retries (SlowDown)"),
              std::string::npos)
        << error;
}

TEST(ObjectStorage, RedirectToAnotherHostCarriesNoKeyNorToken) {
    NEED_STORE();
    zelvan::sources::OpenOptions options = storeOptions(store().privatePort, true);
    options.objectStorage.sessionToken = "session-token";
    store().take();
    expectExact(store().endpoint(store().privatePort) + "/moved/public/deep.dzi", options, "dzi");
    const std::string requests = store().take();
    EXPECT_EQ(count(requests, "private GET /moved/public/deep.dzi signed token"), 1u) << requests;
    EXPECT_GE(count(requests, "other GET /public/deep_files/"), 4u) << requests;
    EXPECT_EQ(count(requests, "other GET /public/"), count(requests, "unsigned no-token")) << requests;
}

}  // namespace
}  // namespace remote_test
