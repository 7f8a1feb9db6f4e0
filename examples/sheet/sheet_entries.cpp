#include "sheet_entries.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

#include "program.h"
#include "zelvan_sources.hpp"
#include "zelvan_sources_bands.hpp"

namespace zelvan_demo {

namespace {

bool isFolder(const std::string& path) {
    struct stat status {};
    return !zelvan::sources::isUrl(path) && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// An OME-Zarr store is a folder that is one picture: it holds its root document.
bool isStore(const std::string& path) {
    struct stat status {};
    for (const char* root : {"/.zattrs", "/zarr.json", "/.zgroup"})
        if (stat((path + root).c_str(), &status) == 0) return true;
    return false;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
    if (!listing) throw DemoError(folder + ": the folder cannot be listed");
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing.get()))
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());
    return names;
}

// Why `path` is no picture (libvips reads no header from it, or a folder), or empty for a picture.
std::string whyNoPicture(const std::string& path) {
    if (isFolder(path)) return isStore(path) ? std::string() : path + ": a folder, not a picture; skipped";
    zelvan::sources::OpenOptions quiet;
    quiet.warning = [](const std::string&) {};  // told again when the picture is opened
    const zelvan::sources::OpenedBands header = zelvan::sources::openBands(path, quiet);
    return header ? std::string() : header.error + "; skipped";
}

}  // namespace

std::vector<SheetEntry> sheetEntries(const std::vector<std::string>& inputs,
                                     const std::function<void(const std::string&)>& warn) {
    std::vector<SheetEntry> entries;
    for (const std::string& input : inputs) {
        if (!isFolder(input) || isStore(input)) {
            entries.push_back({input, false});
            continue;
        }
        const std::string folder = input.back() == '/' ? input : input + "/";
        for (const std::string& name : namesIn(input)) {
            const std::string path = folder + name;
            if (const std::string why = whyNoPicture(path); !why.empty())
                warn(why);
            else
                entries.push_back({path, true});
        }
    }
    return entries;
}

}  // namespace zelvan_demo
