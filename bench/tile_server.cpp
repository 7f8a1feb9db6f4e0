#include "tile_server.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zelvan_bench {

TileServer::~TileServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (!log_.empty()) std::remove(log_.c_str());
}

bool TileServer::start(const std::string& roundTripMs, const std::string& rate, const std::string& root) {
    char scratch[] = "/tmp/zelvan-tile-server-XXXXXX";
    const int fd = ::mkstemp(scratch);
    if (fd < 0) return false;
    ::close(fd);
    log_ = scratch;
    int ends[2];
    if (::pipe(ends) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(ends[1], 1);
        ::close(ends[0]);
        ::execlp("python3", "python3", ZELVAN_SYNTHETIC_TILE_SERVER, "--round-trip-ms", roundTripMs.c_str(),
                 "--rate", rate.c_str(), "--root", root.c_str(), "--log", log_.c_str(),
                 static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(ends[1]);
    std::string line;
    char c = 0;
    while (::read(ends[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(ends[0]);
    port_ = std::atoi(line.c_str());
    return pid_ > 0 && port_ > 0;
}

std::string TileServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void TileServer::clearLog() const { std::ofstream(log_, std::ios::trunc).flush(); }

std::vector<ServedRequest> TileServer::served() const {
    std::vector<ServedRequest> requests;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        ServedRequest r;
        int complete = 0;
        if (fields >> r.path >> r.start >> r.end >> r.bytes >> complete) {
            r.complete = complete != 0;
            requests.push_back(r);
        }
    }
    return requests;
}

std::vector<std::string> TileServer::requested() const {
    std::vector<std::string> paths;
    for (const ServedRequest& r : served()) paths.push_back(r.path);
    return paths;
}

}  // namespace zelvan_bench
