// Host names are compared as originOf gives them (lower case, the port spelled out), so that
// http://HOST and http://host:80 name the same store.
#include "store_addresses.h"

#include <vector>

#include "remote/network/http_fetcher.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

bool letterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string percentEncoded(const std::string& key) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : key) {
        if (letterOrDigit(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

// A bucket that can be a label of a host name (and of a certificate's wildcard): lower case, no dots.
bool hostLabel(const std::string& bucket) {
    for (const char c : bucket)
        if ((c >= 'A' && c <= 'Z') || c == '.' || c == '_') return false;
    return bucket.size() >= 3 && bucket.size() <= 63 && bucket.front() != '-' && bucket.back() != '-';
}

std::vector<std::string> labels(const std::string& host) {
    std::vector<std::string> out(1);
    for (const char c : host) {
        if (c == '.')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

// An AWS S3 host's region: the label after the last "s3" (past "dualstack"), or after "s3-"; the global
// host's is us-east-1.
bool awsRegion(const std::string& host, std::string& region) {
    std::string rest;
    for (const char* suffix : {".amazonaws.com", ".amazonaws.com.cn"}) {
        const std::string end(suffix);
        if (host.size() > end.size() && host.compare(host.size() - end.size(), end.size(), end) == 0)
            rest = host.substr(0, host.size() - end.size());
    }
    const std::vector<std::string> parts = labels(rest);
    for (std::size_t i = parts.size(); i-- > 0;) {
        if (parts[i] == "s3") {
            std::size_t next = i + 1;
            if (next < parts.size() && parts[next] == "dualstack") ++next;
            region = next < parts.size() ? parts[next] : "us-east-1";
            return true;
        }
        if (parts[i].compare(0, 3, "s3-") == 0) {
            region = parts[i] == "s3-external-1" ? "us-east-1" : parts[i].substr(3);
            return true;
        }
    }
    return false;
}

}  // namespace

bool isS3Url(const std::string& url) {
    return url.size() >= 5 && (url[0] == 's' || url[0] == 'S') && url[1] == '3' &&
           url.compare(2, 3, "://") == 0;
}

bool splitS3Url(const std::string& url, std::string& bucket, std::string& key, std::string& error) {
    const std::size_t slash = url.find('/', 5);
    bucket = url.substr(5, slash == std::string::npos ? std::string::npos : slash - 5);
    key = slash == std::string::npos ? std::string() : url.substr(slash + 1);
    bool named = !bucket.empty() && bucket.size() <= 255;
    for (const char c : bucket) named = named && (letterOrDigit(c) || c == '.' || c == '-' || c == '_');
    if (!named) {
        error = "not a bucket's name (letters, digits, \".\", \"-\" and \"_\")";
        return false;
    }
    if (key.empty()) {
        error = "names a bucket but no object in it";
        return false;
    }
    return true;
}

std::string objectUrl(const StorePlace& place, const std::string& bucket, const std::string& key) {
    const std::string path = "/" + percentEncoded(key);
    if (place.endpoint.empty()) {
        const std::string domain =
            place.region.compare(0, 3, "cn-") == 0 ? ".amazonaws.com.cn" : ".amazonaws.com";
        const std::string host = "s3." + place.region + domain;
        return hostLabel(bucket) ? "https://" + bucket + "." + host + path
                                 : "https://" + host + "/" + bucket + path;
    }
    if (place.pathStyle) return place.endpoint + "/" + bucket + path;
    const std::size_t hostStart = place.endpoint.find("://") + 3;
    return place.endpoint.substr(0, hostStart) + bucket + "." + place.endpoint.substr(hostStart) + path;
}

bool storeUrl(const std::string& url, const StorePlace& place, std::string& urlRegion) {
    const std::string origin = originOf(url);
    if (origin.empty()) return false;
    const std::size_t hostStart = origin.find("://") + 3;
    if (place.endpoint.empty()) {
        const std::string host = origin.substr(hostStart, origin.rfind(':') - hostStart);
        return awsRegion(host, urlRegion);
    }
    const std::string endpoint = originOf(place.endpoint);
    if (origin == endpoint) return true;
    const std::string virtualEnd = "." + endpoint.substr(hostStart);
    return origin.compare(0, hostStart, endpoint, 0, hostStart) == 0 && origin.size() > virtualEnd.size() &&
           origin.compare(origin.size() - virtualEnd.size(), virtualEnd.size(), virtualEnd) == 0;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
