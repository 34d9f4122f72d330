#include "model/TerrainModel.h"

#include "base/NumberText.h"
#include "frontpanel/TSystem.h"
#include "model/STL.h"
#include "model/SolidClosure.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

constexpr long double DegreesToRadians = 0.017453292519943295769L;
// Metres to a degree, on both axes and at every latitude.
constexpr long double MetresPerDegree = 100000.0L;
constexpr std::int32_t HealRadius = 3;

// The part of the region inside one tile, cut into cells of the grid step.
struct TileGrid {
  long double West;
  long double South;
  std::int64_t Columns;
  std::int64_t Rows;
  long double CellWidth;
  long double CellHeight;

  std::uint64_t Cells() const noexcept { return static_cast<std::uint64_t>(Columns * Rows); }
};

TileGrid GridInTile(const ModelSettings& s, long double gridStep, std::int32_t westLon,
                    std::int32_t southLat) {
  const long double west = ClampFloat(s.LonMin, westLon, westLon + 1);
  const long double east = ClampFloat(s.LonMax, westLon, westLon + 1);
  const long double south = ClampFloat(s.LatMin, southLat, southLat + 1);
  const long double north = ClampFloat(s.LatMax, southLat, southLat + 1);
  // The one is added even when the division comes out whole: a full tile at a step of
  // 0.001 degree has 1001 columns.
  const auto columns = static_cast<std::int64_t>(std::trunc((east - west) / gridStep)) + 1;
  const auto rows = static_cast<std::int64_t>(std::trunc((north - south) / gridStep)) + 1;
  return {west,
          south,
          columns,
          rows,
          (east - west) / static_cast<long double>(columns),
          (north - south) / static_cast<long double>(rows)};
}

// Region coordinates and elevations to model coordinates. Every expression keeps the order
// of operations of the model's definition, so a vertex depends only on its longitude and
// latitude: equal inputs give equal bytes, which is what lets cells share corners.
class ModelScale {
 public:
  explicit ModelScale(const ModelSettings& s)
      : lonMin_(s.LonMin),
        lonSpan_(s.LonMax - s.LonMin),
        latMin_(s.LatMin),
        latSpan_(s.LatMax - s.LatMin),
        xExtent_(s.XExtent),
        zMin_(s.ZMin),
        zSpan_(s.ZMax - s.ZMin),
        zExtent_(s.ZExtent),
        pedestal_(static_cast<long double>(s.ZBasePercent) * s.ZExtent / 100) {
    yExtent_ = std::fabs((s.LatMax - s.LatMin) * s.XExtent / (s.LonMax - s.LonMin) /
                         std::cos((s.LatMax + s.LatMin) / 2 * DegreesToRadians));
    zAbovePedestal_ = zExtent_ - pedestal_;
  }

  float X(long double lon) const noexcept {
    return static_cast<float>((lon - lonMin_) / lonSpan_ * xExtent_);
  }
  float Y(long double lat) const noexcept {
    return static_cast<float>((lat - latMin_) / latSpan_ * yExtent_);
  }
  // Below the band the surface drops to the base plane, beneath the pedestal.
  float Z(long double elevation) const noexcept {
    const long double z =
        elevation < zMin_ ? 0 : (elevation - zMin_) / zSpan_ * zAbovePedestal_ + pedestal_;
    return static_cast<float>(z < 0 ? 0 : (z > zExtent_ ? zExtent_ : z));
  }

 private:
  long double lonMin_;
  long double lonSpan_;
  long double latMin_;
  long double latSpan_;
  long double xExtent_;
  long double yExtent_ = 0;
  long double zMin_;
  long double zSpan_;
  long double zExtent_;
  long double pedestal_;
  long double zAbovePedestal_ = 0;
};

