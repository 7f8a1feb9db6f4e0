#pragma once
// Real servers on 127.0.0.1 for the remote pictures' tests: lighttpd over static trees written by
// `vips dzsave`, Debian's iipsrv behind it over FastCGI, and fault_proxy.py in front, each a child
// process stopped with the fixture. A missing program leaves its server out, and the tests that need it
// skip.
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"

namespace remote_test {

// The test picture's pixel at (x, y) of level 0: red and green ramps under a checker of blue, so that a
// misplaced, flipped or cropped tile shows.
struct Rgb {
    std::uint8_t r, g, b;
};
Rgb picturePixel(std::uint32_t x, std::uint32_t y);
constexpr std::uint32_t kPictureWidth = 1500, kPictureHeight = 1100;

// The child processes and ports every server here is run with.
using zelvan_support::ChildProcess;
using zelvan_support::findProgram;
using zelvan_support::freePort;
using zelvan_support::runToEnd;
using zelvan_support::waitForPort;

// Everything the tests fetch from, made once for the whole binary.
struct Servers {
    std::string directory;  // scratch: the trees, configurations, logs and the disk cache
    std::string missing;    // why a part is left out, for GTEST_SKIP
    int lighttpdPort = 0;   // serves `directory`/www; /iipsrv.fcgi goes to iipsrv when it runs
    bool iipsrv = false;
    int proxyPort = 0;  // fault_proxy.py in front of lighttpd
    std::string rulesFile, proxyLog;
    // lighttpd again over TLS (so HTTP/2), with a self-signed certificate, logging "PROTOCOL PATH" a
    // request, and /PATH through the proxy as /slow/PATH; 0 without openssl or mod_openssl (`tlsMissing`
    // says which).
    int tlsPort = 0;
    std::string tlsMissing, certificate, accessLog;

    std::string direct(const std::string& path) const;  // http://127.0.0.1:lighttpdPort/path
    std::string proxied(const std::string& path) const;
    std::string secure(const std::string& path) const;  // https://127.0.0.1:tlsPort/path
    // Replaces the proxy's rules ("SUBSTRING FAULT [TIMES] [ARG]" lines) and empties its log.
    void setRules(const std::string& rules) const;
    std::string log() const;
};

std::string readFile(const std::string& path);

// Starts the servers on first use (null on a machine without lighttpd, vips or python3: `missing`
// says which), and stops them when the binary ends.
const Servers& servers();

}  // namespace remote_test
