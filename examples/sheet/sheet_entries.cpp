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

// Why `entry` is no picture (libvips reads no header from it, or a folder), or empty for a picture, its
// size then set from its header.
std::string whyNoPicture(SheetEntry& entry) {
    if (zelvan::sources::isUrl(entry.path)) return {};
    if (isFolder(entry.path))
        return isStore(entry.path) ? std::string() : entry.path + ": a folder, not a picture; skipped";
    zelvan::sources::OpenOptions quiet;
    quiet.warning = [](const std::string&) {};  // told again when the picture is opened
    const zelvan::sources::OpenedBands header = zelvan::sources::openBands(entry.path, quiet);
    if (!header) return header.error + "; skipped";
    entry.width = header.reader->info().width;
    entry.height = header.reader->info().height;
    return {};
}

}  // namespace

std::vector<SheetEntry> sheetEntries(const std::vector<std::string>& inputs,
                                     const std::function<void(const std::string&)>& warn) {
    std::vector<SheetEntry> entries;
    for (const std::string& input : inputs) {
        if (!isFolder(input) || isStore(input)) {
            SheetEntry named{input, false};
            whyNoPicture(named);  // told when it is opened, its cell kept
            entries.push_back(named);
            continue;
        }
        const std::string folder = input.back() == '/' ? input : input + "/";
        for (const std::string& name : namesIn(input)) {
            SheetEntry found{folder + name, true};
            if (const std::string why = whyNoPicture(found); !why.empty())
                warn(why);
            else
                entries.push_back(found);
        }
    }
    return entries;
}

}  // namespace zelvan_demo
