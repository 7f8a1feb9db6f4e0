#pragma once
// An object's URLs: what an s3:// URL names and the endpoint's URL it becomes, and whether an http(s)
// URL is an object store's.
#include <string>

#include "store_settings.h"

namespace zelvan {
namespace sources {
namespace detail {

// Whether `url`'s scheme is s3 (in any case).
bool isS3Url(const std::string& url);

// s3://BUCKET/KEY split: false with the reason for a bucket name that is empty, longer than 255 bytes or
// of other than letters, digits, ".", "-" and "_", or an empty key. Any thread; cost: the URL's length.
bool splitS3Url(const std::string& url, std::string& bucket, std::string& key, std::string& error);

// The URL of `key` in `bucket` at `place` (its region resolved): at a custom endpoint path style
// (ENDPOINT/BUCKET/KEY) or, with pathStyle off, virtual-host style (BUCKET.HOST/KEY); at AWS's own
// https://BUCKET.s3.REGION.amazonaws.com/KEY, path style for a bucket name that cannot be a host's
// label. The key's bytes other than letters, digits, "-._~" and "/" are percent-encoded: a key is
// taken as written, "%" included.
std::string objectUrl(const StorePlace& place, const std::string& bucket, const std::string& key);

// Whether the http(s) `url` is an object store's: at the custom endpoint (path style, or a bucket's
// name before its host) or, without one, at an AWS S3 host name (s3.REGION.amazonaws.com,
// BUCKET.s3.REGION.amazonaws.com, s3-REGION..., s3.amazonaws.com), whose region goes to `urlRegion`.
bool storeUrl(const std::string& url, const StorePlace& place, std::string& urlRegion);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
