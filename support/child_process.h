#pragma once
// Programs the tests and the benchmarks run beside them on 127.0.0.1 (lighttpd, iipsrv, moto_server, the
// delaying and fault-injecting proxies), POSIX only. Each child dies with its parent, so no server
// outlives a test that crashed.
#include <sys/types.h>

#include <string>
#include <vector>

namespace zelvan_support {

// A program run in the background, stopped (SIGTERM) and reaped with the object.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv (argv[0] a full path; its standard input and, without `firstLine`, its standard output
    // go to /dev/null). With `firstLine`, waits for the first line the program prints and returns it
    // there. False when it could not start or, with `firstLine`, ended before printing a line.
    bool start(const std::vector<std::string>& argv, std::string* firstLine = nullptr);
    void stop();  // SIGTERM, then waits for it to end; nothing when it is not running

private:
    pid_t pid_ = -1;
};

// Runs argv (argv[0] a full path, its output discarded) to its end; true when it exits with 0.
bool runToEnd(const std::vector<std::string>& argv);
// The full path of `name` on PATH or in /usr/sbin or /usr/bin, or empty.
std::string findProgram(const std::string& name);
// Waits up to 5 s for a TCP connection to 127.0.0.1:port to succeed; false if none did.
bool waitForPort(int port);
// A port of 127.0.0.1 that no one listens on now (0 if none could be found).
int freePort();

}  // namespace zelvan_support
