#pragma once
// zelvan-render --sheet: many pictures as a contact sheet in one frame, each fitted into its cell.
#include "render_options.h"

namespace zelvan_demo {

// Draws options.inputs (a folder standing for its pictures, sheet_entries.h) in options.sheetColumns
// columns over the frame and writes it to options.output. A picture that cannot be read leaves its cell
// the background, with a warning on stderr; a pyramidal one reads only the level its cell shows. The
// views share one texture budget (--budget) and one pool of readers; a few pictures are read at once,
// each drawn and let go once complete. Throws DemoError when there is no picture or none could be drawn.
void renderSheet(const RenderOptions& options);

}  // namespace zelvan_demo
