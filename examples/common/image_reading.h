#pragma once
// Picture files read as the library wants them, as rows of blue-green-red-alpha, through libvips
// (vips_picture.h): any format it reads, upright, in sRGB. They are read band by band, top to
// bottom, so that a picture far larger than memory can still be shown: only the rows asked for,
// and what the format makes its decoder hold, are ever in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvan_demo {

struct DisplayRange;

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

// Opens a picture file with libvips and reads its header; its samples shown over `range`. Throws
// DemoError with a one-line message for a file that cannot be opened, is no picture libvips reads,
// has an unusable header or rows too wide for the library.
std::unique_ptr<BandSource> openBandSource(const std::string& path);
std::unique_ptr<BandSource> openBandSource(const std::string& path, const DisplayRange& range);

// Throws DemoError (naming `name`) unless rows of `width` pixels fit the library's 32-bit pitch.
void checkRowsFit(std::uint32_t width, std::uint32_t height, const std::string& name);

// Bytes of memory this process may use at most: the machine's physical memory, lowered by an
// address-space limit if one is set.
std::uint64_t memoryLimitBytes();

}  // namespace zelvan_demo
