#pragma once
// What a contact sheet shows: the pictures named, a folder standing for the pictures in it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvan_demo {

struct SheetEntry {
    std::string path;  // a file, an OME-Zarr store or a URL
    // Found in a folder: already known to be a picture. One named on the command line keeps its cell even
    // when it cannot be read.
    bool fromFolder = false;
    // Its size from its header, for a picture file; 0 x 0 for a URL, a store, or a file whose header
    // cannot be read.
    std::uint32_t width = 0, height = 0;
};

// `inputs` in order, each folder replaced by its pictures in name order (byte order of the names, hidden
// entries left out, no descent into subfolders); a folder's entries that are no picture (libvips reads no
// header from them) are left out, each told to `warn` in one line. Throws DemoError for a folder that
// cannot be listed. Cost: a picture header read for each file.
std::vector<SheetEntry> sheetEntries(const std::vector<std::string>& inputs,
                                     const std::function<void(const std::string&)>& warn);

}  // namespace zelvan_demo
