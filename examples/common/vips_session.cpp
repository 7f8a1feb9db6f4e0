#include "vips_session.h"

#include <cstring>
#include <mutex>
#include <sstream>
#include <vips/vips8>

#include "program.h"
#include "vips_picture.h"

namespace zelvan_demo {

namespace {

std::mutex warningMutex;
std::string firstWarning;  // since the last check; later ones are usually its consequences

// Every message GLib would print for libvips (or for GLib itself on its behalf) is kept instead:
// warnings fail the read that caused them, the rest is of no use to the user.
// Exempt: libtiff's word on tags it has no name for (GeoTIFF's, a scanner's own), which leave the
// pixels as they are; failing on it would refuse every cloud-optimised GeoTIFF.
void keepMessage(const gchar*, GLogLevelFlags level, const gchar* message, gpointer) {
    if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))) return;
    if (message && std::strstr(message, "Unknown field with tag")) return;
    std::lock_guard<std::mutex> lock(warningMutex);
    if (firstWarning.empty() && message) firstWarning = message;
}

// libvips' lines ("VipsForeignLoad: \"x.png\" is not a known file format\n...") as one, without
// repeats or the trailing newline.
std::string oneLine(const std::string& text) {
    std::istringstream lines(text);
    std::string line, joined;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.empty() || joined.find(line) != std::string::npos) continue;
        if (!joined.empty()) joined += "; ";
        joined += line;
    }
    return joined;
}

}  // namespace

void startVips() {
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        g_log_set_default_handler(keepMessage, nullptr);
        for (const char* domain : {"VIPS", "GLib", "GLib-GObject", "GLib-GIO"})
            g_log_set_handler(domain,
                              GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                              keepMessage, nullptr);
        if (VIPS_INIT("zelvan")) {
            failure = oneLine(vips_error_buffer());
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
    if (!failure.empty()) throw DemoError("cannot start libvips: " + failure);
}

bool takeVipsWarning(std::string& warning) {
    std::lock_guard<std::mutex> lock(warningMutex);
    if (firstWarning.empty()) return false;
    warning = oneLine(firstWarning);
    firstWarning.clear();
    return true;
}

// The error buffer and the warning, as libvips wrote them, then cleared.
std::string takeReasonLines() {
    std::string reason = vips_error_buffer();
    vips_error_clear();
    std::string warning;
    if (takeVipsWarning(warning)) reason += "\n" + warning;
    return reason;
}

std::string takeVipsReason() { return oneLine(takeReasonLines()); }

void failWithVips(const std::string& name, const vips::VError& error) {
    const std::string reason = oneLine(error.what() + std::string("\n") + takeReasonLines());
    throw DemoError(name + ": " + (reason.empty() ? "libvips cannot read it" : reason));
}

void checkVipsWarnings(const std::string& name) {
    std::string warning;
    if (takeVipsWarning(warning)) throw DemoError(name + ": " + warning);
}

}  // namespace zelvan_demo
