#pragma once
// A file that appears under its name only when complete: written to a temporary file beside it,
// then renamed. Until commit() the name is untouched; a failure leaves nothing behind.
#include <cstdio>
#include <string>

namespace zelvan_demo {

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
    std::string path_, temporary_;
    std::FILE* stream_ = nullptr;
};

}  // namespace zelvan_demo
