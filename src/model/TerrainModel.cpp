#include "model/TerrainModel.h"

#include "base/NumberText.h"
#include "frontpanel/TSystem.h"
#include "model/STL.h"
#include "model/SolidClosure.h"
#include "tiles/TileRange.h"
#include "tiles/TileSource.h"

#include <sched.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
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
  // The west edge of column q and the south edge of row r; a cell's other edge is one cell
  // width (height) further. Every vertex of the tile's piece is worked out from these.
  long double ColumnWest(std::int64_t q) const noexcept {
    return West + static_cast<long double>(q) * CellWidth;
  }
  long double RowSouth(std::int64_t r) const noexcept {
    return South + static_cast<long double>(r) * CellHeight;
  }
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

  // Which of Values() the next draw picks.
  std::uint8_t Next() noexcept {
    return static_cast<std::uint8_t>(Below(static_cast<std::uint32_t>(values_.size())));
  }
  const std::array<double, 101>& Values() const noexcept { return values_; }
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

// The processors this process may run on, as many meshing threads (at most MaxThreads).
unsigned MeshingThreads(const GenerationOptions& options) {
  constexpr unsigned MaxThreads = 4;
  if (options.Threads > 0) return options.Threads;
  cpu_set_t set;
  CPU_ZERO(&set);
  int processors = 0;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) processors = CPU_COUNT(&set);
  if (processors <= 0) processors = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(static_cast<unsigned>(std::max(processors, 1)), 1U, MaxThreads);
}

using Fractions = std::array<double, 101>;
using AxisPosition = TSRTM::AxisPosition;

// A longitude or latitude: where it falls in the tile and its model coordinate.
struct AxisPoint {
  AxisPosition position;
  float model = 0;
};

// A centre takes one of the 101 fractions of its cell's width, so a column of cells has 101
// possible centre longitudes: where a column has more rows than that, working each of them out
// once is cheaper than working out each centre's. (The same table of latitudes for a row would
// be as large as 101 rows and miss the cache on every lookup.)
constexpr std::size_t WorthATable = std::tuple_size_v<Fractions>;

// The cell rows of one tile: their edge latitudes, and every distinct corner latitude (a
// corner row shared by two neighbouring cells is one entry when both put it on the same
// latitude).
struct RowTable {
  void Prepare(const TileGrid& g, const TSRTM& tile, const ModelScale& scale) {
    grid = g;
    const auto rows = static_cast<std::size_t>(g.Rows);
    southLat.resize(rows);
    southIndex.resize(rows);
    northIndex.resize(rows);
    lats.clear();
    const auto distinct = [this](long double lat) {
      if (lats.empty() || lats.back() != lat) lats.push_back(lat);
      return static_cast<std::uint32_t>(lats.size() - 1);
    };
    for (std::size_t r = 0; r < rows; ++r) {
      southLat[r] = g.RowSouth(static_cast<std::int64_t>(r));
      southIndex[r] = distinct(southLat[r]);
      northIndex[r] = distinct(southLat[r] + g.CellHeight);
    }
    corners.resize(lats.size());
    for (std::size_t i = 0; i < lats.size(); ++i) {
      corners[i] = {tile.LatPosition(lats[i]), scale.Y(lats[i])};
    }
  }

  // The centre latitude of a cell in row r at fraction fv of its height.
  AxisPoint Centre(const TSRTM& tile, const ModelScale& scale, std::size_t r,
                   long double fv) const noexcept {
    const long double lat = southLat[r] + fv * grid.CellHeight;
    return {tile.LatPosition(lat), scale.Y(lat)};
  }

  TileGrid grid{};
  std::vector<long double> southLat;
  std::vector<std::uint32_t> southIndex;
  std::vector<std::uint32_t> northIndex;
  std::vector<long double> lats;   // south to north
  std::vector<AxisPoint> corners;  // of lats
};

// What a tile's bands are meshed from; it stays put while any of them is in flight.
struct TileJob {
  const TSRTM* tile = nullptr;
  const RowTable* rows = nullptr;
};

// Neighbouring columns of one tile: their centre draws in, their records out.
struct Band {
  std::int64_t firstColumn = 0;
  std::int64_t columns = 0;
  std::vector<std::uint8_t> draws;  // two a cell (fu, fv), in cell order
  std::unique_ptr<unsigned char[]> records;
  std::size_t capacity = 0;  // in faces
  std::size_t faces = 0;
  bool done = false;
};

