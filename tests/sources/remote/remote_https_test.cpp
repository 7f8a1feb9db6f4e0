// Over https, lighttpd speaking HTTP/2 with a self-signed certificate: the pixels as over http, every
// request on one multiplexed connection, the certificate trusted only when told; over plain HTTP/1.1,
// no more connections than requestsPerHost.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "remote_reading.h"

namespace remote_test {
namespace {

#define NEED_TLS()                                                     \
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing; \
    if (servers().tlsPort == 0) GTEST_SKIP() << servers().tlsMissing

// Level 0 read as the view's 512 grid, 3 × 3 server tiles a read.
std::vector<Read> readLevel0(zelvan::sources::PictureSource& source) {
    std::vector<Read> reads;
    for (std::uint32_t y = 0; y < kPictureHeight; y += 512)
        for (std::uint32_t x = 0; x < kPictureWidth; x += 512)
            reads.push_back(readRect(source, 0, x, y, std::min(512u, kPictureWidth - x),
                                     std::min(512u, kPictureHeight - y)));
    return reads;
}

TEST(RemoteHttps, Http2CarriesEveryRequestOnOneConnection) {
    NEED_TLS();
    zelvan::sources::OpenOptions options = testOptions();
    options.trustedCertificates = servers().certificate;
    options.requestsPerHost = 2;
    std::string error;
    auto overHttp = openPicture(servers().direct("deep.dzi"), options, error);
    auto overHttps = openPicture(servers().secure("deep.dzi"), options, error);
    ASSERT_TRUE(overHttp && overHttps) << error;
    const std::vector<Read> plain = readLevel0(*overHttp), secure = readLevel0(*overHttps);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        ASSERT_TRUE(plain[i].ok && secure[i].ok) << overHttps->lastError();
        EXPECT_TRUE(plain[i].bgra == secure[i].bgra) << "read " << i;
    }
    const zelvan::sources::TransferStats stats = overHttps->transfers();
    EXPECT_GT(stats.requests, 20u);
    EXPECT_EQ(stats.connections, 1u);
    // lighttpd writes its log every few seconds.
    std::size_t lines = 0, http2 = 0;
    for (int i = 0; i < 100 && lines < stats.requests; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::istringstream log(readFile(servers().accessLog));
        lines = http2 = 0;
        for (std::string line; std::getline(log, line); ++lines)
            http2 += line.rfind("HTTP/2.0 /deep", 0) == 0;
    }
    EXPECT_EQ(lines, stats.requests);
    EXPECT_EQ(http2, stats.requests) << readFile(servers().accessLog);
    // Over HTTP/2 more than requestsPerHost at once: the proxy holds each tile half a second.
    servers().setRules(".webp delay 0 500\n");
    options.timeout = std::chrono::seconds(10);
    auto slow = openPicture(servers().secure("slow/deep.dzi"), options, error);
    ASSERT_TRUE(slow) << error;
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        EXPECT_TRUE(readRect(*slow, 0, 0, 0, 512, 512).ok) << slow->lastError();
        reading = false;
    });
    std::size_t most = 0;
    while (reading) most = std::max(most, slow->transfers().requestsInFlight);
    reader.join();
    EXPECT_GT(most, 2u);
    EXPECT_LE(most, 2u * 4);
}

TEST(RemoteHttps, AnUntrustedCertificateFailsTheOpeningInOneLine) {
    NEED_TLS();
    zelvan::sources::OpenOptions options = testOptions();
    std::string error;
    EXPECT_FALSE(openPicture(servers().secure("deep.dzi"), options, error));
    EXPECT_NE(error.find("certificate could not be verified"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    options.trustedCertificates = servers().directory + "/none.pem";
    EXPECT_FALSE(openPicture(servers().secure("deep.dzi"), options, error));
    EXPECT_NE(error.find("none.pem: cannot be read"), std::string::npos) << error;
}

TEST(RemoteHttps, Http11KeepsAtMostRequestsPerHostConnections) {
    if (!servers().missing.empty()) GTEST_SKIP() << servers().missing;
    zelvan::sources::OpenOptions options = testOptions();
    options.requestsPerHost = 3;
    std::string error;
    auto source = openPicture(servers().direct("deep.dzi"), options, error);
    ASSERT_TRUE(source) << error;
    for (const Read& read : readLevel0(*source)) ASSERT_TRUE(read.ok) << source->lastError();
    EXPECT_GT(source->transfers().requests, 20u);
    EXPECT_GE(source->transfers().connections, 1u);
    EXPECT_LE(source->transfers().connections, 3u);
}

}  // namespace
}  // namespace remote_test
