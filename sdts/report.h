// What the pane tells of a transfer just read: the 32 report lines, and
// the quadrangle's corners that every format's summary ends with.
#pragma once

#include "sdts/sdtsinfo.h"
#include "support/progress.h"

namespace veloran {

void ShowSdtsInfo(const TConversionState& state, IInfoPane& pane);
// "   Quad Boundary " and the SW, NW, NE and SE corners.
void ShowQuadBoundary(const TSdtsInfo& info, IInfoPane& pane);

}  // namespace veloran