inline void PutFace(unsigned char*& out, const Vec3& a, const Vec3& b, const Vec3& c) noexcept {
  TSTLFace face{{}, a, b, c};
  face.ComputeDerived();
  EncodeStlRecord(face, out);
  out += 50;
}

// Turns the cells of a band into records. The tile is looked up row by row across the band,
// so that neighbouring lookups share the tile's cache lines (a column walk would touch a new
// row of samples, a new page, at every step); the faces then go out column by column. A
// corner longitude shared by two neighbouring columns is looked up once, when both columns
// put it on the same longitude.
class BandMesher {
 public:
  BandMesher(const ModelScale& scale, const Fractions& fractions)
      : scale_(scale), fractions_(fractions) {}

  // Room for bands of up to columns columns of a tile; before its bands, never while one is
  // meshed, so that meshing never allocates.
  void Prepare(const RowTable& rows, std::size_t columns) {
    westLon_.resize(columns);
    westIndex_.resize(columns);
    eastIndex_.resize(columns);
    lons_.resize(2 * columns);
    corners_.resize(2 * columns);
    zs_.resize(2 * columns * rows.lats.size());
    centres_.resize(columns * rows.southLat.size());
    const bool table = rows.southLat.size() >= WorthATable;
    centreLons_.resize(table ? columns * fractions_.size() : 0);
  }

  void Mesh(const TileJob& job, Band& band) noexcept {
    const TSRTM& tile = *job.tile;
    const RowTable& rows = *job.rows;
    const TileGrid& g = rows.grid;
    const auto columns = static_cast<std::size_t>(band.columns);
    const std::size_t cellRows = rows.southLat.size();
    const std::size_t lats = rows.lats.size();
    const std::size_t kinds = fractions_.size();

    std::size_t lons = 0;
    const auto distinct = [&](long double lon) {
      if (lons == 0 || lons_[lons - 1] != lon) lons_[lons++] = lon;
      return static_cast<std::uint32_t>(lons - 1);
    };
    for (std::size_t j = 0; j < columns; ++j) {
      const long double lonW = g.ColumnWest(band.firstColumn + static_cast<std::int64_t>(j));
      westLon_[j] = lonW;
      westIndex_[j] = distinct(lonW);
      eastIndex_[j] = distinct(lonW + g.CellWidth);
    }
    for (std::size_t k = 0; k < lons; ++k) {
      corners_[k] = {tile.LonPosition(lons_[k]), scale_.X(lons_[k])};
    }
    if (!centreLons_.empty()) {
      for (std::size_t j = 0; j < columns; ++j) {
        for (std::size_t k = 0; k < kinds; ++k) {
          centreLons_[j * kinds + k] = CentreLon(tile, g, westLon_[j], fractions_[k]);
        }
      }
    }

    for (std::size_t i = 0; i < lats; ++i) {
      for (std::size_t k = 0; k < lons; ++k) {
        zs_[k * lats + i] =
            scale_.Z(tile.ElevationOf(corners_[k].position, rows.corners[i].position));
      }
    }
    for (std::size_t r = 0; r < cellRows; ++r) {
      for (std::size_t j = 0; j < columns; ++j) {
        const std::size_t cell = j * cellRows + r;
        const std::uint8_t fu = band.draws[2 * cell];
        const std::uint8_t fv = band.draws[2 * cell + 1];
        const AxisPoint lon = centreLons_.empty() ? CentreLon(tile, g, westLon_[j], fractions_[fu])
                                                  : centreLons_[j * kinds + fu];
        const AxisPoint lat = rows.Centre(tile, scale_, r, fractions_[fv]);
        centres_[cell] =
            MakeVec(lon.model, lat.model, scale_.Z(tile.ElevationOf(lon.position, lat.position)));
      }
    }

    unsigned char* out = band.records.get();
    for (std::size_t j = 0; j < columns; ++j) {
      const float xW = corners_[westIndex_[j]].model;
      const float xE = corners_[eastIndex_[j]].model;
      const float* zW = &zs_[westIndex_[j] * lats];
      const float* zE = &zs_[eastIndex_[j] * lats];
      for (std::size_t r = 0; r < cellRows; ++r) {
        const Vec3& c = centres_[j * cellRows + r];
        const std::uint32_t s = rows.southIndex[r];
        const std::uint32_t n = rows.northIndex[r];
        const Vec3 nw = MakeVec(xW, rows.corners[n].model, zW[n]);
        const Vec3 sw = MakeVec(xW, rows.corners[s].model, zW[s]);
        const Vec3 se = MakeVec(xE, rows.corners[s].model, zE[s]);
        const Vec3 ne = MakeVec(xE, rows.corners[n].model, zE[n]);
        // Corners run counter-clockwise seen from above, so every normal points up.
        if (nw.z == sw.z && nw.z == se.z && nw.z == ne.z && nw.z == c.z) {
          PutFace(out, nw, sw, ne);
          PutFace(out, sw, se, ne);
        } else {
          PutFace(out, nw, sw, c);
          PutFace(out, sw, se, c);
          PutFace(out, se, ne, c);
          PutFace(out, ne, nw, c);
        }
      }
    }
    band.faces = static_cast<std::size_t>(out - band.records.get()) / 50;
  }

