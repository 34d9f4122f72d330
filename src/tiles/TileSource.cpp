#include "tiles/TileSource.h"

#include "base/Files.h"

#include <array>
#include <utility>

namespace orolith {

DataFolders MakeDataFolders(std::string dataRoot) {
  if (dataRoot.empty() || dataRoot.back() != PathSeparator) dataRoot += PathSeparator;
  DataFolders folders;
  folders.Srtm1Dir = dataRoot + "SRTM_1" + PathSeparator;
  folders.Srtm3Dir = dataRoot + "SRTM_3" + PathSeparator;
  folders.Srtm30Dir = dataRoot + "SRTM_30" + PathSeparator;
  folders.DataRoot = std::move(dataRoot);
  return folders;
}

std::optional<TileSource> FindTileSource(const DataFolders& folders, const std::string& fileName,
                                         const TileBlocks& blocked) {
  struct Candidate {
    TileKind Folder;
    const std::string& Dir;
    bool Blocked;
  };
  const std::array<Candidate, 3> order{{{TileKind::Srtm1, folders.Srtm1Dir, blocked.Srtm1},
                                        {TileKind::Srtm3, folders.Srtm3Dir, blocked.Srtm3},
                                        {TileKind::Srtm30, folders.Srtm30Dir, blocked.Srtm30}}};
  for (const Candidate& candidate : order) {
    if (candidate.Blocked) continue;
    std::string path = candidate.Dir + fileName;
    if (FileExists(path)) return TileSource{candidate.Folder, std::move(path)};
  }
  return std::nullopt;
}

}  // namespace orolith
