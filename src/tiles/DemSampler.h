#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace orolith {

class DemRaster;

// The heights of the user's raster at points of longitude and latitude: bilinear among its own
// pixels, through its own georeferencing, with its voids (its no-data samples) healed as a
// tile's are. The points come row by row, rows of a lattice whose points lie along about one
// line of the raster, and the raster is read a band of whole blocks at a time as the rows move
// across it: never whole, and each block about once.
class DemSampler {
 public:
  // The raster must outlive the sampler; outside it a point's height is outside (NaN: none).
  explicit DemSampler(DemRaster& raster, float outside);
  DemSampler(const DemSampler&) = delete;
  DemSampler& operator=(const DemSampler&) = delete;
  ~DemSampler();

  // Fills lon and lat with the perRow points of a row.
  using RowPoints = std::function<void(std::size_t row, double* lon, double* lat)>;

  // The heights of rows × perRow points into out, row by row: outside beyond the raster, else
  // clamped into 0 .. 10000 m as a tile's lookups are. Throws FileError naming the raster when
  // it can't be read, and Interrupted once a stop is asked for.
  void Sample(std::size_t rows, std::size_t perRow, const RowPoints& points, float* out);

  // The voids healed so far.
  long Healed() const noexcept;

 private:
  struct Lines;
  std::unique_ptr<Lines> lines_;
};

}  // namespace orolith
