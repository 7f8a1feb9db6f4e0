#include "sheet_views.h"

#include <algorithm>

namespace zelvan_demo {

namespace {

zelvan::TileSceneOptions sceneOptions(const zelvan::TileViewOptions& each, std::size_t budgetBytes,
                                      unsigned workers) {
    zelvan::TileSceneOptions options;
    options.budgetBytes = budgetBytes;
    options.rawBudgetBytes = each.rawBudgetBytes;
    options.workers = workers;
    options.uploadBytesPerFrame = each.uploadBytesPerFrame;
    return options;
}

}  // namespace

SheetViews::SheetViews(const zelvan::TileViewOptions& each, std::size_t budgetBytes, unsigned workers,
                       unsigned live)
    : each_(each),
      scene_(sceneOptions(each, budgetBytes, workers)),
      budgetBytes_(budgetBytes),
      live_(std::max(1u, live)) {}

std::unique_ptr<zelvan::TileView> SheetViews::view(zelvan::TileSource& source) {
    return std::make_unique<zelvan::TileView>(scene_, source, each_);
}

}  // namespace zelvan_demo
