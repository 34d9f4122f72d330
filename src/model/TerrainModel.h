#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"

#include <cstdint>
#include <optional>
#include <stdexcept>

namespace orolith {

enum class RunOutcome { Completed, Cancelled };

struct GenerationOptions {
  // Fixes the seed of the centre fractions (--seed, Seed=): two runs with the same settings
  // and seed make the same faces. Without it each run draws afresh.
  std::optional<std::uint64_t> Seed;
  // Threads that mesh the surface, the run's own included; 0 for one a processor this process
  // may run on (up to four). The file is the same with any number.
  unsigned Threads = 0;
};

// A region with nothing to model: none of its tiles has data, so the model would have no face.
// The text is the reason: "No elevation data in the region: " and why.
class NothingToModel : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Create STL File": samples every tile of the region, triangulates it and saves the binary
// STL file, or a 3MF package when the name ends in .3mf (OpenModelFile), writing each face as
// it is made; the log is the same for both. The tiles come from the tile folders (SRTM-1,
// Copernicus GLO-30, SRTM-3, SRTM-30), or all from settings.DemFile when it names one: that
// raster is opened first, and one that can't be used throws before anything is logged. A tile
// folder that can't be read is reported first, through host.Diagnose. Cancelled when the
// large-file question is answered Cancel (nothing logged, no file). Errors (a file that can't be
// created or written, exhausted memory) propagate to the caller: a file that can't be created
// right after the configuration summary, before the first tile; a write error only after the line
// announcing the save, as if the file were written at the end. A named pipe as the file is waited
// on for a reader before the first tile, through host.WhileWaiting. NothingToModel when no tile
// of the region has data: found by the tile search right after the configuration summary, before
// the file is created, or once the last tile is processed when every file found for the region
// is no tile or the surface has no face (a raster's values make no whole cell); the log then
// stops where it was found and no file is written, an old one of that name kept. The band found
// in the region, the scale's extents and the layer height's error (SettingsForModel) are worked
// out first, before the question, a first pass over the tiles reading them when the band is to
// be found.
RunOutcome CreateStlModel(const ModelSettings& settings, Workspace& workspace, OperationHost& host,
                          const GenerationOptions& options = {});

}  // namespace orolith
