#pragma once

#include "frontpanel/ModelSettings.h"

namespace orolith {

struct SizeEstimate {
  long double Faces;
  long double MegaBytes;
};

// The faces of the model the settings make and the size of its STL file, before anything is
// read: the regular grid's faces, or the adaptive surface's estimate; a solid's walls and
// bottom as for the regular grid. The run asks before a large model, the coverage check shows it.
SizeEstimate EstimateSize(const ModelSettings& settings) noexcept;

// Faces of an adaptive surface over a lattice of cells cells covering squareDegrees, within
// maxError metres (above 0): an estimate for mountainous ground; plains and sea need far fewer.
long double AdaptiveFaces(long double cells, long double squareDegrees, float maxError) noexcept;

}  // namespace orolith
