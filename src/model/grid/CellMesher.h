#pragma once

#include "model/lattice/ModelGrid.h"
#include "model/mesh/FaceSink.h"
#include "tiles/SRTM.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace orolith {

// The 101 centre fractions of a run and the uniform draws among them.
class CentreFractions {
 public:
  using Values = std::array<double, 101>;

  explicit CentreFractions(std::uint64_t seed);

  // Which of Table() the next draw picks.
  std::uint8_t Next() noexcept {
    return static_cast<std::uint8_t>(Below(static_cast<std::uint32_t>(values_.size())));
  }
  const Values& Table() const noexcept { return values_; }
  // The draws of count cells that make no faces, so that the cells after them keep theirs.
  void SkipCells(std::uint64_t count) noexcept {
    for (std::uint64_t i = 0; i < 2 * count; ++i) Next();
  }

 private:
  // Uniform in 0 .. n-1 without modulo bias (Lemire's multiply and reject).
  std::uint32_t Below(std::uint32_t n) noexcept {
    std::uint64_t product = static_cast<std::uint64_t>(engine_()) * n;
    if (static_cast<std::uint32_t>(product) < n) {
      const std::uint32_t threshold = (0U - n) % n;
      while (static_cast<std::uint32_t>(product) < threshold) {
        product = static_cast<std::uint64_t>(engine_()) * n;
      }
    }
    return static_cast<std::uint32_t>(product >> 32);
  }

  std::mt19937 engine_;
  Values values_{};
};

// A band of neighbouring cell columns of a tile's piece on its way from the run's thread, which
// draws its centres, through a meshing thread to the sink.
struct Band {
  std::size_t Index = 0;            // among the tile's bands, in output order
  std::vector<std::uint8_t> Input;  // the centres' draws, fu and fv of each cell in cell order
  MeshChunk Mesh;
};

// The regular grid: every cell of a tile's piece becomes four triangles round a centre at
// random fractions of its width and height, or two when the cell and its centre are level, or
// none when one of them has no data (NaN, where the user's raster has no value).
// A band is a run of neighbouring columns, its cells column by column, south to north. The
// tile is looked up row by row across the band, so that neighbouring lookups share the tile's
// cache lines (a column walk would touch a new row of samples, a new page, at every step).
// Every cell corner is a point of the piece's lattice and one vertex of its band, looked up
// once there; the column on the edge between two bands is looked up by both from the same
// places of the lattice, so both write the same bytes.
class CellMesher {
 public:
  CellMesher(const ModelScale& scale, CentreFractions& fractions, unsigned threads);

  // Sets the mesher up for the piece whose lattice is given (of the tile whose south-west
  // corner is lon, lat) and returns the number of its bands. Only while none of them is in
  // flight; the lattice must stay as it is until the last of them is written.
  std::size_t StartTile(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat);
  // The columns of one of the tile's bands.
  std::int64_t BandColumns(std::size_t band) const noexcept;

  // On the run's thread, band after band in output order (band.Index set): the draws, which
  // must follow the cells' order, and room for the faces.
  void Prepare(Band& band);
  // Fills band.Mesh, on meshing thread thread (0 .. threads - 1), while other threads mesh
  // other bands; reads only what stays put while the tile's bands are in flight.
  void Mesh(unsigned thread, Band& band);

 private:
  // A longitude: where it falls in the tile and its model coordinate.
  struct AxisPoint {
    TSRTM::AxisPosition position;
    float model = 0;
  };

  // One meshing thread's tables for a band, sized by StartTile so that meshing never
  // allocates.
  struct Scratch {
    std::vector<float> zs;  // corner heights, column edge by column edge, south to north
    std::vector<AxisPoint> centreLons;  // column by column, fraction by fraction, when worth it
    std::vector<Vec3> centres;          // cell by cell, in file order
  };

  // The centre longitude of a cell whose west edge is at lonW, at fraction fu of its width.
  AxisPoint CentreLon(long double lonW, long double fu) const noexcept;
  // The heights of the centres the bands will draw, sampled from the lattice's raster at once.
  void SampleCentres(const PieceLattice& lattice);

  const ModelScale& scale_;
  CentreFractions& fractions_;
  const PieceLattice* lattice_ = nullptr;
  std::int32_t lon_ = 0;
  std::int32_t lat_ = 0;
  std::int64_t perBand_ = 1;      // columns
  std::vector<Scratch> scratch_;  // one a thread
  // With a raster: the z of every cell's centre, row by row; empty without.
  std::vector<float> centreZ_;
};

}  // namespace orolith
