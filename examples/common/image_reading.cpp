#include "image_reading.h"

#include <sys/resource.h>
#include <unistd.h>

#include <limits>

#include "program.h"

namespace zelvan_demo {

namespace {

class ReaderBands final : public BandSource {
public:
    explicit ReaderBands(std::unique_ptr<zelvan::sources::BandReader> reader) : reader_(std::move(reader)) {}
    std::uint32_t width() const override { return reader_->info().width; }
    std::uint32_t height() const override { return reader_->info().height; }
    std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) override {
        const std::uint32_t read = reader_->readRows(dst, pitch, rows);
        if (read < rows && !reader_->error().empty()) throw DemoError(reader_->error());
        return read;
    }

private:
    std::unique_ptr<zelvan::sources::BandReader> reader_;
};

}  // namespace

std::unique_ptr<BandSource> bandSource(std::unique_ptr<zelvan::sources::BandReader> reader) {
    return std::make_unique<ReaderBands>(std::move(reader));
}

std::unique_ptr<BandSource> openBandSource(const std::string& path,
                                           const zelvan::sources::OpenOptions& options) {
    zelvan::sources::OpenedBands opened = zelvan::sources::openBands(path, options);
    if (!opened) throw DemoError(opened.error);
    return bandSource(std::move(opened.reader));
}

std::uint64_t memoryLimitBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
    std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    if (pages > 0 && pageSize > 0) limit = std::uint64_t(pages) * std::uint64_t(pageSize);
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY &&
        addressSpace.rlim_cur < limit)
        limit = addressSpace.rlim_cur;
    return limit;
}

}  // namespace zelvan_demo