 private:
  // The centre longitude of a cell whose west edge is at lonW, at fraction fu of its width.
  AxisPoint CentreLon(const TSRTM& tile, const TileGrid& g, long double lonW,
                      long double fu) const noexcept {
    const long double lon = lonW + fu * g.CellWidth;
    return {tile.LonPosition(lon), scale_.X(lon)};
  }

  const ModelScale& scale_;
  const Fractions& fractions_;
  std::vector<long double> westLon_;  // of each column
  std::vector<std::uint32_t> westIndex_;
  std::vector<std::uint32_t> eastIndex_;
  std::vector<long double> lons_;      // every distinct corner longitude, west to east
  std::vector<AxisPoint> corners_;     // of lons_
  std::vector<float> zs_;              // corner heights, longitude by longitude, south to north
  std::vector<AxisPoint> centreLons_;  // column by column, fraction by fraction, when worth it
  std::vector<Vec3> centres_;          // cell by cell, in file order
};

// Meshes tiles band by band into the file. The calling thread draws each band's centre
// fractions in cell order, hands the band to a worker and writes finished bands in order, so
// the bytes are the same with any number of threads; with one, it meshes the bands itself.
// A few bands of bounded size circulate, so memory does not grow with the region.
class BandPipeline {
 public:
  BandPipeline(unsigned threads, const ModelScale& scale, CentreFractions& fractions,
               StlFileWriter& sink)
      : scale_(scale),
        fractions_(fractions),
        sink_(sink),
        bands_(threads > 1 ? 2 * threads + 1 : 1) {
    for (Band& band : bands_) free_.push_back(&band);
    meshers_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) meshers_.emplace_back(scale, fractions.Values());
    if (threads > 1) {
      workers_.reserve(threads);
      for (std::size_t i = 0; i < threads; ++i) {
        workers_.emplace_back([this, i](std::stop_token stop) { Work(stop, meshers_[i]); });
      }
    }
  }

  // Every cell of grid, column by column; afterColumn(rows) once a column is in the file, on
  // the calling thread.
  template <typename AfterColumn>
  void MeshTile(const TileGrid& grid, const TSRTM& tile, AfterColumn&& afterColumn) {
    rows_.Prepare(grid, tile, scale_);
    job_ = {&tile, &rows_};
    const auto rows = static_cast<std::size_t>(grid.Rows);
    const std::int64_t perBand = std::min(
        grid.Columns, static_cast<std::int64_t>(std::max<std::size_t>(1, BandCells / rows)));
    for (BandMesher& mesher : meshers_) mesher.Prepare(rows_, static_cast<std::size_t>(perBand));
    std::int64_t next = 0;
    while (next < grid.Columns || !inFlight_.empty()) {
      while (next < grid.Columns && !free_.empty()) {
        Band& band = *free_.back();
        free_.pop_back();
        band.firstColumn = next;
        band.columns = std::min(perBand, grid.Columns - next);
        next += band.columns;
        Start(band, static_cast<std::size_t>(band.columns) * rows);
        inFlight_.push_back(&band);
      }
      Band& band = *inFlight_.front();
      WaitFor(band);
      inFlight_.pop_front();
      sink_.AddRecords(band.records.get(), band.faces);
      free_.push_back(&band);
      for (std::int64_t q = 0; q < band.columns; ++q) afterColumn(rows);
    }
  }

 private:
  // Cells a band holds at most (one column may hold more): 2 MB of records at four faces a cell.
  static constexpr std::size_t BandCells = 10000;

  void Start(Band& band, std::size_t cells) {
    band.draws.resize(2 * cells);
    for (std::uint8_t& draw : band.draws) draw = fractions_.Next();
    if (band.capacity < 4 * cells) {
      band.records.reset();
      band.records = std::make_unique_for_overwrite<unsigned char[]>(50 * 4 * cells);
      band.capacity = 4 * cells;
    }
    if (workers_.empty()) {
      meshers_.front().Mesh(job_, band);
      band.done = true;
      return;
    }
    {
      const std::lock_guard lock(mutex_);
      band.done = false;
      queue_.push_back(&band);
    }
    queued_.notify_one();
  }

  void WaitFor(const Band& band) {
    if (workers_.empty()) return;
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return band.done; });
  }

  void Work(const std::stop_token& stop, BandMesher& mesher) {
    std::unique_lock lock(mutex_);
    for (;;) {
      queued_.wait(lock, stop, [this] { return !queue_.empty(); });
      if (stop.stop_requested()) return;
      Band& band = *queue_.front();
      queue_.pop_front();
      const TileJob job = job_;
      lock.unlock();
      mesher.Mesh(job, band);
      lock.lock();
      band.done = true;
      finished_.notify_all();
    }
  }

  const ModelScale& scale_;
  CentreFractions& fractions_;
  StlFileWriter& sink_;
  RowTable rows_;
  TileJob job_;
  std::vector<Band> bands_;
  std::vector<Band*> free_;
  std::deque<Band*> inFlight_;       // handed out, in file order
  std::vector<BandMesher> meshers_;  // one a thread
  std::mutex mutex_;
  std::condition_variable_any queued_;
  std::condition_variable finished_;
  std::deque<Band*> queue_;            // waiting for a worker
  std::vector<std::jthread> workers_;  // last: stopped and joined before all they use goes
};

