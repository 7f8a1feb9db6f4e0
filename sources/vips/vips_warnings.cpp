#include "vips_warnings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>
#include <vips/vips8>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

// Guards every collector's messages and the list of collectors for worker threads.
std::mutex collectorsMutex;
std::vector<WarningCollector*> forWorkers;  // those made with `workers`
thread_local WarningCollector* threadCollector = nullptr;

// Lines told already, in this process; past this many no more are kept, nor told.
constexpr std::size_t kMostTold = 4096;
std::mutex toldMutex;

bool ofNoUse(const char* message) {
    return std::strstr(message, "Unknown field with tag") != nullptr ||  // GeoTIFF's, a scanner's own
           std::strncmp(message, "read gave ", 10) == 0 ||               // "read gave 2 warnings"
           std::strncmp(message, "error in tile ", 14) == 0;             // the error says it better
}

void handleMessage(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    keepMessage(domain, int(level), message, data);
}

}  // namespace

// Every message libvips logs goes through here, on whichever thread logs it.
void keepMessage(const char*, int level, const char* message, void*) {
    if (!(level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) || message == nullptr ||
        ofNoUse(message))
        return;
    const std::string line = oneLine(message);
    if (line.empty()) return;
    try {
        const std::lock_guard<std::mutex> lock(collectorsMutex);
        WarningCollector* collector = threadCollector;
        // libvips' workers log for whichever operation they run: theirs is known only while one
        // operation has workers. With two, a message might be either's, and is dropped rather than
        // told as the wrong picture's.
        if (collector == nullptr && forWorkers.size() == 1) collector = forWorkers.front();
        if (collector == nullptr) return;
        std::vector<std::string>& messages = collector->messages_;
        if (std::find(messages.begin(), messages.end(), line) == messages.end()) messages.push_back(line);
    } catch (...) {  // out of memory: the message is lost, nothing else
    }
}

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

void catchVipsMessages() {
    g_log_set_handler("VIPS", GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
                      handleMessage, nullptr);
}

WarningCollector::WarningCollector(bool workers) : outer_(threadCollector), workers_(workers) {
    const std::lock_guard<std::mutex> lock(collectorsMutex);
    if (workers_) forWorkers.push_back(this);
    threadCollector = this;
}

WarningCollector::~WarningCollector() {
    const std::lock_guard<std::mutex> lock(collectorsMutex);
    if (workers_) forWorkers.erase(std::find(forWorkers.begin(), forWorkers.end(), this));
    threadCollector = outer_;
    // What was not taken belongs to the operation this one ran within.
    if (outer_ != nullptr)
        for (std::string& message : messages_)
            if (std::find(outer_->messages_.begin(), outer_->messages_.end(), message) ==
                outer_->messages_.end())
                try {
                    outer_->messages_.push_back(std::move(message));
                } catch (...) {
                }
}

std::vector<std::string> WarningCollector::take() {
    const std::lock_guard<std::mutex> lock(collectorsMutex);
    std::vector<std::string> taken;
    taken.swap(messages_);
    return taken;
}

// One worker's region of the image collected from, and the collector its computations log to.
struct CollectingRegion {
    static void* start(VipsImage*, void* in, void*) { return vips_region_new(static_cast<VipsImage*>(in)); }
    static int stop(void* region, void*, void*) {
        g_object_unref(region);
        return 0;
    }
    // The pixels asked for, taken from the image below while this thread's messages go to `collector`.
    static int generate(VipsRegion* out, void* region, void*, void* collector, gboolean*) {
        WarningCollector* const outer = threadCollector;
        threadCollector = static_cast<WarningCollector*>(collector);
        auto* in = static_cast<VipsRegion*>(region);
        const int result =
            vips_region_prepare(in, &out->valid) != 0 ||
                    vips_region_region(out, in, &out->valid, out->valid.left, out->valid.top) != 0
                ? -1
                : 0;
        threadCollector = outer;
        return result;
    }
};

vips::VImage collectedBy(const vips::VImage& image, WarningCollector& collector) {
    VipsImage* in = image.get_image();
    vips::VImage result(vips_image_new());
    VipsImage* out = result.get_image();
    if (vips_image_pipelinev(out, VIPS_DEMAND_STYLE_THINSTRIP, in, nullptr) != 0 ||
        vips_image_generate(out, CollectingRegion::start, CollectingRegion::generate, CollectingRegion::stop,
                            in, &collector) != 0)
        throw vips::VError();
    // The image below lives as long as this one reads it.
    g_object_ref(in);
    g_signal_connect_swapped(out, "close", G_CALLBACK(g_object_unref), in);
    return result;
}

WarningSink::WarningSink(std::string name, std::function<void(const std::string&)> handler)
    : name_(std::move(name)), handler_(std::move(handler)) {}

void WarningSink::tell(const std::vector<std::string>& messages) {
    static std::set<std::string> told;
    for (const std::string& message : messages) {
        try {
            const std::string line = name_ + ": " + message;
            const std::lock_guard<std::mutex> lock(toldMutex);  // one call at a time, as the options promise
            if (told.size() >= kMostTold || !told.insert(line).second) continue;
            if (handler_)
                handler_(line);
            else
                std::fprintf(stderr, "zelvan: warning: %s\n", line.c_str());
        } catch (...) {  // a handler that throws, or no memory for the line: the warning is lost
        }
    }
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
