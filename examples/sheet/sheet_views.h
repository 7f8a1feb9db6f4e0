#pragma once
// The tile views of the pictures a program shows together (a contact sheet, pictures side by side, a
// navigator): made in this one place, within one texture budget and one pool of readers.
#include <cstddef>
#include <memory>

#include "zelvan_tiles.hpp"

namespace zelvan_demo {

class SheetViews {
public:
    // Views drawn as `each` says, `budgetBytes` of textures and `workers` readers for all of them
    // together (workers 0: as TileViewOptions says), `live` of them at most at once. OpenGL: context current.
    SheetViews(const zelvan::TileViewOptions& each, std::size_t budgetBytes, unsigned workers, unsigned live);

    // A view of `source` (which outlives it); empty (operator bool false) as the TileView constructor
    // says. OpenGL: context current. Cost: a few KiB; the readers are shared.
    std::unique_ptr<zelvan::TileView> view(zelvan::TileSource& source);
    // How many views may be live at once within the budget.
    unsigned live() const { return live_; }

private:
    zelvan::TileViewOptions each_;
    unsigned live_ = 1;
};

}  // namespace zelvan_demo
