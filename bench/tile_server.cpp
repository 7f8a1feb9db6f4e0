#include "tile_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zelvan_bench {

TileServer::~TileServer() {
    server_.stop();
    if (!log_.empty()) std::remove(log_.c_str());
}

bool TileServer::start(const std::string& roundTripMs, const std::string& rate, const std::string& root) {
    char scratch[] = "/tmp/zelvan-tile-server-XXXXXX";
    const int fd = ::mkstemp(scratch);
    if (fd < 0) return false;
    ::close(fd);
    log_ = scratch;
    const std::string python = zelvan_support::findProgram("python3");
    std::string line;
    if (python.empty() || !server_.start({python, ZELVAN_SYNTHETIC_TILE_SERVER, "--round-trip-ms",
                                          roundTripMs, "--rate", rate, "--root", root, "--log", log_},
                                         &line))
        return false;
    port_ = std::atoi(line.c_str());
    return port_ > 0;
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
