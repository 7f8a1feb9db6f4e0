#pragma once
// Pictures on servers, fetched over http and https.
#include <memory>
#include <string>

#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
namespace detail {

// Opens the picture at `address` (http or https, or s3:// for an object store: any other scheme is
// refused); null with the reason in `error` (one line naming the URL) when it cannot be opened.
std::unique_ptr<PictureSource> openRemote(const std::string& address, const OpenOptions& options,
                                          std::string& error);

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
