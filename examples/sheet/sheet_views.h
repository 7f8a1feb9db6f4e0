#pragma once
// The tile views of the pictures a program shows together (a contact sheet, pictures side by side, a
// navigator): views in one zelvan::TileScene, within its one texture budget and its one pool of readers;
// views of one source share its tiles.
#include <algorithm>
#include <cstddef>
#include <memory>

#include "zelvan_tiles.hpp"

namespace zelvan_demo {

class SheetViews {
public:
    // Views drawn as `each` says (its budgets and workers unused), in a scene of `budgetBytes` of
    // textures and `workers` readers (0: as TileSceneOptions says) for all of them together; a program
    // keeps `live` of them at most at once reading ahead. OpenGL: context current.
    SheetViews(const zelvan::TileViewOptions& each, std::size_t budgetBytes, unsigned workers, unsigned live);

    // A view of `source` (which outlives it) in the scene; empty (operator bool false) as the TileView
    // constructor says. OpenGL: context current. Cost: a few KiB; no thread.
    std::unique_ptr<zelvan::TileView> view(zelvan::TileSource& source);
    // How many views a program keeps reading ahead at once.
    unsigned live() const { return live_; }
    zelvan::TileScene& scene() { return scene_; }
    // Keeps `bytes` of the budget for textures of the program's own (thumbnails): the scene's views get
    // the rest. Cost: as TileScene::setBudget.
    void reserve(std::size_t bytes) { scene_.setBudget(budgetBytes_ - std::min(bytes, budgetBytes_)); }
    std::size_t budgetBytes() const { return budgetBytes_; }

private:
    zelvan::TileViewOptions each_;
    zelvan::TileScene scene_;
    std::size_t budgetBytes_;
    unsigned live_ = 1;
};

}  // namespace zelvan_demo
