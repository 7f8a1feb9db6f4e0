#pragma once
// Pictures as the demo programs stream them: rows of blue-green-red-alpha, band by band, top to
// bottom, so that a picture far larger than memory can still be shown. Picture files come through
// Zelvan::sources (zelvan_sources_bands.hpp); the built-in pictures are made as they are read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "zelvan_sources_bands.hpp"

namespace zelvan_demo {

// A picture decoded top to bottom, band by band.
class BandSource {
public:
    virtual ~BandSource() = default;
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    // Decodes the next `rows` rows (fewer only at the bottom: returns how many) into dst, rows pitch
    // bytes apart (pitch >= width * 4). Throws DemoError with one clear line for damaged, truncated
    // or unsupported data.
    virtual std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) = 0;
};

// A picture file's band reader as a BandSource.
std::unique_ptr<BandSource> bandSource(std::unique_ptr<zelvan::sources::BandReader> reader);

// Opens a picture file to be read top to bottom, as `options` say. Throws DemoError with the one
// line Zelvan::sources gives for a file that cannot be opened.
std::unique_ptr<BandSource> openBandSource(const std::string& path,
                                           const zelvan::sources::OpenOptions& options = {});

// Bytes of memory this process may use at most: the machine's physical memory, lowered by an
// address-space limit if one is set.
std::uint64_t memoryLimitBytes();

}  // namespace zelvan_demo
