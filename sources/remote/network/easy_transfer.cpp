// One transfer's easy handle, on the loop thread: its options from the request, its body and headers as
// they come (each byte counting as activity, which is how a stall is told), and what it said when it
// ended. A signed request's redirects are left to the queue: libcurl would drop Authorization on the way
// to another host but send the session token's header there all the same.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fetcher_state.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    HttpFetcher::Transfer& t = *static_cast<HttpFetcher::Transfer*>(user);
    const std::size_t n = size * count;
    t.lastActivity = FetchClock::now();
    if (t.request.counters) t.request.counters->bytesFetched += n;
    if (t.response.body.size() + n > t.request.maxBytes) {
        t.tooLarge = true;
        return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
    try {
        t.response.body.insert(t.response.body.end(), data, data + n);
    } catch (...) {  // std::bad_alloc
        return 0;
    }
    return n;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
    static_cast<HttpFetcher::Transfer*>(user)->lastActivity = FetchClock::now();
    return size * count;
}

// AWS Signature Version 4 over the method, URL and these headers; the payload's hash is left out, as
// S3 allows, which libcurl signs only when the header says so.
void sign(HttpFetcher::Transfer& t, const StoreSigning& signing) {
    CURL* e = t.easy;
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    const std::string provider = "aws:amz:" + signing.region + ":s3";
    curl_easy_setopt(e, CURLOPT_AWS_SIGV4, provider.c_str());  // copied by libcurl, as the key
    curl_easy_setopt(e, CURLOPT_USERNAME, signing.accessKeyId.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, signing.secretAccessKey.c_str());
    std::vector<std::string> lines{"x-amz-content-sha256: UNSIGNED-PAYLOAD"};
    if (!signing.sessionToken.empty()) lines.push_back("x-amz-security-token: " + signing.sessionToken);
    for (const std::string& line : lines) {
        curl_slist* more = curl_slist_append(t.headers, line.c_str());
        if (more) t.headers = more;  // without it the store refuses the request, which says why
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);
}

void setOptions(HttpFetcher::Transfer& t) {
    CURL* e = t.easy;
    const long timeoutMs = static_cast<long>(std::max<std::int64_t>(1, t.request.timeout.count()));
    curl_easy_setopt(e, CURLOPT_URL, t.request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_UNRESTRICTED_AUTH, 0L);  // credentials stay with the first host
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    // Over https, wait to multiplex rather than open another connection. Plain http is HTTP/1.1 here,
    // which libcurl learns only from the first answer: waiting would hold a new host's other requests
    // back a round trip.
    curl_easy_setopt(e, CURLOPT_PIPEWAIT, t.request.url.compare(0, 8, "https://") == 0 ? 1L : 0L);
    // Compressed descriptors; never with ranges, whose offsets count the bytes as stored.
    if (t.request.rangeLength == 0) curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.request.maxBytes));
    curl_easy_setopt(e, CURLOPT_USERAGENT, "Zelvan");
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    if (t.request.certificates) {
        curl_blob blob{const_cast<char*>(t.request.certificates->data()), t.request.certificates->size(),
                       CURL_BLOB_NOCOPY};  // the request holds the text as long as the handle
        curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
    }
    if (t.request.signing) sign(t, *t.request.signing);
    if (t.request.rangeLength > 0) {
        const std::string range = std::to_string(t.request.rangeFirst) + "-" +
                                  std::to_string(t.request.rangeFirst + t.request.rangeLength - 1);
        curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());  // copied by libcurl
    }
}

// Cache-Control: no-store, in any of the header's lines; and with a range, the resource's length from
// Content-Range.
void readHeaders(HttpFetcher::Transfer& t) {
    HttpResponse& r = t.response;
    for (std::size_t i = 0;; ++i) {
        curl_header* header = nullptr;
        if (curl_easy_header(t.easy, "Cache-Control", i, CURLH_HEADER, -1, &header) != CURLHE_OK) break;
        if (lowerAscii(header->value).find("no-store") != std::string::npos) r.noStore = true;
        if (i + 1 >= header->amount) break;
    }
    if (t.request.rangeLength > 0) {
        curl_header* header = nullptr;
        if (curl_easy_header(t.easy, "Content-Range", 0, CURLH_HEADER, -1, &header) == CURLHE_OK) {
            const char* slash = std::strchr(header->value, '/');
            if (slash) r.totalLength = std::strtoull(slash + 1, nullptr, 10);
        }
    }
}

}  // namespace

bool HttpFetcher::Impl::begin(Transfer& t) {
    t.easy = curl_easy_init();
    if (!t.easy) return false;
    t.response = HttpResponse();
    t.tooLarge = false;
    t.errorText[0] = '\0';
    setOptions(t);
    if (curl_multi_add_handle(multi, t.easy) != CURLM_OK) {
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
        return false;
    }
    t.state = Transfer::State::Running;
    t.lastActivity = FetchClock::now();
    ++t.attempts;
    ++runningPerHost[t.host];
    if (t.request.counters) {
        if (t.attempts > 1 || t.redirects == 0) ++t.request.counters->requests;  // a redirect is one attempt
        ++t.request.counters->inFlight;
    }
    return true;
}

void HttpFetcher::Impl::release(Transfer& t) {
    if (!t.easy) return;
    long connects = 0;
    if (t.request.counters && curl_easy_getinfo(t.easy, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK)
        t.request.counters->connections += static_cast<std::uint64_t>(connects);
    curl_multi_remove_handle(multi, t.easy);
    curl_easy_cleanup(t.easy);
    t.easy = nullptr;
    curl_slist_free_all(t.headers);
    t.headers = nullptr;
    if (--runningPerHost[t.host] == 0) runningPerHost.erase(t.host);
    if (t.request.counters) --t.request.counters->inFlight;
}

void HttpFetcher::Impl::finish(const Handle& t, CURLcode code) {
    TransferResult result;
    result.code = code;
    curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_getinfo(t->easy, CURLINFO_RETRY_AFTER, &result.retryAfter);
    char* type = nullptr;
    curl_easy_getinfo(t->easy, CURLINFO_CONTENT_TYPE, &type);
    long version = 0;
    curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version);
    if (version == CURL_HTTP_VERSION_2_0)
        http2Hosts.insert(t->host);
    else if (version != 0)
        http2Hosts.erase(t->host);
    t->response.status = result.status;
    if (type) t->response.contentType = type;
    readHeaders(*t);
    char* location = nullptr;
    if (t->request.signing && curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
        location)
        result.location = location;
    result.detail = t->errorText[0] ? std::string(t->errorText) : curl_easy_strerror(code);
    release(*t);
    settle(t, result);
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
