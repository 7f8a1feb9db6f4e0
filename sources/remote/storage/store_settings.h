#pragma once
// An object store's settings as the AWS tools find them: OpenOptions::ObjectStorage first, then the
// environment, then the profile in the shared files. Keys stay in these structures and in requests'
// signing: nothing here writes them anywhere.
#include <string>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// Where a store is and how its requests go, before any key is looked for.
struct StorePlace {
    std::string endpoint;           // scheme and host (and port), no trailing "/"; empty: AWS's own
    std::string region;             // empty until resolveRegion
    bool pathStyle = true;          // for a custom endpoint
    bool unsignedRequests = false;  // ObjectStorage::unsignedRequests or AWS_NO_SIGN_REQUEST
};

struct StoreKey {
    std::string accessKeyId, secretAccessKey, sessionToken;  // an empty id: none found
};

// The endpoint (ObjectStorage::endpoint, AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL), the addressing style and
// whether requests go unsigned. False with the reason when the endpoint is no http or https URL with a
// host. Reads the environment only; any thread.
bool findStorePlace(const OpenOptions::ObjectStorage& options, StorePlace& place, std::string& error);

// Sets place.region: ObjectStorage::region, else `urlRegion` (what an AWS host name says), else
// AWS_REGION, AWS_DEFAULT_REGION, the profile's region in the config file, else us-east-1. False with
// the reason when a shared file cannot be read or the region is no region's name (letters, digits and
// "-"). Reads the config file when it gets that far; any thread.
bool resolveRegion(const OpenOptions::ObjectStorage& options, const std::string& urlRegion, StorePlace& place,
                   std::string& error);

// The key, secret and token, together from one place: the options when they name a key or a secret
// (both needed), else AWS_ACCESS_KEY_ID with AWS_SECRET_ACCESS_KEY (and AWS_SESSION_TOKEN), else the
// profile (ObjectStorage::profile, AWS_PROFILE, else "default"): its section in the credentials file
// (AWS_SHARED_CREDENTIALS_FILE, else ~/.aws/credentials), else its section in the config file
// (AWS_CONFIG_FILE, else ~/.aws/config: "[profile NAME]", or "[default]"). None found leaves `key`
// empty. False with the reason (never a key) when a file cannot be read, a key comes without its
// secret, or a profile named by the options or AWS_PROFILE is in neither file. Any thread.
bool findStoreKey(const OpenOptions::ObjectStorage& options, StoreKey& key, std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
