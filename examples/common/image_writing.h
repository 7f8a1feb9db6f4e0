#pragma once
// Pictures written to files: an RGB PNG, into a file that appears under its name only when
// complete.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zelvan_demo {

// An RGB picture, 3 bytes per pixel, top row first.
struct RgbPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> rgb;
};

// Encodes the picture as an 8-bit RGB PNG into `file`; throws DemoError naming `name` on failure.
void writePng(std::FILE* file, const RgbPicture& picture, const std::string& name);

// Written to a file without a name (or, where the file system has none, a temporary one beside the
// path), then named: until commit() the path is untouched, and a failure or a stopping signal leaves
// nothing behind.
class OutputFile {
public:
    // Creates the temporary file at once, so an unwritable path fails before any real work.
    // Throws DemoError when the directory cannot take it or the path is a directory.
    explicit OutputFile(std::string path);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() { return stream_; }
    const std::string& path() const { return path_; }
    // Flushes, closes and renames into place; throws DemoError if any of these fails.
    void commit();

private:
    std::string path_, temporary_;  // temporary_: the named file, if any
    std::FILE* stream_ = nullptr;
};

}  // namespace zelvan_demo
