#include "sheet_views.h"

#include <algorithm>

namespace zelvan_demo {

SheetViews::SheetViews(const zelvan::TileViewOptions& each, std::size_t budgetBytes, unsigned workers,
                       unsigned live)
    : each_(each), live_(std::max(1u, live)) {
    // Views of their own, until they share a scene: the budget and the readers shared out between
    // those live at once.
    each_.budgetBytes = budgetBytes / live_;
    const unsigned all = workers > 0 ? workers : std::clamp(std::thread::hardware_concurrency(), 4u, 8u);
    each_.workers = std::max(1u, all / live_);
}

std::unique_ptr<zelvan::TileView> SheetViews::view(zelvan::TileSource& source) {
    return std::make_unique<zelvan::TileView>(source, each_);
}

}  // namespace zelvan_demo
