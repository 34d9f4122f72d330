#pragma once

#include "frontpanel/ModelSettings.h"

#include <string>
#include <vector>

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

// Slicers advise simplifying a model of more triangles than this.
inline constexpr long double SlicerTriangles = 1000000;

// What the coverage check and the large-file question say of a model set up for printing: its
// size in millimetres (a solid's floor included) with its estimated triangles and, past
// SlicerTriangles, the slicers' advice with an adaptive surface that keeps under it: the
// layer height's error when that does, else the first of a ladder of errors that does.
std::vector<std::string> ModelSizeLines(const ModelSettings& settings, char decimalSeparator);

}  // namespace orolith