// The 101 centre fractions of a run and the uniform draws among them.
class CentreFractions {
 public:
  explicit CentreFractions(std::uint64_t seed) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed),
                           static_cast<std::uint32_t>(seed >> 32)};
    engine_.seed(sequence);
    // k from -500 to 499: the centre keeps to the middle three quarters of its cell.
    for (double& fraction : values_) {
      const int k = static_cast<int>(Below(1000)) - 500;
      fraction = k * 0.00075 + 0.5;
    }
  }

  double Next() noexcept { return values_[Below(static_cast<std::uint32_t>(values_.size()))]; }
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
  std::array<double, 101> values_{};
};

std::uint64_t RunSeed(const GenerationOptions& options) {
  if (options.Seed) return *options.Seed;
  return static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

// Room for every face the plan can produce, so the list never moves while it fills. A plan
// larger than the machine's memory can't be kept anyway; it grows and fails when it must.
void ReserveFaces(TSTL& stl, std::uint64_t faces) {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return;
  const auto memory = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  if (faces > memory / sizeof(TSTLFace)) return;
  stl.Reserve(static_cast<std::size_t>(faces));
}

// Turns the cells of one tile into faces. The vertices on a column of cell corners are
// computed once and reused by the next column when both lie on the same longitude, and a
// corner row shared by two neighbouring cells once, when both lie on the same latitude.
class CellMesher {
 public:
  CellMesher(const ModelScale& scale, CentreFractions& fractions, TSTL& stl)
      : scale_(scale), fractions_(fractions), stl_(stl) {}

  template <typename AfterColumn>
  void Mesh(const TileGrid& g, TSRTM& tile, AfterColumn&& afterColumn) {
    PrepareRows(g);
    long double previousEast = 0;
    for (std::int64_t q = 0; q < g.Columns; ++q) {
      const long double lonW = g.West + static_cast<long double>(q) * g.CellWidth;
      const long double lonE = lonW + g.CellWidth;
      if (q > 0 && lonW == previousEast) {
        std::swap(zWest_, zEast_);
      } else {
        FillColumn(tile, lonW, zWest_);
      }
      FillColumn(tile, lonE, zEast_);
      previousEast = lonE;
      MeshColumn(g, tile, lonW, scale_.X(lonW), scale_.X(lonE));
      afterColumn(static_cast<std::uint64_t>(g.Rows));
    }
  }

 private:
  void PrepareRows(const TileGrid& g) {
    const auto rows = static_cast<std::size_t>(g.Rows);
    southLat_.resize(rows);
    southIndex_.resize(rows);
    northIndex_.resize(rows);
    lats_.clear();
    const auto distinct = [this](long double lat) {
      if (lats_.empty() || lats_.back() != lat) lats_.push_back(lat);
      return static_cast<std::uint32_t>(lats_.size() - 1);
    };
    for (std::size_t r = 0; r < rows; ++r) {
      southLat_[r] = g.South + static_cast<long double>(r) * g.CellHeight;
      southIndex_[r] = distinct(southLat_[r]);
      northIndex_[r] = distinct(southLat_[r] + g.CellHeight);
    }
    ys_.resize(lats_.size());
    for (std::size_t i = 0; i < lats_.size(); ++i) ys_[i] = scale_.Y(lats_[i]);
    zWest_.resize(lats_.size());
    zEast_.resize(lats_.size());
  }

  void FillColumn(TSRTM& tile, long double lon, std::vector<float>& z) const noexcept {
    for (std::size_t i = 0; i < lats_.size(); ++i) z[i] = scale_.Z(tile.ElevationAt(lon, lats_[i]));
  }

  void MeshColumn(const TileGrid& g, TSRTM& tile, long double lonW, float xW, float xE) {
    const std::size_t rows = southLat_.size();
    for (std::size_t r = 0; r < rows; ++r) {
      // Both fractions are drawn for every cell, flat or not, fu first.
      const long double fu = fractions_.Next();
      const long double fv = fractions_.Next();
      const long double lonC = lonW + fu * g.CellWidth;
      const long double latC = southLat_[r] + fv * g.CellHeight;
      const Vec3 c =
          MakeVec(scale_.X(lonC), scale_.Y(latC), scale_.Z(tile.ElevationAt(lonC, latC)));
      const std::uint32_t s = southIndex_[r];
      const std::uint32_t n = northIndex_[r];
      const Vec3 nw = MakeVec(xW, ys_[n], zWest_[n]);
      const Vec3 sw = MakeVec(xW, ys_[s], zWest_[s]);
      const Vec3 se = MakeVec(xE, ys_[s], zEast_[s]);
      const Vec3 ne = MakeVec(xE, ys_[n], zEast_[n]);
      // Corners run counter-clockwise seen from above, so every normal points up.
      if (nw.z == sw.z && nw.z == se.z && nw.z == ne.z && nw.z == c.z) {
        stl_.AddFace(nw, sw, ne);
        stl_.AddFace(sw, se, ne);
      } else {
        stl_.AddFace(nw, sw, c);
        stl_.AddFace(sw, se, c);
        stl_.AddFace(se, ne, c);
        stl_.AddFace(ne, nw, c);
      }
    }
  }

  const ModelScale& scale_;
  CentreFractions& fractions_;
  TSTL& stl_;
  std::vector<long double> southLat_;
  std::vector<std::uint32_t> southIndex_;
  std::vector<std::uint32_t> northIndex_;
  std::vector<long double> lats_;  // every distinct corner latitude, south to north
  std::vector<float> ys_;
  std::vector<float> zWest_;
  std::vector<float> zEast_;
};

// The piece's outline for a closed solid, each vertex by the mesher's own expressions for its
// longitude and latitude, so that it is the surface's vertex to the byte.
template <typename HeightAt>
PieceOutline OutlineOf(const TileGrid& g, const ModelScale& scale, HeightAt&& heightAt) {
  const auto lon = [&](std::int64_t q) {
    const long double lonW =
        g.West + static_cast<long double>(std::min(q, g.Columns - 1)) * g.CellWidth;
    return q < g.Columns ? lonW : lonW + g.CellWidth;
  };
  const auto lat = [&](std::int64_t r) {
    const long double latS =
        g.South + static_cast<long double>(std::min(r, g.Rows - 1)) * g.CellHeight;
    return r < g.Rows ? latS : latS + g.CellHeight;
  };
  const auto vertex = [&](long double lo, long double la) {
    return MakeVec(scale.X(lo), scale.Y(la), heightAt(lo, la));
  };
  PieceOutline o;
  for (std::int64_t q = 0; q <= g.Columns; ++q) {
    o.South.push_back(vertex(lon(q), lat(0)));
    o.North.push_back(vertex(lon(q), lat(g.Rows)));
  }
  for (std::int64_t r = 0; r <= g.Rows; ++r) {
    o.West.push_back(vertex(lon(0), lat(r)));
    o.East.push_back(vertex(lon(g.Columns), lat(r)));
  }
  return o;
}

}  // namespace

