#include "tiles/TileSource.h"

#include "base/Errors.h"
#include "base/Interrupt.h"
#include "tiles/Copernicus.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace orolith {

namespace {

// The note for a folder that is there but can't be searched; nothing for one that can be, or
// that is absent.
std::optional<std::string> ReadProblem(const std::string& folder) {
  struct stat info {};
  // Looking up "." inside needs what every tile lookup needs: a folder, and leave to search it.
  const std::string inside = folder + (folder.ends_with(PathSeparator) ? "." : "/.");
  if (::stat(inside.c_str(), &info) == 0) return std::nullopt;
  const int error = errno;
  if (error == ENOENT) return std::nullopt;
  return "The folder \"" + folder + "\" could not be read: " + std::strerror(error);
}

struct Candidate {
  TileKind Folder;
  const std::string& Dir;
  const std::string& Name;
  bool Blocked;
};

template <std::size_t N>
std::optional<TileSource> FirstHolding(const std::array<Candidate, N>& order) {
  for (const Candidate& candidate : order) {
    if (candidate.Blocked) continue;
    std::string path = candidate.Dir + candidate.Name;
    if (TileFileExists(path)) return TileSource{candidate.Folder, std::move(path)};
  }
  return std::nullopt;
}

}  // namespace

DataFolders MakeDataFolders(std::string dataRoot) {
  if (dataRoot.empty() || dataRoot.back() != PathSeparator) dataRoot += PathSeparator;
  DataFolders folders;
  folders.Srtm1Dir = dataRoot + "SRTM_1" + PathSeparator;
  folders.Srtm3Dir = dataRoot + "SRTM_3" + PathSeparator;
  folders.Srtm30Dir = dataRoot + "SRTM_30" + PathSeparator;
  folders.Cop30Dir = dataRoot + "COP30" + PathSeparator;
  folders.DataRoot = std::move(dataRoot);
  return folders;
}

std::optional<TileSource> FindTileSource(const DataFolders& folders, const std::string& fileName,
                                         const TileBlocks& blocked) {
  return FirstHolding(
      std::array<Candidate, 3>{{{TileKind::Srtm1, folders.Srtm1Dir, fileName, blocked.Srtm1},
                                {TileKind::Srtm3, folders.Srtm3Dir, fileName, blocked.Srtm3},
                                {TileKind::Srtm30, folders.Srtm30Dir, fileName, blocked.Srtm30}}});
}

std::optional<TileSource> FindTileSource(const DataFolders& folders, std::int32_t lon,
                                         std::int32_t lat, const TileBlocks& blocked) {
  const std::string hgt = TileFileName(lon, lat);
  const std::string cop = CopernicusTileName(lon, lat);
  return FirstHolding(
      std::array<Candidate, 4>{{{TileKind::Srtm1, folders.Srtm1Dir, hgt, blocked.Srtm1},
                                {TileKind::Cop30, folders.Cop30Dir, cop, blocked.Cop30},
                                {TileKind::Srtm3, folders.Srtm3Dir, hgt, blocked.Srtm3},
                                {TileKind::Srtm30, folders.Srtm30Dir, hgt, blocked.Srtm30}}});
}

void LoadTile(TSRTM& tile, const TileSource& source, std::int16_t lon, std::int16_t lat) {
  try {
    if (source.Folder == TileKind::Cop30) {
      LoadCopernicusTile(tile, source.Path, lon, lat);
    } else {
      tile.LoadFromFile(source.Path, lon, lat);
    }
  } catch (const FileError&) {
    // A stop makes GDAL's reads fail: it is no fault of the file's.
    ThrowIfInterrupted();
    throw;
  }
}

std::optional<std::string> MissingDataRoot(const std::string& dataRoot) {
  struct stat info {};
  if (::stat(dataRoot.c_str(), &info) == 0 || errno != ENOENT) return std::nullopt;
  return "The data root \"" + dataRoot + "\" does not exist";
}

std::vector<std::string> UnreadableFolders(const std::string& dataRoot,
                                           const std::vector<std::string>& tileFolders) {
  if (auto missing = MissingDataRoot(dataRoot)) return {std::move(*missing)};
  if (auto problem = ReadProblem(dataRoot)) return {std::move(*problem)};
  std::vector<std::string> problems;
  for (const std::string& folder : tileFolders) {
    if (auto problem = ReadProblem(folder)) problems.push_back(std::move(*problem));
  }
  return problems;
}

std::vector<std::string> UnreadableFolders(const DataFolders& folders, const TileBlocks& blocked) {
  std::vector<std::string> searched;
  if (!blocked.Srtm1) searched.push_back(folders.Srtm1Dir);
  if (!blocked.Srtm3) searched.push_back(folders.Srtm3Dir);
  if (!blocked.Srtm30) searched.push_back(folders.Srtm30Dir);
  if (!blocked.Cop30) searched.push_back(folders.Cop30Dir);
  return UnreadableFolders(folders.DataRoot, searched);
}

}  // namespace orolith
