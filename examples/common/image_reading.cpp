#include "image_reading.h"

#include <sys/resource.h>
#include <unistd.h>

#include <limits>

#include "program.h"

namespace zelvan_demo {

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

void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name) {
    // The library takes the distance between rows as a signed 32-bit byte count.
    if (std::uint64_t{width} * 4 > std::uint64_t(std::numeric_limits<std::int32_t>::max()))
        throw DemoError(name + ": a " + std::to_string(width) + " x " + std::to_string(height) +
                        " image is too wide (at most 536870911 pixels per row)");
}

}  // namespace zelvan_demo
