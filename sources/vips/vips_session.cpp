#include "vips_session.h"

#include <algorithm>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <vips/vips8>

#include "vips_warnings.h"

namespace zelvan {
namespace sources {
namespace detail {

void startVips() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        catchVipsMessages();
        if (VIPS_INIT("zelvan")) {
            failure = oneLine(vips_error_buffer());
            vips_error_clear();
            if (failure.empty()) failure = "unknown reason";
            return;
        }
        // Each picture is read once, top to bottom or tile by tile: caching operations buys nothing
        // and would hand a second sequential read the first one's spent decoder.
        vips_cache_set_max(0);
        vips_cache_set_max_mem(16u << 20);
        vips_cache_set_max_files(8);
        // ImageMagick's loader reads a little of everything, slowly, and takes files the real
        // loaders refuse (a truncated TIFF) only to fail on them with a less useful reason.
        vips_operation_block_set("VipsForeignLoadMagick", TRUE);
    });
    if (!failure.empty()) throw std::runtime_error("cannot start libvips: " + failure);
}

std::string takeVipsErrors() {
    const std::string text = vips_error_buffer();
    vips_error_clear();
    return oneLine(text);
}

std::vector<std::string> withDecoderNotes(std::vector<std::string> warnings) {
    std::istringstream lines(vips_error_buffer());
    vips_error_clear();
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("VipsJpeg: ", 0) == 0 &&
            std::find(warnings.begin(), warnings.end(), line) == warnings.end())
            warnings.push_back(line);
    return warnings;
}

std::string vipsReason(const vips::VError& error, const std::vector<std::string>& warnings) {
    std::string text = error.what() + std::string("\n") + vips_error_buffer();
    vips_error_clear();
    for (const std::string& warning : warnings) text += "\n" + warning;
    const std::string reason = oneLine(text);
    return reason.empty() ? "libvips cannot read it" : reason;
}

void failWithVips(const std::string& name, const vips::VError& error,
                  const std::vector<std::string>& warnings) {
    throw std::runtime_error(name + ": " + vipsReason(error, warnings));
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
