// libFuzzer target: arbitrary bytes as the Copernicus tile at 7 E, 86 N, through the download
// check and, as a file, the tile's load and the map's reduced read. No input may crash, read or
// write out of bounds, overflow, hang, or take memory beyond what a tile's size allows (the
// sanitizers' malloc limit reports one that does).

#include "base/Errors.h"
#include "tiles/Copernicus.h"
#include "tiles/SRTM.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

constexpr std::int16_t Lon = 7;
constexpr std::int16_t Lat = 86;

// One file for the whole run, rewritten for each input; the readers open it by name.
struct TileFile {
  TileFile()
      : fd(::memfd_create("tile", MFD_CLOEXEC)), path("/proc/self/fd/" + std::to_string(fd)) {}
  int fd;
  std::string path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TileFile file;
  const auto bytes = std::as_bytes(std::span(data, size));
  try {
    orolith::CheckCopernicusTile(bytes, "fuzz.tif", Lon, Lat);
  } catch (const orolith::FileError&) {
    // What the check refuses never reaches a tile folder; the readers still meet it there.
  }
  if (::ftruncate(file.fd, 0) != 0 ||
      ::pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size)) {
    __builtin_trap();
  }
  orolith::TSRTM tile;
  try {
    orolith::LoadCopernicusTile(tile, file.path, Lon, Lat);
    if (tile.Rows() != orolith::CopernicusRows + 1 ||
        tile.Columns() != orolith::CopernicusColumns(Lat) + 1) {
      __builtin_trap();
    }
    tile.HealVoids(3);
  } catch (const orolith::FileError&) {
  }
  try {
    if (orolith::ReadReducedCopernicusTile(file.path, Lon, Lat, 17).size() != 17 * 17) {
      __builtin_trap();
    }
  } catch (const orolith::FileError&) {
  }
  return 0;
}
