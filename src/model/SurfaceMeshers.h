#pragma once

#include "frontpanel/ModelSettings.h"
#include "model/lattice/ModelGrid.h"
#include "model/lattice/SurfaceMesher.h"
#include "model/mesh/FaceSink.h"

#include <cstdint>
#include <memory>

namespace orolith {

// The surface the settings ask for: the adaptive surface within MaxError metres when that is
// above 0, else the regular grid, its centres drawn from seed; threads mesh at once, the
// faces go to sink. Scale and sink must outlive the mesher.
std::unique_ptr<SurfaceMesher> OpenSurfaceMesher(const ModelSettings& settings,
                                                 const ModelScale& scale, std::uint64_t seed,
                                                 unsigned threads, FaceSink& sink);

}  // namespace orolith
