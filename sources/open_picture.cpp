// One call for a path or a URL: a URL (anything with a scheme) goes to the remote room, which takes only
// http, https and s3; a directory holding a Zarr store to zarr/; everything else is a path for libvips.
#include <exception>
#include <new>
#include <string>

#include "disk/disk_opening.h"
#include "remote/remote_opening.h"
#include "zarr/zarr_opening.h"
#include "zelvan_sources.hpp"

namespace zelvan {
namespace sources {
Opened open(const std::string& pathOrUrl, const OpenOptions& options) {
    Opened opened;
    try {
        if (pathOrUrl.empty()) {
            opened.error = "no picture named";
        } else if (isUrl(pathOrUrl)) {
#ifdef ZELVAN_SOURCES_REMOTE
            opened.source = detail::openRemote(pathOrUrl, options, opened.error);
#else
            opened.error =
                pathOrUrl + ": this build of Zelvan's sources reads no URLs (it was built without libcurl)";
#endif
#ifdef ZELVAN_SOURCES_ZARR
        } else if (detail::isZarrDirectory(pathOrUrl)) {
            opened.source = detail::openZarrDirectory(pathOrUrl, options, opened.error);
#endif
        } else {
            opened.source = detail::openDisk(pathOrUrl, options, opened.error);
        }
    } catch (const std::bad_alloc&) {
        opened.source.reset();
        opened.error = pathOrUrl + ": out of memory";
    } catch (const std::exception& error) {
        opened.source.reset();
        opened.error = pathOrUrl + ": " + error.what();
    } catch (...) {
        opened.source.reset();
        opened.error = pathOrUrl + ": cannot be opened";
    }
    if (!opened.source && opened.error.empty()) opened.error = pathOrUrl + ": cannot be opened";
    return opened;
}

}  // namespace sources
}  // namespace zelvan
