#include "acquisition/DerivedSrtm3.h"

#include "acquisition/TileArchive.h"
#include "acquisition/TileMirrors.h"
#include "base/Errors.h"
#include "tiles/SRTM.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace orolith {
namespace {

// A folder made under a fresh name beside the tiles, so that a download into it meets no file
// of an earlier run; it goes with everything in it.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& prefix) {
    std::string name = prefix + "XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) throw CannotCreateFolder(prefix + "XXXXXX", errno);
    path_ = name + '/';
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const noexcept { return path_; }

 private:
  std::string path_;
};

}  // namespace

void MakeSrtm3Tile(const std::string& srtm1File, const std::string& srtm3File) {
  TSRTM srtm1;
  srtm1.LoadFromFile(srtm1File, 0, 0);
  if (srtm1.Kind() != TileKind::Srtm1) {
    const std::string held = srtm1.Kind() == TileKind::NotATile
                                 ? std::string("no tile")
                                 : std::string("an ") + TileKindName(srtm1.Kind()) + " tile";
    throw UnpackError(std::filesystem::path(srtm1File).filename().string() + " holds " + held +
                      ", not an SRTM-1 tile");
  }
  const int side = TileSamplesPerSide(TileKind::Srtm3);
  const int step = (TileSamplesPerSide(TileKind::Srtm1) - 1) / (side - 1);
  std::vector<std::int16_t> grid;
  grid.reserve(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  for (int row = 0; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      grid.push_back(srtm1.Sample(row * step, column * step));
    }
  }
  WriteTileFile(srtm3File, side, grid);
}

DownloadAttempt DownloadDerivedSrtm3Tile(const ArchiveSource& source, const std::string& srtm3Dir,
                                         std::int32_t lon, std::int32_t lat, OperationHost& host) {
  const std::string name = TileFileName(lon, lat);
  const ScratchFolder scratch(srtm3Dir + "." + name + ".srtm1-");
  DownloadAttempt attempt = DownloadFromMirrors(source, scratch.Path(), lon, lat, host);
  if (!attempt) return attempt;
  try {
    MakeSrtm3Tile(scratch.Path() + name, srtm3Dir + name);
  } catch (const UnpackError& error) {
    const std::string line = std::string("Unpacking failed: ") + error.what();
    host.AppendLine(line);
    return {DownloadAttempt::Result::UnpackFailed, 0, line};
  }
  host.AppendLine(name + " : made as SRTM-3 file (100 m X-Y resolution) from every third sample");
  return attempt;
}

}  // namespace orolith
