// The document is <Error><Code>...</Code><Message>...</Message>...</Error>. Only the code is taken: the
// message and the rest may repeat the request, its key id and what was signed, which stay out of lines.
#include "store_errors.h"

#include "parsers/format_xml.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxDocumentBytes = 64 * 1024;
constexpr std::size_t kMaxCodeBytes = 64;

// The <Code> of an <Error> document; empty for any other body, or a code of other than letters, digits
// and dots (which no store sends, and which could carry what a line must not).
std::string errorCode(const std::vector<unsigned char>& body) {
    if (body.empty() || body.size() > kMaxDocumentBytes) return {};
    XmlLimits limits;
    limits.maxBytes = kMaxDocumentBytes;
    limits.maxDepth = 4;
    limits.maxElements = 64;
    XmlElement root;
    std::string error;
    if (!parseXml(std::string(body.begin(), body.end()), root, error, limits) || root.name != "Error")
        return {};
    const XmlElement* code = root.child("Code");
    if (code == nullptr || code->text.size() > kMaxCodeBytes) return {};
    for (const char c : code->text) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
        if (!plain) return {};
    }
    return code->text;
}

}  // namespace

std::string explainStoreFailure(long status, const std::vector<unsigned char>& body, bool signedRequest) {
    try {
        std::string code = errorCode(body);
        if (code.empty() && status == 403) code = "AccessDenied";
        if (code == "AccessDenied")
            return signedRequest ? "access denied by the store (check the key and secret, and that they may "
                                   "read this object)"
                                 : "access denied by the store to an unsigned request (no key was found, or "
                                   "unsigned requests were asked for)";
        if (code == "SignatureDoesNotMatch")
            return "the store refused the request's signature (check the secret access key)";
        if (code == "InvalidAccessKeyId") return "the store knows no such access key id (check the key id)";
        if (code == "ExpiredToken" || code == "InvalidToken" || code == "TokenRefreshRequired")
            return "the store refused the session token (" + code + ": expired or not valid)";
        if (code == "AuthorizationHeaderMalformed" || code == "PermanentRedirect")
            return "the bucket is in another region (" + code + ": set the region)";
        if (code == "NoSuchKey") return "no such object in the bucket (NoSuchKey)";
        if (code == "NoSuchBucket") return "no such bucket (NoSuchBucket)";
        if (code == "SlowDown")
            return "the store asked to slow down, and still did after the retries (SlowDown)";
        return code.empty() ? std::string() : "HTTP " + std::to_string(status) + " (" + code + ")";
    } catch (...) {  // std::bad_alloc: the status alone
        return {};
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
