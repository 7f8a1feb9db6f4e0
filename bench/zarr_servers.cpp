#include "zarr_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace zelvan_bench {

namespace {

std::string findProgram(const std::string& name) {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/usr/bin";
    std::stringstream parts(path);
    for (std::string dir; std::getline(parts, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool waitForPort(int port) {
    for (int i = 0; i < 1000; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(port);
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (ok) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::size_t answersWith(const std::string& log, int status) {
    std::ifstream in(log);
    std::size_t count = 0;
    int logged = 0;
    for (std::string path; in >> logged >> path;) count += logged == status ? 1 : 0;
    return count;
}

}  // namespace

ChildProcess::~ChildProcess() { stop(); }

void ChildProcess::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

bool ChildProcess::start(const std::vector<std::string>& argv, std::string* firstLine) {
    int ends[2];
    if (::pipe(ends) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(ends[1], 1);
        ::close(ends[0]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    bool ok = pid_ > 0;
    if (ok && firstLine) {
        char c = 0;
        while ((ok = ::read(ends[0], &c, 1) == 1) && c != '\n') *firstLine += c;
    }
    ::close(ends[0]);
    return ok;
}

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
