#pragma once
// zarr_bench.cpp's servers on 127.0.0.1, each a child process stopped with the object: lighttpd serving a
// directory's files, moto_server holding the same store in a private bucket (zarr_s3_store.py), and in
// front of each a delaying_proxy.py that adds the link's round trip and logs every answer's status.
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace zelvan_bench {

// A program run in the background, its first line of output read; stopped (SIGTERM) and reaped with the
// object.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv; with firstLine, waits for the program's first line of standard output. False when it
    // could not start, or ended before that line.
    bool start(const std::vector<std::string>& argv, std::string* firstLine = nullptr);
    void stop();  // SIGTERM, then waits for it to end; nothing when it is not running

private:
    pid_t pid_ = -1;
};

class ZarrServers {
public:
    ZarrServers() = default;
    ~ZarrServers();
    ZarrServers(const ZarrServers&) = delete;
    ZarrServers& operator=(const ZarrServers&) = delete;

    // Serves `directory` (its store `storeName` in the bucket too) behind `roundTripMs`. False, with the
    // reason in one line in `error`, when a server is missing (lighttpd, moto_server, boto3) or did not
    // start.
    bool start(const std::string& directory, const std::string& storeName, const std::string& roundTripMs,
               std::string& error);

    std::string httpUrl(const std::string& path) const;  // lighttpd's file, through its proxy
    std::string s3Endpoint() const;                      // moto's endpoint, through its proxy
    const std::string& keyId() const { return keyId_; }
    const std::string& secret() const { return secret_; }

    // The answers with `status` (403: a refused signature) each proxy has logged since clearLogs().
    std::size_t httpAnswers(int status) const;
    std::size_t s3Answers(int status) const;
    void clearLogs() const;

private:
    ChildProcess lighttpd_, moto_, httpProxy_, s3Proxy_;
    std::string scratch_;  // lighttpd's configuration and the proxies' logs
    int httpPort_ = 0, s3Port_ = 0;
    std::string keyId_, secret_;
};

}  // namespace zelvan_bench
