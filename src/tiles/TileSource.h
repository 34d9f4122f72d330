#pragma once

#include "tiles/SRTM.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orolith {

inline constexpr char PathSeparator = '/';

// The data root (ending in the path separator) and its tile folders.
struct DataFolders {
  std::string DataRoot;
  std::string Srtm1Dir;
  std::string Srtm3Dir;
  std::string Srtm30Dir;
  std::string Cop30Dir;  // Copernicus GLO-30 tiles as the public bucket names them
};
DataFolders MakeDataFolders(std::string dataRoot);

// The tile folders a search passes over.
struct TileBlocks {
  bool Srtm1 = false;
  bool Srtm3 = false;
  bool Srtm30 = false;
  bool Cop30 = false;
};

// Where a tile was found: the folder it lies in (named by the kind that folder is for, not
// by the file's own size) and its full path.
struct TileSource {
  TileKind Folder;
  std::string Path;
};

// The first unblocked SRTM folder that holds fileName (an .hgt name), searched SRTM-1, SRTM-3,
// SRTM-30. Throws as TileFileExists does.
std::optional<TileSource> FindTileSource(const DataFolders& folders, const std::string& fileName,
                                         const TileBlocks& blocked);
// The first unblocked tile folder that holds the tile at lon, lat under its folder's name for
// it, searched SRTM-1, Copernicus GLO-30, SRTM-3, SRTM-30. Throws as TileFileExists does.
std::optional<TileSource> FindTileSource(const DataFolders& folders, std::int32_t lon,
                                         std::int32_t lat, const TileBlocks& blocked);

// Loads the tile at lon, lat from where FindTileSource found it: LoadFromFile for an SRTM
// folder, LoadCopernicusTile for the Copernicus one. Throws FileError as they do, Interrupted
// when a stop asked for meanwhile made the reading fail.
void LoadTile(TSRTM& tile, const TileSource& source, std::int16_t lon, std::int16_t lat);

// "The data root "X" does not exist" when nothing is at dataRoot; none when something is.
std::optional<std::string> MissingDataRoot(const std::string& dataRoot);

// Why the folders a search passes over can't be read, one line each ("The folder "X" could not
// be read: REASON"): the data root alone when it can't be or does not exist (MissingDataRoot),
// else each of tileFolders that can't. A tile folder that is simply absent holds no tiles,
// which is no problem.
std::vector<std::string> UnreadableFolders(const std::string& dataRoot,
                                           const std::vector<std::string>& tileFolders);
// The same for the tile folders a search with these blocks passes over.
std::vector<std::string> UnreadableFolders(const DataFolders& folders, const TileBlocks& blocked);

}  // namespace orolith
