#pragma once
// An object store's refusals in words: the code of its XML error document (read by ../../parsers) made into
// one line that says what to check, naming no key.
#include <string>
#include <vector>

namespace zelvan {
namespace sources {
namespace detail {

// The line for a failed answer of `status` whose body is `body` (AccessDenied, SignatureDoesNotMatch,
// InvalidAccessKeyId, an expired or invalid token, NoSuchKey, NoSuchBucket, SlowDown, a region's
// mismatch; a 403 without a document is taken as AccessDenied); another code as "HTTP <status>
// (<code>)"; empty when the body is no such document. A FailureExplainer: never throws, any thread,
// parses at most 64 KiB.
std::string explainStoreFailure(long status, const std::vector<unsigned char>& body, bool signedRequest);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
