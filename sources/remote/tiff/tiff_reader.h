#pragma once
// One level of a TIFF on a server as a libvips image over RangeBlocks, lent to one read at a time:
// libvips' threads read the file on behalf of that read alone, so that their waits for blocks end, and
// the blocks' transfers are let go, as soon as it is cancelled.
#include <vips/vips.h>

#include <memory>
#include <string>

#include "range_blocks.h"

namespace zelvan {
namespace sources {
namespace detail {

// Where a level is in the file: a page, or a sub-IFD of the first page.
struct TiffPage {
    const char* which = "page";  // or "subifd"
    int index = 0;
};

class TiffReader {
public:
    struct State;

    // Null, with the reason, when libvips cannot read it; `control` as for serve().
    static std::unique_ptr<TiffReader> open(RangeBlocks& blocks, TiffPage page, TileReadControl* control,
                                            std::string& error);
    ~TiffReader();
    TiffReader(const TiffReader&) = delete;
    TiffReader& operator=(const TiffReader&) = delete;

    VipsImage* image() const { return image_; }
    // The read the file is read for from now on; null: none, never cancelled.
    void serve(TileReadControl* control);

private:
    TiffReader() = default;

    std::unique_ptr<State> state_;
    VipsSourceCustom* source_ = nullptr;
    VipsImage* image_ = nullptr;
};

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
