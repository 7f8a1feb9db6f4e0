// The AWS tools' order, one setting at a time; the shared files are read only when a setting gets that
// far, so that a store named fully by the options or the environment needs no file.
#include "store_settings.h"

#include <cstdlib>

#include "remote/network/http_fetcher.h"
#include "shared_files.h"

namespace zelvan {
namespace sources {
namespace detail {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string homeFile(const char* variable, const char* name) {
    std::string path = environment(variable);
    if (!path.empty()) return path;
    std::string home = environment("HOME");
    if (home.empty()) home = environment("USERPROFILE");
    return home.empty() ? std::string() : home + "/.aws/" + name;
}

std::string profileName(const OpenOptions::ObjectStorage& options, bool& named) {
    std::string name = options.profile.empty() ? environment("AWS_PROFILE") : options.profile;
    named = !name.empty();
    return named ? name : "default";
}

// The profile's settings in one of the shared files; empty when the file or the section is missing.
bool profileSettings(bool config, const std::string& profile, std::map<std::string, std::string>& settings,
                     std::string& error) {
    const std::string path = config ? homeFile("AWS_CONFIG_FILE", "config")
                                    : homeFile("AWS_SHARED_CREDENTIALS_FILE", "credentials");
    IniSections sections;
    if (!path.empty() && !readSharedFile(path, sections, error)) return false;
    const std::string section = config && profile != "default" ? "profile " + profile : profile;
    const auto found = sections.find(section);
    settings.clear();
    if (found != sections.end()) settings = found->second;
    return true;
}

std::string setting(const std::map<std::string, std::string>& settings, const std::string& key) {
    const auto found = settings.find(key);
    return found == settings.end() ? std::string() : found->second;
}

bool regionName(const std::string& region) {
    if (region.empty() || region.size() > 64) return false;
    for (char c : region)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

}  // namespace

bool findStorePlace(const OpenOptions::ObjectStorage& options, StorePlace& place, std::string& error) {
    place = StorePlace();
    place.endpoint = options.endpoint;
    for (const char* variable : {"AWS_ENDPOINT_URL_S3", "AWS_ENDPOINT_URL"})
        if (place.endpoint.empty()) place.endpoint = environment(variable);
    while (!place.endpoint.empty() && place.endpoint.back() == '/') place.endpoint.pop_back();
    std::string why;
    if (!place.endpoint.empty() && !httpUrl(place.endpoint, why)) {
        error = "the object store's endpoint " + place.endpoint + ": " + why;
        return false;
    }
    place.pathStyle = options.pathStyle;
    const std::string noSign = lowered(environment("AWS_NO_SIGN_REQUEST"));
    place.unsignedRequests = options.unsignedRequests || noSign == "true" || noSign == "yes" || noSign == "1";
    return true;
}

bool resolveRegion(const OpenOptions::ObjectStorage& options, const std::string& urlRegion, StorePlace& place,
                   std::string& error) {
    place.region = options.region.empty() ? urlRegion : options.region;
    for (const char* variable : {"AWS_REGION", "AWS_DEFAULT_REGION"})
        if (place.region.empty()) place.region = environment(variable);
    if (place.region.empty()) {
        bool named = false;
        std::map<std::string, std::string> settings;
        if (!profileSettings(true, profileName(options, named), settings, error)) return false;
        place.region = setting(settings, "region");
    }
    if (place.region.empty()) place.region = "us-east-1";
    if (!regionName(place.region)) {
        error = "\"" + place.region + "\" is no region's name";
        return false;
    }
    return true;
}

bool findStoreKey(const OpenOptions::ObjectStorage& options, StoreKey& key, std::string& error) {
    key = StoreKey();
    if (!options.accessKeyId.empty() || !options.secretAccessKey.empty()) {
        key = StoreKey{options.accessKeyId, options.secretAccessKey, options.sessionToken};
    } else if (!environment("AWS_ACCESS_KEY_ID").empty() || !environment("AWS_SECRET_ACCESS_KEY").empty()) {
        key = StoreKey{environment("AWS_ACCESS_KEY_ID"), environment("AWS_SECRET_ACCESS_KEY"),
                       environment("AWS_SESSION_TOKEN")};
    } else {
        bool named = false;
        const std::string profile = profileName(options, named);
        std::map<std::string, std::string> settings;
        bool found = false;
        for (bool config : {false, true}) {
            if (!profileSettings(config, profile, settings, error)) return false;
            found = found || !settings.empty();
            key = StoreKey{setting(settings, "aws_access_key_id"), setting(settings, "aws_secret_access_key"),
                           setting(settings, "aws_session_token")};
            if (!key.accessKeyId.empty() || !key.secretAccessKey.empty()) break;
        }
        if (named && !found) {
            error = "the profile \"" + profile + "\" is in neither AWS shared file";
            return false;
        }
    }
    if (key.accessKeyId.empty() != key.secretAccessKey.empty()) {
        error = key.accessKeyId.empty() ? "a secret access key without its key id"
                                        : "an access key id without its secret";
        key = StoreKey();
        return false;
    }
    return true;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