RunOutcome CreateStlModel(const ModelSettings& s, Workspace& workspace, OperationHost& host,
                          const GenerationOptions& options) {
  const char sep = host.DecimalSeparator();
  TSRTM& tile = workspace.Tile;

  const SizeEstimate estimate = EstimateSize(s);
  if (estimate.MegaBytes >= 100) {
    const std::string question =
        FormatText(sep, "Are you sure you want to make a %.0f MB STL File?", {estimate.MegaBytes});
    if (!host.ConfirmLargeFile(question, "Warning : Very Large STL FileSize")) {
      return RunOutcome::Cancelled;
    }
  }

  std::int16_t runLowest = 32000;
  std::int16_t runHighest = -32000;
  const TileRange range = RegionTiles(s);
  const ModelScale scale(s);
  // Kept wider than the field's 16 bits would allow, so that large pixel sizes don't wrap; a
  // cell wider than a tile simply leaves one cell.
  const long double gridStep =
      static_cast<long double>(std::max(s.XYResolution, 1)) / MetresPerDegree;

  std::uint64_t plannedCells = 0;
  std::uint64_t plannedFaces = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    const TileGrid grid = GridInTile(s, gridStep, lon, lat);
    plannedCells += grid.Cells();
    plannedFaces += grid.Cells() * 4 + (s.Solid ? SolidClosure::MaxFacesPerPiece(
                                                      static_cast<std::uint64_t>(grid.Columns),
                                                      static_cast<std::uint64_t>(grid.Rows))
                                                : 0);
  });

  TSTL stl;
  ReserveFaces(stl, plannedFaces);
  CentreFractions fractions(RunSeed(options));
  // The closed solid keeps each tile's outline; its faces follow the surface's.
  std::optional<SolidClosure> solid;
  if (s.Solid) {
    solid.emplace(
        range, static_cast<float>(-(static_cast<long double>(s.FloorPercent) * s.ZExtent / 100)));
  }
  const auto missingPiece = [&](std::int32_t lon, std::int32_t lat) {
    if (!solid) return;
    const auto noHeight = [](long double, long double) { return 0.0F; };
    solid->AddMissing(lon, lat, OutlineOf(GridInTile(s, gridStep, lon, lat), scale, noHeight));
  };

  AppendBanner(host, "  STL File Generation  ", 23);
  LogConfigurationSummary(s, host);

  CellMesher mesher(scale, fractions, stl);
  std::uint64_t cellsDone = 0;
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    host.ProcessPendingEvents();
    const std::string name = TileFileName(lon, lat);
    const auto west = static_cast<std::int16_t>(lon);
    const auto south = static_cast<std::int16_t>(lat);
    if (const auto source = FindTileSource(workspace.Folders, name, s.Blocks())) {
      tile.LoadFromFile(source->Path, west, south);
    } else if (s.MissedDataZero) {
      tile.FillConstant(0, west, south);
    } else {
      missingPiece(lon, lat);
      return;
    }

    host.AppendLine("Loaded new file : " + name);
    AppendLines(host, tile.PropertiesReport());
    const std::int32_t healed = tile.HealVoids(HealRadius);
    host.AppendLine(FormatText(sep, "Healing adjusted %d faulted data points", {healed}));
    std::int16_t lowest = 0;
    std::int16_t highest = 0;
    tile.GetElevationRange(lowest, highest);
    host.AppendLine(
        FormatText(sep, "Post-Healing Elevation Limits of this file : %d %d m", {lowest, highest}));
    runLowest = std::min(runLowest, lowest);
    runHighest = std::max(runHighest, highest);
    host.AppendLine(" ");

    // A file of no tile size leaves no grid of its own to sample.
    if (tile.Kind() == TileKind::NotATile) {
      missingPiece(lon, lat);
      return;
    }
    const TileGrid grid = GridInTile(s, gridStep, tile.WestLon(), tile.SouthLat());
    // A solid leaves out the faces of a piece of no area, which would be lines in its shell.
    const auto height = [&](long double lo, long double la) {
      return scale.Z(tile.ElevationAt(lo, la));
    };
    if (solid && !solid->AddSurface(lon, lat, OutlineOf(grid, scale, height))) {
      fractions.SkipCells(grid.Cells());
      cellsDone += grid.Cells();
      host.ReportProgress(cellsDone, plannedCells);
      return;
    }
    mesher.Mesh(grid, tile, [&](std::uint64_t cells) {
      cellsDone += cells;
      host.ReportProgress(cellsDone, plannedCells);
    });
  });

  if (solid) {
    solid->Close([&](const Vec3& a, const Vec3& b, const Vec3& c) { stl.AddFace(a, b, c); });
  }
  host.AppendLine("Topography generation completed");
  host.AppendLine(
      FormatText(sep, "Elevation in SRTM files ranged from %d  to  %d m", {runLowest, runHighest}));
  host.AppendLine(FormatText(sep, "%d Faces created, now saving to %s ...",
                             {stl.Faces().size(), s.StlFileName}));
  stl.SaveBinary(s.StlFileName);
  host.AppendLine("File has been saved");
  return RunOutcome::Completed;
}

}  // namespace orolith
