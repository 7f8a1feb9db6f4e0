#pragma once
// zarr_bench.cpp's servers on 127.0.0.1, each a child process stopped with the object: lighttpd serving a
// directory's files, moto_server holding the same store in a private bucket (zarr_s3_store.py), and in
// front of each a delaying_proxy.py that adds the link's round trip and logs every answer's status.
#include <cstddef>
#include <string>

#include "child_process.h"

namespace zelvan_bench {

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
    zelvan_support::ChildProcess lighttpd_, moto_, httpProxy_, s3Proxy_;
    std::string scratch_;  // lighttpd's configuration and the proxies' logs
    int httpPort_ = 0, s3Port_ = 0;
    std::string keyId_, secret_;
};

}  // namespace zelvan_bench
