// libFuzzer target: arbitrary bytes as a tile file, then void healing and elevation lookups. No
// input may crash, read or write out of bounds, overflow, or give an elevation outside the
// clamp.

#include "base/Errors.h"
#include "tiles/SRTM.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using orolith::TileKind;

// Six bytes steer the run; the rest are the file's samples.
constexpr std::size_t ControlBytes = 6;

// One file for the whole run, rewritten for each input; the reader opens it by name.
struct TileFile {
  TileFile()
      : fd(::memfd_create("tile", MFD_CLOEXEC)), path("/proc/self/fd/" + std::to_string(fd)) {}
  int fd;
  std::string path;
};

// The file's bytes: the payload alone, or (most of the time, so that the healing and the
// lookup are reached) repeated to the size of the smallest tile, which keeps runs fast.
std::vector<unsigned char> FileBytes(std::uint8_t steer, const std::uint8_t* payload,
                                     std::size_t payloadSize) {
  const std::size_t size = steer % 4 == 0 ? payloadSize : orolith::TileFileSize(TileKind::Srtm30);
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size && payloadSize > 0; ++i) bytes[i] = payload[i % payloadSize];
  return bytes;
}

// Voids among the big-endian samples of a tile file.
std::size_t Voids(const std::vector<unsigned char>& bytes) {
  std::size_t voids = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto sample = static_cast<std::int16_t>(bytes[i] << 8 | bytes[i + 1]);
    voids += sample < orolith::TSRTM::VoidThreshold ? 1 : 0;
  }
  return voids;
}

long double Coordinate(std::int16_t corner, std::uint8_t steer, std::uint8_t fraction) {
  switch (steer % 8) {
    case 0:
      return std::numeric_limits<long double>::quiet_NaN();
    case 1:
      return std::numeric_limits<long double>::infinity();
    case 2:
      return corner - 1e-7L;  // just inside the tolerance
    case 3:
      return corner + 1 + 1e-7L;
    case 4:
      return corner + 2.5L;  // outside the tile
    default:
      return corner + fraction / 255.0L;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TileFile file;
  if (size < ControlBytes) return 0;
  const std::uint8_t* control = data;
  const std::vector<unsigned char> bytes =
      FileBytes(control[0], data + ControlBytes, size - ControlBytes);
  if (::ftruncate(file.fd, 0) != 0 ||
      ::pwrite(file.fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    __builtin_trap();
  }

  const auto lon = static_cast<std::int16_t>(control[1] | control[2] << 8);
  const auto lat = static_cast<std::int16_t>(control[3] | control[4] << 8);
  orolith::TSRTM tile;
  try {
    tile.LoadFromFile(file.path, lon, lat);
  } catch (const orolith::FileError&) {
    return 0;
  }
  if (tile.Kind() == TileKind::NotATile) return 0;

  // Small windows as the model run uses them; one wider than the tile when the voids are few
  // enough for the run to stay short.
  const std::int32_t radius = control[5] == 255 && Voids(bytes) <= 16
                                  ? std::numeric_limits<std::int32_t>::max()
                                  : control[5] % 8;
  tile.HealVoids(radius);
  std::int16_t lowest = 0;
  std::int16_t highest = 0;
  tile.GetElevationRange(lowest, highest);
  // Healing leaves no void behind, whatever the window.
  if (lowest < orolith::TSRTM::VoidThreshold) __builtin_trap();
  if (tile.PropertiesReport().empty()) __builtin_trap();

  for (std::size_t i = ControlBytes; i + 4 <= size; i += 4) {
    const long double x = Coordinate(tile.WestLon(), data[i], data[i + 1]);
    const long double y = Coordinate(tile.SouthLat(), data[i + 2], data[i + 3]);
    const long double e = tile.ElevationAt(x, y);
    const bool inside = tile.LastError().empty();
    if (inside && !(e >= 0 && e <= 10000)) __builtin_trap();
    if (!inside && e != tile.FillValue()) __builtin_trap();
    std::int16_t row = -1;
    std::int16_t column = -1;
    tile.SampleIndex(x, y, row, column);
    if (row < 0 || row >= tile.Rows() || column < 0 || column >= tile.Columns()) __builtin_trap();
  }

  return 0;
}
