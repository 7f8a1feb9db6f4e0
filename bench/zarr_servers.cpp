#include "zarr_servers.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zelvan_bench {

using zelvan_support::ChildProcess;
using zelvan_support::findProgram;
using zelvan_support::freePort;
using zelvan_support::waitForPort;

namespace {

std::size_t answersWith(const std::string& log, int status) {
    std::ifstream in(log);
    std::size_t count = 0;
    int logged = 0;
    for (std::string path; in >> logged >> path;) count += logged == status ? 1 : 0;
    return count;
}

}  // namespace

ZarrServers::~ZarrServers() {
    for (ChildProcess* child : {&httpProxy_, &s3Proxy_, &moto_, &lighttpd_}) child->stop();
    if (!scratch_.empty()) {
        for (const char* name : {"/lighttpd.conf", "/lighttpd.log", "/http.log", "/s3.log"})
            std::remove((scratch_ + name).c_str());
        ::rmdir(scratch_.c_str());
    }
}

bool ZarrServers::start(const std::string& directory, const std::string& storeName,
                        const std::string& roundTripMs, std::string& error) {
    const std::string lighttpd = findProgram("lighttpd"), python = findProgram("python3"),
                      moto = findProgram("moto_server");
    if (lighttpd.empty() || python.empty() || moto.empty()) {
        error = "needs lighttpd, python3 and moto_server (Debian: lighttpd python3; pip: moto[server] boto3)";
        return false;
    }
    char scratch[] = "/tmp/zelvan-zarr-bench-XXXXXX";
    if (!::mkdtemp(scratch)) {
        error = "no scratch directory in /tmp";
        return false;
    }
    scratch_ = scratch;
    const int lighttpdPort = freePort();
    std::ofstream(scratch_ + "/lighttpd.conf")
        << "server.document-root = \"" << directory
        << "\"\nserver.bind = \"127.0.0.1\"\nserver.port = " << lighttpdPort << "\nserver.errorlog = \""
        << scratch_ << "/lighttpd.log\"\n"
        << "mimetype.assign = (\".json\" => \"application/json\", \"\" => \"application/octet-stream\")\n";
    if (!lighttpd_.start({lighttpd, "-D", "-f", scratch_ + "/lighttpd.conf"}) || !waitForPort(lighttpdPort)) {
        error = "lighttpd did not start (" + scratch_ + "/lighttpd.log)";
        return false;
    }
    std::string line;
    if (!moto_.start({python, ZELVAN_ZARR_S3_STORE, directory + "/" + storeName}, &line)) {
        error = "moto_server did not start with the store (python3 needs moto and boto3)";
        return false;
    }
    std::istringstream fields(line);
    int motoPort = 0;
    fields >> motoPort >> keyId_ >> secret_;
    std::string httpLine, s3Line;
    if (!httpProxy_.start({python, ZELVAN_DELAYING_PROXY, "--upstream", std::to_string(lighttpdPort),
                           "--round-trip-ms", roundTripMs, "--log", scratch_ + "/http.log"},
                          &httpLine) ||
        !s3Proxy_.start({python, ZELVAN_DELAYING_PROXY, "--upstream", std::to_string(motoPort),
                         "--round-trip-ms", roundTripMs, "--log", scratch_ + "/s3.log"},
                        &s3Line)) {
        error = "a delaying proxy did not start";
        return false;
    }
    httpPort_ = std::atoi(httpLine.c_str());
    s3Port_ = std::atoi(s3Line.c_str());
    return httpPort_ > 0 && s3Port_ > 0 && motoPort > 0;
}

std::string ZarrServers::httpUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(httpPort_) + "/" + path;
}

std::string ZarrServers::s3Endpoint() const { return "http://127.0.0.1:" + std::to_string(s3Port_); }

std::size_t ZarrServers::httpAnswers(int status) const { return answersWith(scratch_ + "/http.log", status); }

std::size_t ZarrServers::s3Answers(int status) const { return answersWith(scratch_ + "/s3.log", status); }

void ZarrServers::clearLogs() const {
    for (const char* name : {"/http.log", "/s3.log"}) std::ofstream(scratch_ + name, std::ios::trunc).flush();
}

}  // namespace zelvan_bench