// The outline of a tile's piece for a closed solid, vertex for vertex as the band meshers make
// the cells' corners (the same edges of the grid, the same lookups, the same scale), so that
// the closure meets the surface to the byte. heightAt(lon, lat) gives a corner's z.
template <typename HeightAt>
PieceOutline OutlineOf(const TileGrid& g, const ModelScale& scale, HeightAt&& heightAt) {
  // The east edge of the last column is that column's west edge and one cell width, as the
  // meshers have it, not the west edge of a column beyond the grid.
  const auto lon = [&](std::int64_t q) {
    return q < g.Columns ? g.ColumnWest(q) : g.ColumnWest(q - 1) + g.CellWidth;
  };
  const auto lat = [&](std::int64_t r) {
    return r < g.Rows ? g.RowSouth(r) : g.RowSouth(r - 1) + g.CellHeight;
  };
  const auto vertex = [&](long double lo, long double la) {
    return MakeVec(scale.X(lo), scale.Y(la), heightAt(lo, la));
  };
  PieceOutline o;
  const auto columns = static_cast<std::size_t>(g.Columns);
  const auto rows = static_cast<std::size_t>(g.Rows);
  o.South.reserve(columns + 1);
  o.North.reserve(columns + 1);
  o.West.reserve(rows + 1);
  o.East.reserve(rows + 1);
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
  ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
    plannedCells += GridInTile(s, gridStep, lon, lat).Cells();
  });

  CentreFractions fractions(RunSeed(options));
  StlFileWriter sink(s.StlFileName);
  // The closed solid keeps each tile's outline while the tile is loaded; its faces follow the
  // surface's.
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

  BandPipeline pipeline(MeshingThreads(options), scale, fractions, sink);
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
    // A solid leaves out the faces of a piece of no area, which would be lines in its shell,
    // but not their draws: every cell after them keeps its centre.
    const auto height = [&](long double lo, long double la) {
      return scale.Z(tile.ElevationOf(tile.LonPosition(lo), tile.LatPosition(la)));
    };
    if (solid && !solid->AddSurface(lon, lat, OutlineOf(grid, scale, height))) {
      fractions.SkipCells(grid.Cells());
      cellsDone += grid.Cells();
      host.ReportProgress(cellsDone, plannedCells);
      return;
    }
    pipeline.MeshTile(grid, tile, [&](std::uint64_t cells) {
      cellsDone += cells;
      host.ReportProgress(cellsDone, plannedCells);
    });
  });

  if (solid) {
    solid->Close([&](const Vec3& a, const Vec3& b, const Vec3& c) { sink.AddFace(a, b, c); });
  }
  host.AppendLine("Topography generation completed");
  host.AppendLine(
      FormatText(sep, "Elevation in SRTM files ranged from %d  to  %d m", {runLowest, runHighest}));
  host.AppendLine(
      FormatText(sep, "%d Faces created, now saving to %s ...", {sink.Count(), s.StlFileName}));
  sink.Finish();
  host.AppendLine("File has been saved");
  return RunOutcome::Completed;
}

}  // namespace orolith
