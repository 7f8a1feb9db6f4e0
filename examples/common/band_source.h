#pragma once
// Pictures read band by band, so that an image far larger than memory can still be shown: only the
// rows asked for (and whatever the file format makes the decoder hold) are ever in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvan_demo {

// A picture decoded top to bottom, band by band, as blue-green-red-alpha rows; never the whole
// picture in memory.
class BandSource {
public:
    virtual ~BandSource() = default;
    virtual std::uint32_t width() const = 0;
    virtual std::uint32_t height() const = 0;
    // Decodes the next `rows` rows (fewer only at the bottom: returns how many) into dst, rows pitch
    // bytes apart. Throws DemoError with one clear line for damaged/truncated/unsupported data.
    virtual std::uint32_t readRows(std::uint8_t* dst, std::size_t pitch, std::uint32_t rows) = 0;
};

// Opens a PNG, JPEG or TIFF file, told apart by its first bytes. Throws DemoError with a one-line
// message for a file that cannot be opened, is none of these or has an unusable header.
std::unique_ptr<BandSource> openBandSource(const std::string& path);

}  // namespace zelvan_demo
