#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"

#include <cstdint>
#include <optional>

namespace orolith {

enum class RunOutcome { Completed, Cancelled };

struct GenerationOptions {
  // Fixes the seed of the centre fractions; only tests set it.
  std::optional<std::uint64_t> Seed;
};

// "Create STL File": samples every tile of the region, triangulates it and saves the binary
// STL file. Cancelled when the large-file question is answered Cancel (nothing logged, no
// file). Errors (a file that can't be created, exhausted memory) propagate to the caller.
RunOutcome CreateStlModel(const ModelSettings& settings, Workspace& workspace, OperationHost& host,
                          const GenerationOptions& options = {});

}  // namespace orolith
