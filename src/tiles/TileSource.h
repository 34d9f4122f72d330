#pragma once

#include <array>
#include <optional>
#include <string>

#include "frontpanel/ModelSettings.h"
#include "frontpanel/TSystem.h"
#include "tiles/SRTM.h"

namespace orolith {

// Where a tile was found: the folder it lies in (named by the kind that folder is for, not
// by the file's own size) and its full path.
struct TileSource {
  TileKind Folder;
  std::string Path;
};

// The first unblocked tile folder that holds fileName, searched SRTM-1, SRTM-3, SRTM-30.
inline std::optional<TileSource> FindTileSource(const DataFolders& folders,
                                                const std::string& fileName, bool blockSrtm1,
                                                bool blockSrtm3, bool blockSrtm30) {
  const std::array<std::pair<const std::string*, bool>, 3> order{
      {{&folders.Srtm1Dir, blockSrtm1},
       {&folders.Srtm3Dir, blockSrtm3},
       {&folders.Srtm30Dir, blockSrtm30}}};
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i].second) continue;
    std::string path = *order[i].first + fileName;
    if (FileExists(path)) return TileSource{static_cast<TileKind>(i), std::move(path)};
  }
  return std::nullopt;
}

}  // namespace orolith
