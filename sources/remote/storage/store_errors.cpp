// The document is <Error><Code>...</Code><Message>...</Message>...</Error>. Only the code is taken: the
// message and the rest may repeat the request, its key id and what was signed, which stay out of lines.
#include "store_errors.h"

#include <expat.h>

#include <cstring>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

constexpr std::size_t kMaxDocumentBytes = 64 * 1024;
constexpr std::size_t kMaxCodeBytes = 64;

struct CodeReader {
    XML_Parser parser = nullptr;
    unsigned depth = 0;
    bool inCode = false, rootIsError = false;
    std::string code;
};

void XMLCALL onStart(void* user, const XML_Char* name, const XML_Char**) {
    CodeReader& r = *static_cast<CodeReader*>(user);
    ++r.depth;
    if (r.depth == 1) r.rootIsError = std::strcmp(name, "Error") == 0;
    r.inCode = r.depth == 2 && r.rootIsError && std::strcmp(name, "Code") == 0;
}

void XMLCALL onEnd(void* user, const XML_Char*) {
    CodeReader& r = *static_cast<CodeReader*>(user);
    --r.depth;
    r.inCode = false;
}

void XMLCALL onText(void* user, const XML_Char* text, int length) {
    CodeReader& r = *static_cast<CodeReader*>(user);
    if (!r.inCode) return;
    for (int i = 0; i < length; ++i) {
        const char c = text[i];
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
        if (!plain || r.code.size() >= kMaxCodeBytes) return (void)XML_StopParser(r.parser, XML_FALSE);
        r.code += c;
    }
}

// No entity may expand: a document type declaration stops the reading.
void XMLCALL onDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    CodeReader& r = *static_cast<CodeReader*>(user);
    r.code.clear();
    XML_StopParser(r.parser, XML_FALSE);
}

std::string errorCode(const std::vector<unsigned char>& body) {
    if (body.empty() || body.size() > kMaxDocumentBytes) return {};
    CodeReader reader;
    reader.parser = XML_ParserCreate(nullptr);
    if (!reader.parser) return {};
    XML_SetUserData(reader.parser, &reader);
    XML_SetElementHandler(reader.parser, &onStart, &onEnd);
    XML_SetCharacterDataHandler(reader.parser, &onText);
    XML_SetStartDoctypeDeclHandler(reader.parser, &onDoctype);
    const bool whole = XML_Parse(reader.parser, reinterpret_cast<const char*>(body.data()),
                                 static_cast<int>(body.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(reader.parser);
    return whole ? reader.code : std::string();
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
