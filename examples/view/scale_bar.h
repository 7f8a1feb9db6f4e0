#pragma once
// The viewer's scale bar, drawn over the picture with OpenGL 1.1 alone: a bar and its label in the
// bottom-left corner, on a dark ground that keeps it legible over any picture.
#include "view_state.h"

namespace zelvan_demo {

// Draws `bar` (nothing for one without pixels) into a frame of `width` x `height` pixels, leaving the
// matrices and the enables as they were. OpenGL: context current.
void drawScaleBar(const ScaleBar& bar, int width, int height);

}  // namespace zelvan_demo
