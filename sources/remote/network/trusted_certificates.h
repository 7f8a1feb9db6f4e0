#pragma once
// The certificate authorities a picture's https requests trust: the system's, and those of a PEM file of
// the user's own (a private server's), joined into one text that every request hands to libcurl.
#include <memory>
#include <string>

namespace zelvan {
namespace sources {
namespace detail {

// With `file` empty, `bundle` stays null: libcurl's own defaults, the system's authorities. Otherwise
// the system's bundle followed by the file's certificates; false, with the reason in one line, when the
// file cannot be read or holds no certificate.
bool trustedCertificates(const std::string& file, std::shared_ptr<const std::string>& bundle,
                         std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
