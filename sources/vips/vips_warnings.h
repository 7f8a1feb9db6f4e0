#pragma once
// What libvips (and the decoders under it: libpng, libjpeg, libtiff, libheif...) logs while a picture
// is read. A warning refuses nothing: the messages logged while an operation runs are collected; if
// the operation fails they belong to its error line, and if it succeeds they are passed on, once, as
// the picture's warnings. Only the failure of an operation (a libvips error) refuses a picture, or a
// tile.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vips {
class VImage;
}

namespace zelvan {
namespace sources {
namespace detail {

// libvips' lines ("VipsForeignLoad: \"x.png\" is not a known file format\n...") as one, without
// repeats or trailing spaces.
std::string oneLine(const std::string& text);

// Installs the handler of libvips' log domain, which hands each warning to the collector it belongs to
// and drops it when there is none. Called once, by startVips.
void catchVipsMessages();

// What the handler does with one message logged at `level` (GLib's GLogLevelFlags) on this thread.
void keepMessage(const char* domain, int level, const char* message, void* data);

// Collects what libvips logs from its construction to its destruction on this thread (the innermost
// collector of a thread has it) and, with `workers`, on threads that have no collector of their own:
// libvips' worker threads, which run a save or a sum over the picture for the thread that asked. Those
// threads' messages are kept only while a single collector has `workers` (otherwise they could be any
// picture's): reads that can, a remote tile's decoding say, compute their pixels on their own thread.
// Messages of no use to anyone are left out: libvips' count of them ("read gave 2 warnings"), its
// note of a failed tile (the failure says it), libtiff's word on tags it has no name for. What a
// collector within another on the same thread has not had taken goes to the outer one at its end.
class WarningCollector {
public:
    explicit WarningCollector(bool workers = false);
    ~WarningCollector();
    WarningCollector(const WarningCollector&) = delete;
    WarningCollector& operator=(const WarningCollector&) = delete;

    // The messages so far, one line each, without repeats; then none.
    std::vector<std::string> take();

private:
    friend void keepMessage(const char*, int, const char*, void*);
    std::vector<std::string> messages_;  // guarded by the handler's mutex
    WarningCollector* outer_;
    bool workers_;
};

// `image` as it is, its pixels computed with `collector` as the collector of whichever thread computes
// them: libvips' workers, running a save or a sum over it, then log to that picture's own, however
// many operations have workers at once. The collector must outlive every computation of the result.
// Throws vips::VError when libvips cannot make it.
vips::VImage collectedBy(const vips::VImage& image, WarningCollector& collector);

// Where a picture's warnings go: each as "<name>: <message>", each line once in the process, to the
// handler the options gave (on the thread that read) or else to stderr. Thread-safe.
class WarningSink {
public:
    WarningSink(std::string name, std::function<void(const std::string&)> handler);
    const std::string& name() const { return name_; }
    void tell(const std::vector<std::string>& messages);

private:
    std::string name_;
    std::function<void(const std::string&)> handler_;
};

using Warnings = std::shared_ptr<WarningSink>;

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
