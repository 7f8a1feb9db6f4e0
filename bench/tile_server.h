#pragma once
// synthetic_tile_server.py as a child process of a benchmark: started on a free port of 127.0.0.1,
// stopped with the object, its log read back as the requests it served.
#include <cstdint>
#include <string>
#include <vector>

#include "child_process.h"

namespace zelvan_bench {

// One request as the server saw it: its times on the monotonic clock (now()'s), the bytes it sent, and
// whether the whole answer went out before the client left.
struct ServedRequest {
    std::string path;
    double start = 0, end = 0;
    std::uint64_t bytes = 0;
    bool complete = false;
};

class TileServer {
public:
    TileServer() = default;
    ~TileServer();
    TileServer(const TileServer&) = delete;
    TileServer& operator=(const TileServer&) = delete;

    // Starts the server behind a link of `roundTripMs` and `rate` bytes a second; with `root`, it also
    // serves that directory's files. False when python3 or the script cannot run.
    bool start(const std::string& roundTripMs, const std::string& rate, const std::string& root = {});
    std::string url(const std::string& path) const;
    void clearLog() const;
    std::vector<ServedRequest> served() const;
    std::vector<std::string> requested() const;  // the paths of served()

private:
    zelvan_support::ChildProcess server_;
    int port_ = 0;
    std::string log_;
};

}  // namespace zelvan_bench
