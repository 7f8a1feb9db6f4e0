// libcurl takes one bundle, which replaces the system's: so the system's file (where libcurl was told
// to find it) is read too, and the user's certificates appended to it. Where the TLS library asks the
// system itself, as on Windows, there is no file, and the user's certificates are then the only ones.
#include "trusted_certificates.h"

#include <curl/curl.h>

#include <cstdio>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxBundleBytes = std::size_t{4}
                                        << 20;  // the system's is about 200 KiB; libcurl takes 8 MB

// Appends a file's text; false when it cannot be opened or is longer than a bundle could be.
bool appendFile(const std::string& path, std::string& text) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return false;
    char chunk[65536];
    std::size_t n = 0;
    bool ok = true;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        ok = text.size() + n <= kMaxBundleBytes;
        if (ok) text.append(chunk, n);
    }
    ok = ok && !std::ferror(in);
    std::fclose(in);
    return ok;
}

}  // namespace

bool trustedCertificates(const std::string& file, std::shared_ptr<const std::string>& bundle,
                         std::string& error) {
    bundle.reset();
    if (file.empty()) return true;
    std::string text;
    if (CURL* probe = curl_easy_init()) {
        char* system = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &system) == CURLE_OK && system &&
            appendFile(system, text))
            text += '\n';
        else
            text.clear();
        curl_easy_cleanup(probe);
    }
    const std::size_t own = text.size();
    if (!appendFile(file, text)) {
        error = file + ": cannot be read as a file of certificates";
        return false;
    }
    if (text.find("-----BEGIN CERTIFICATE-----", own) == std::string::npos) {
        error = file + ": holds no PEM certificate";
        return false;
    }
    bundle = std::make_shared<const std::string>(std::move(text));
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
